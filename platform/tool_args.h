// The command-line start shared by the device tools (vyra-reg, vyra-sim, vyra-modem,
// vyrad): --help / -h anywhere prints the usage, --device DIR (or --device=DIR) is taken
// out of argv and applied, and a device must be named by it or by VYRA_DEVICE.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

constexpr int kToolContinue = -1;

// kToolContinue when the program should go on with the remaining arguments (argv[1]...),
// else the exit code to return at once: 0 after --help, 2 after a one-line
// "NAME: why (try --help)" on standard error.
int tool_start(const char* name, const char* usage, int& argc, char** argv);

// Prints "NAME: message (try --help)" on standard error and returns 2 (bad usage).
int tool_usage_error(const char* name, const char* message);

// Reads a whole file, or standard input for "-", into *data (at most max_bytes). On
// failure prints "NAME: cannot read PATH: REASON" (the system's reason, "Is a directory",
// or "larger than N bytes") on standard error and returns false.
bool tool_read_input(const char* name, const std::string& path, std::string* data, size_t max_bytes);

// Writes data to a file (created or truncated), or standard output for "-". On failure
// prints "NAME: cannot write PATH: REASON" and returns false.
bool tool_write_output(const char* name, const std::string& path, const std::string& data);

}  // namespace plat
