// The command-line start every program of the system shares (docs/tools.md):
//
//   -h/--help    the usage (the program's manual) on standard output, exit 0
//   --version    "NAME VERSION" on standard output, exit 0 (-V too)
//                both before anything else is looked at, the device included
//   --device DIR (or --device=DIR) taken out of argv and applied; the device is then
//                checked as the program, or its command, needs it, without creating or
//                changing anything (the work that follows makes a missing device)
//
// Usage errors print "NAME: what is wrong (try --help)" on standard error and exit 2;
// failures print "NAME: what failed: REASON" with the system's reason and exit 1 (or a
// code of the program's own, 3 to 125). "-" names standard input or output wherever a
// file is read or written.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// Exit codes every program shares; a program adds its own from 3 to 125 and lists all of
// them in its --help.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// What a program (or one of its commands) needs from the device directory.
enum class DeviceUse {
  kNone,      // no device: --device is not one of the program's options
  kOptional,  // used when one is named (--device or VYRA_DEVICE); then it must exist
  kExisting,  // must be named and exist: read-only work never makes a device
  kCreate,    // must be named; when missing, the work makes it (a fresh directory is a
              // factory-new handset), so it must be a writable directory or creatable
};

struct ToolSpec {
  const char* name;   // "vyra-reg": the first word of every message
  const char* usage;  // the whole --help text
  DeviceUse device = DeviceUse::kNone;
  // For programs whose commands differ (vyra-reg list reads, set writes): the use for the
  // command word, the first argument left after --device (NULL when there is none). An
  // unknown command should answer kNone, so that the program reports it as bad usage.
  DeviceUse (*device_for_command)(const char* command) = nullptr;
  // Looks at the arguments left after --device before the device is checked, so that a
  // usage error is reported as one whatever the device: kToolContinue, or the exit code
  // after the message.
  int (*check_usage)(int argc, char** argv) = nullptr;
};

constexpr int kToolContinue = -1;

// kToolContinue when the program should go on with the remaining arguments (argv[1]...),
// else the exit code to return at once: 0 after --help or --version, 2 after a usage
// error, 1 when the device cannot serve (the message names it and the system's reason:
// "NAME: device DIR: Not a directory", "NAME: cannot create device DIR: Permission
// denied").
int tool_start(const ToolSpec& program, int& argc, char** argv);

// The device check of tool_start on its own, for a program that decides late what it
// needs. kToolContinue or the exit code (after the message).
int tool_check_device(const char* name, DeviceUse use);

// The earlier form, still used by vyrad and vyra-sim until they move to ToolSpec: --help
// anywhere, --device taken out, a device must be named (nothing else is checked).
int tool_start(const char* name, const char* usage, int& argc, char** argv);

// Prints "NAME: message (try --help)" on standard error and returns 2 (bad usage).
int tool_usage_error(const char* name, const std::string& message);

// The single FILE operand of a filter (vyra-xml, vyra-wbxml): takes arg into *path, or
// reports an unknown option (before "--" ended the options) or a second file as bad usage.
// kToolContinue, or the exit code after the message.
int tool_take_file_operand(const char* name, const char* arg, bool options_ended, const char** path);

// Prints "NAME: message" on standard error and returns 1 (failure).
int tool_failure(const char* name, const std::string& message);

// Reads a whole file, or standard input for "-", into *data (at most max_bytes). On
// failure prints "NAME: cannot read PATH: REASON" (the system's reason, "Is a directory",
// or "larger than N bytes") on standard error and returns false.
bool tool_read_input(const char* name, const std::string& path, std::string* data, size_t max_bytes);

// Writes data to a file (created or truncated), or standard output for "-". On failure
// prints "NAME: cannot write PATH: REASON" and returns false.
bool tool_write_output(const char* name, const std::string& path, const std::string& data);

}  // namespace plat
