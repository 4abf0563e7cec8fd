#include "ui.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "paths.h"
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
