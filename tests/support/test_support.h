// Helpers shared by the test programs: a private device directory per test, running the
// project's programs as real processes, and small file utilities.
#pragma once

#include <functional>
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

// Scripts on a private PATH, standing in for desktop tools: each made by tool() appends
// "NAME ARGS..." to DIR/calls.txt, then runs a shell line. PATH is put back on destruction.
class FakeTools {
 public:
  explicit FakeTools(std::string dir);  // scripts go to DIR/tools
  ~FakeTools();
  FakeTools(const FakeTools&) = delete;
  FakeTools& operator=(const FakeTools&) = delete;
  void tool(const std::string& name, const std::string& then = "exit 0") const;

 private:
  std::string dir_, saved_path_;
};

struct RunResult {
  int exit_code = -1;  // -1 when the program could not be started or was killed
  std::string out;
  std::string err;
};

// Runs a program (argv[0] is a path), waits for it, captures both outputs. stdin is
// /dev/null unless input is given.
RunResult run(const std::vector<std::string>& argv, const std::string& input = {});

// A program started in the background; killed (SIGKILL) on destruction if still running.
class Process {
 public:
  Process() = default;
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  // argv[0] is a path; standard output and error go to the files given ("" = inherit).
  bool start(const std::vector<std::string>& argv, const std::string& out_file = {},
             const std::string& err_file = {});
  // Exit code, or -1 when it did not end within timeout_ms (or died by a signal).
  int wait(int timeout_ms);
  bool running();
  void signal(int sig);
  int pid() const { return pid_; }

 private:
  int pid_ = -1;
  int status_ = -1;
};

// Polls until the predicate holds or timeout_ms passes; returns the last answer.
bool wait_until(int timeout_ms, const std::function<bool()>& predicate);

// Path of a program built by the project (build/bin/NAME).
std::string bin(const std::string& name);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& data);
bool file_exists(const std::string& path);

}  // namespace vyra_test
