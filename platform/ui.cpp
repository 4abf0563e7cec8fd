#include "ui.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include <cctype>
#include <iostream>

#include "paths.h"
#include "registry.h"
#include "text.h"

namespace plat {

std::string json_quote(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out += '"';
  return out;
}

void ui_journal(std::string_view kind, std::initializer_list<std::pair<std::string_view, std::string_view>> fields) {
  std::string line = "{\"kind\":" + json_quote(kind);
  for (const auto& [name, value] : fields) line += "," + json_quote(name) + ":" + json_quote(value);
  line += "}\n";
  std::string path = run_path("ui.journal");
  if (path.empty()) return;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0664);
  if (fd < 0) return;
  ssize_t ignored = write(fd, line.data(), line.size());
  (void)ignored;
  close(fd);
}

void ui_message_box(std::u16string_view text, std::u16string_view caption) {
  std::string t = utf16_to_utf8(text);
  std::string c = utf16_to_utf8(caption);
  ui_journal("message_box", {{"caption", c}, {"text", t}});
  std::fprintf(stderr, "[%s] %s\n", c.c_str(), t.c_str());
}

}  // namespace plat

namespace plat {

bool ui_shell_start(std::u16string_view item, std::u16string_view parameters) {
  std::string i = utf16_to_utf8(item);
  std::string p = utf16_to_utf8(parameters);
  ui_journal("shell_start", {{"item", i}, {"parameters", p}});
  std::fprintf(stderr, "[shell] %s %s\n", i.c_str(), p.c_str());
  return true;
}

void ui_window_text(std::u16string_view text) {
  std::string t = utf16_to_utf8(text);
  ui_journal("window_text", {{"text", t}});
  std::fprintf(stderr, "[window] %s\n", t.c_str());
}

namespace {

// "yes"/"no" in any case, blanks around ignored; anything else is not an answer.
int parse_answer(std::string text) {
  size_t a = text.find_first_not_of(" \t\r\n");
  size_t b = text.find_last_not_of(" \t\r\n");
  text = a == std::string::npos ? std::string() : text.substr(a, b - a + 1);
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (text == "yes" || text == "y") return 1;
  if (text == "no" || text == "n") return 0;
  return -1;
}

}  // namespace

bool ui_ask_yes_no(std::u16string_view text, std::u16string_view caption) {
  std::string t = utf16_to_utf8(text);
  std::string c = utf16_to_utf8(caption);
  bool yes = false;
  std::string source;
  if (isatty(STDIN_FILENO)) {
    source = "terminal";
    for (;;) {
      std::fprintf(stderr, "[%s] %s (yes/no) ", c.c_str(), t.c_str());
      std::string line;
      if (!std::getline(std::cin, line)) break;  // end of input: the safe answer
      int answer = parse_answer(line);
      if (answer >= 0) {
        yes = answer == 1;
        break;
      }
    }
  } else {
    source = "registry";
    std::u16string setting;
    if (reg_get_sz(RegRoot::HKLM, u"Software\\VYRA\\Simulator", u"AnswerYesNo", &setting) == kRegOk)
      yes = parse_answer(utf16_to_utf8(setting)) == 1;
    std::fprintf(stderr, "[%s] %s (yes/no) -> %s\n", c.c_str(), t.c_str(), yes ? "yes" : "no");
  }
  ui_journal("yes_no", {{"caption", c}, {"text", t}, {"answer", yes ? "yes" : "no"}, {"source", source}});
  return yes;
}

// ---------------------------------------------------------------------------------------
// Notification bubbles and the device reset

void ui_bubble_show(const Bubble& b) {
  std::string title = utf16_to_utf8(b.title);
  std::string html = utf16_to_utf8(b.html);
  std::string soft_key = utf16_to_utf8(b.soft_key);
  char flags[16];
  std::snprintf(flags, sizeof flags, "0x%X", b.flags);
  std::string command = b.soft_key.empty() ? std::string() : std::to_string(b.soft_key_command);
  ui_journal("bubble_show", {{"id", std::to_string(b.id)},
                             {"class", utf16_to_utf8(b.class_id)},
                             {"title", title},
                             {"icon", std::to_string(b.icon)},
                             {"flags", flags},
                             {"priority", std::to_string(b.priority)},
                             {"soft_key", soft_key},
                             {"soft_key_command", command},
                             {"html", html},
                             {"duration", std::to_string(b.duration_s)}});
  std::fprintf(stderr, "[bubble %u] %s: %s\n", b.id, title.c_str(), html.c_str());
}

void ui_bubble_remove(uint32_t id, std::u16string_view class_id) {
  ui_journal("bubble_remove", {{"id", std::to_string(id)}, {"class", utf16_to_utf8(class_id)}});
  std::fprintf(stderr, "[bubble %u] removed\n", id);
}

namespace {
constexpr char16_t kSimulatorKey[] = u"Software\\VYRA\\Simulator";
}  // namespace

uint32_t ui_reset_count() {
  uint32_t count = 0;
  if (reg_get_dword(RegRoot::HKLM, kSimulatorKey, u"ResetCount", &count) != kRegOk) return 0;
  return count;
}

void ui_device_reset(uint32_t control_code) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", control_code);
  ui_journal("device_reset", {{"control_code", code}});
  reg_set_dword(RegRoot::HKLM, kSimulatorKey, u"ResetCount", ui_reset_count() + 1);
  std::fprintf(stderr, "[device] reset (%s)\n", code);
}

}  // namespace plat
