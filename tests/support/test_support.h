// Helpers shared by the test programs: a private device directory per test, running the
// project's programs as real processes, and small file utilities.
#pragma once

#include <string>
#include <vector>

namespace vyra_test {

// A fresh device directory under $TMPDIR, made the process's device for its lifetime
// (VYRA_DEVICE is set too, so child processes use it). Removed on destruction.
class TempDevice {
 public:
  TempDevice();
  ~TempDevice();
  TempDevice(const TempDevice&) = delete;
  TempDevice& operator=(const TempDevice&) = delete;
  const std::string& root() const { return root_; }
  // Host path of a file below the device's fs/ ("Program Files/vyra/vyralog.txt").
  std::string fs(const std::string& relative) const { return root_ + "/fs/" + relative; }

 private:
  std::string root_;
};

struct RunResult {
  int exit_code = -1;  // -1 when the program could not be started or was killed
  std::string out;
  std::string err;
};

// Runs a program (argv[0] is a path), waits for it, captures both outputs. stdin is
// /dev/null unless input is given.
RunResult run(const std::vector<std::string>& argv, const std::string& input = {});

// Path of a program built by the project (build/bin/NAME).
std::string bin(const std::string& name);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& data);
bool file_exists(const std::string& path);

}  // namespace vyra_test
