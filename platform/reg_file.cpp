#include "platform/reg_file.h"

#include <cstdio>
#include <cstdlib>

#include "platform/text.h"

namespace plat {
namespace {

std::string quote(std::u16string_view text) {
  std::string out = "\"";
  for (char c : utf16_to_utf8(text)) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string value_name(const std::u16string& name) { return name.empty() ? "@" : quote(name); }

struct Entry {
  RegRoot root;
  std::u16string key;
  std::u16string name;
  enum { kSz, kDword, kBinary, kDelete } kind;
  std::u16string sz;
  uint32_t dword = 0;
  std::vector<uint8_t> binary;
};

// Reads a quoted string at text[pos] (pos at the opening quote); returns false if unclosed.
bool read_quoted(std::string_view text, size_t& pos, std::string* out) {
  ++pos;
  while (pos < text.size()) {
    char c = text[pos++];
    if (c == '"') return true;
    if (c == '\\' && pos < text.size()) c = text[pos++];
    out->push_back(c);
  }
  return false;
}

bool parse_hex_list(std::string_view list, std::vector<uint8_t>* out) {
  size_t pos = 0;
  while (pos < list.size()) {
    while (pos < list.size() && (list[pos] == ' ' || list[pos] == '\t' || list[pos] == ',')) ++pos;
    if (pos >= list.size()) break;
    auto hex = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    if (pos + 1 >= list.size() + 1) return false;
    int hi = hex(list[pos]);
    int lo = pos + 1 < list.size() ? hex(list[pos + 1]) : -1;
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<uint8_t>(hi * 16 + lo));
    pos += 2;
    if (pos < list.size() && list[pos] != ',' && list[pos] != ' ' && list[pos] != '\t') return false;
  }
  return true;
}

std::string trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
  return std::string(s.substr(a, b - a));
}

}  // namespace

int reg_export_text(const std::vector<RegRoot>& roots, std::u16string_view key, std::string* out, bool header) {
  if (header) *out += "REGEDIT4\r\n";
  for (RegRoot root : roots) {
    std::vector<RegValue> values;
    int rc = reg_list(root, key, &values);
    if (rc == kRegNotFound && roots.size() > 1) continue;
    if (rc != kRegOk) return rc;
    const std::u16string* current = nullptr;
    for (const RegValue& v : values) {
      if (current == nullptr || *current != v.key) {
        *out += "\r\n[" + std::string(reg_root_name(root)) + "\\" + utf16_to_utf8(v.key) + "]\r\n";
        current = &v.key;
      }
      *out += value_name(v.name) + "=";
      if (v.type == kRegDword) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
        *out += buf;
      } else if (v.type == kRegSz) {
        *out += quote(v.sz);
      } else {
        *out += "hex:";
        for (size_t i = 0; i < v.binary.size(); ++i) {
          char buf[4];
          std::snprintf(buf, sizeof buf, "%s%02x", i ? "," : "", v.binary[i]);
          *out += buf;
        }
      }
      *out += "\r\n";
    }
  }
  return kRegOk;
}

int reg_import_text(std::string_view text, std::string* error) {
  std::vector<Entry> entries;
  bool have_key = false;
  RegRoot root = RegRoot::HKLM;
  std::u16string key;
  size_t line_no = 0;
  size_t pos = 0;
  bool saw_header = false;
  auto bad = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(line_no) + ": " + why;
    return kRegBadArgument;
  };
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++line_no;
    // Continuation lines of hex lists.
    while (!line.empty() && line.back() == '\\' && pos < text.size()) {
      line.pop_back();
      end = text.find('\n', pos);
      if (end == std::string_view::npos) end = text.size();
      line += trim(text.substr(pos, end - pos));
      pos = end + 1;
      ++line_no;
    }
    if (line_no == 1 && line.size() >= 3 && static_cast<unsigned char>(line[0]) == 0xEF) line.erase(0, 3);  // BOM
    if (line.empty() || line[0] == ';') continue;
    if (!saw_header) {
      if (line != "REGEDIT4" && line != "Windows Registry Editor Version 5.00") return bad("expected REGEDIT4");
      saw_header = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']') return bad("unterminated key");
      std::string full = line.substr(1, line.size() - 2);
      size_t slash = full.find('\\');
      std::string root_text = full.substr(0, slash);
      if (!reg_parse_root(root_text, &root)) return bad("unknown root '" + root_text + "'");
      key = utf8_to_utf16(slash == std::string::npos ? std::string() : full.substr(slash + 1));
      have_key = true;
      continue;
    }
    if (!have_key) return bad("value before any [key]");
    Entry e{root, key, {}, Entry::kSz, {}, 0, {}};
    size_t p = 0;
    std::string name;
    if (line[0] == '@') {
      p = 1;
    } else if (line[0] == '"') {
      if (!read_quoted(line, p, &name)) return bad("unterminated value name");
    } else {
      return bad("expected \"name\"=value");
    }
    e.name = utf8_to_utf16(name);
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    if (p >= line.size() || line[p] != '=') return bad("expected '='");
    std::string rest = trim(std::string_view(line).substr(p + 1));
    if (rest == "-") {
      e.kind = Entry::kDelete;
    } else if (!rest.empty() && rest[0] == '"') {
      size_t q = 0;
      std::string value;
      if (!read_quoted(rest, q, &value)) return bad("unterminated string");
      if (trim(std::string_view(rest).substr(q)) != "") return bad("text after string");
      e.kind = Entry::kSz;
      e.sz = utf8_to_utf16(value);
    } else if (rest.rfind("dword:", 0) == 0) {
      std::string digits = rest.substr(6);
      char* endp = nullptr;
      if (digits.empty() || digits.size() > 8) return bad("dword needs 1 to 8 hex digits");
      unsigned long v = std::strtoul(digits.c_str(), &endp, 16);
      if (*endp != '\0') return bad("bad dword '" + digits + "'");
      e.kind = Entry::kDword;
      e.dword = static_cast<uint32_t>(v);
    } else if (rest.rfind("hex:", 0) == 0) {
      e.kind = Entry::kBinary;
      if (!parse_hex_list(std::string_view(rest).substr(4), &e.binary)) return bad("bad hex list");
    } else {
      return bad("unsupported value '" + rest.substr(0, 20) + "'");
    }
    entries.push_back(std::move(e));
  }
  if (!saw_header) {
    line_no = 1;
    return bad("expected REGEDIT4");
  }
  for (const Entry& e : entries) {
    int rc = kRegOk;
    switch (e.kind) {
      case Entry::kSz: rc = reg_set_sz(e.root, e.key, e.name, e.sz); break;
      case Entry::kDword: rc = reg_set_dword(e.root, e.key, e.name, e.dword); break;
      case Entry::kBinary: rc = reg_set_binary(e.root, e.key, e.name, e.binary.data(), e.binary.size()); break;
      case Entry::kDelete:
        rc = reg_delete_value(e.root, e.key, e.name);
        if (rc == kRegNotFound) rc = kRegOk;
        break;
    }
    if (rc != kRegOk) {
      if (error) *error = reg_last_error();
      return rc;
    }
  }
  return kRegOk;
}

}  // namespace plat
