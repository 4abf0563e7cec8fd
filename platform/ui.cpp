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

}  // namespace plat
