#include "mail.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "clock.h"
#include "text.h"
#include "ui.h"

extern char** environ;

namespace plat {

namespace {

// Whether an executable of this name is in one of the PATH directories.
bool on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string dirs = path;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = end > start ? dirs.substr(start, end - start) : ".";
    if (access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Runs argv (found on PATH) and waits up to kMailToolWaitMs for it: "exit N", "running"
// (left to run) or "not started".
std::string run_tool(const std::vector<std::string>& args, bool* ok) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    *ok = false;
    return "not started";
  }
  uint32_t waited = 0;
  constexpr uint32_t kStep = 10;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      *ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
      return "signal " + std::to_string(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    }
    if (done < 0 && errno != EINTR) {
      *ok = false;
      return "lost";
    }
    if (waited >= kMailToolWaitMs) {
      *ok = true;
      return "running";
    }
    sleep_ms(kStep);
    waited += kStep;
  }
}

}  // namespace

MailResult mail_compose(const MailCompose& request) {
  std::string message_class = utf16_to_utf8(request.message_class);
  if (request.size != sizeof(MailCompose) || message_class.empty()) {
    ui_journal("mail_compose", {{"class", message_class}, {"command", ""}, {"result", "bad request"}});
    std::fprintf(stderr, "[mail] refused: a request needs its size and a message class\n");
    return MailResult::kBadRequest;
  }
  // xdg-email without arguments composes "mailto:", a message without recipients.
  std::vector<std::string> command;
  if (on_path("xdg-email"))
    command = {"xdg-email"};
  else if (on_path("xdg-open"))
    command = {"xdg-open", "mailto:"};
  if (command.empty()) {
    ui_journal("mail_compose", {{"class", message_class}, {"command", ""}, {"result", "no mail tool"}});
    std::fprintf(stderr, "[mail] new message (%s): neither xdg-email nor xdg-open is installed\n",
                 message_class.c_str());
    return MailResult::kNoMailTool;
  }
  std::string shown = command[0] + (command.size() > 1 ? " " + command[1] : "");
  bool ok = false;
  std::string result = run_tool(command, &ok);
  ui_journal("mail_compose", {{"class", message_class}, {"command", shown}, {"result", result}});
  std::fprintf(stderr, "[mail] new message (%s) through %s: %s\n", message_class.c_str(), shown.c_str(),
               result.c_str());
  return ok ? MailResult::kOk : MailResult::kToolFailed;
}

}  // namespace plat
