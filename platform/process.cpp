#include "process.h"

#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "debug_output.h"
#include "registry.h"
#include "text.h"

namespace plat {

bool process_start(std::u16string_view device_program, std::u16string_view arguments) {
  std::string name = utf16_to_utf8(device_program);
  std::u16string target;
  if (reg_get_sz(RegRoot::HKLM, kProgramMapKey, device_program, &target) != kRegOk || target.empty()) {
    debug_printf("process_start: %s is not mapped, ignored\r\n", name.c_str());
    return false;
  }
  // Everything the child needs is prepared before fork: only exec and _exit run after it.
  std::vector<std::string> args{utf16_to_utf8(target)};
  std::string rest = utf16_to_utf8(arguments);
  size_t pos = 0;
  while (pos < rest.size()) {
    size_t end = rest.find(' ', pos);
    if (end == std::string::npos) end = rest.size();
    if (end > pos) args.push_back(rest.substr(pos, end - pos));
    pos = end + 1;
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return false;
  // Two forks: the middle child exits at once, so the program is re-parented and never
  // stays a zombie of ours. The pipe reports a failed exec back (it closes on success).
  pid_t middle = fork();
  if (middle < 0) {
    close(ready[0]);
    close(ready[1]);
    return false;
  }
  if (middle == 0) {
    close(ready[0]);
    pid_t program = fork();
    if (program == 0) {
      execv(argv[0], argv.data());
      char failed = 1;
      ssize_t ignored = write(ready[1], &failed, 1);
      (void)ignored;
      _exit(127);
    }
    _exit(program < 0 ? 1 : 0);
  }
  close(ready[1]);
  int status = 0;
  waitpid(middle, &status, 0);
  char failed = 0;
  ssize_t n = read(ready[0], &failed, 1);
  close(ready[0]);
  bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
  if (!ok) debug_printf("process_start: %s could not be started (%s)\r\n", name.c_str(), args[0].c_str());
  return ok;
}

}  // namespace plat
