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

// A line break cannot stand inside a quoted string of a line-based format: such a string
// is written as "hex(1):" (its UTF-16LE bytes and the terminator), as regedit does.
bool needs_hex(std::u16string_view text) {
  for (char16_t ch : text)
    if (ch == u'\n' || ch == u'\r') return true;
  return false;
}

void append_hex(const uint8_t* bytes, size_t size, std::string* out) {
  for (size_t i = 0; i < size; ++i) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%s%02x", i ? "," : "", bytes[i]);
    *out += buf;
  }
}

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
  if (header) *out += "REGEDIT4\n";
  for (RegRoot root : roots) {
    std::vector<RegValue> values;
    int rc = reg_list(root, key, &values);
    if (rc == kRegNotFound && roots.size() > 1) continue;
    if (rc != kRegOk) return rc;
    const std::u16string* current = nullptr;
    for (const RegValue& v : values) {
      if (current == nullptr || *current != v.key) {
        *out += "\n[" + std::string(reg_root_name(root)) + "\\" + utf16_to_utf8(v.key) + "]\n";
        current = &v.key;
      }
      *out += value_name(v.name) + "=";
      if (v.type == kRegDword) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
        *out += buf;
      } else if (v.type == kRegSz && !needs_hex(v.sz)) {
        *out += quote(v.sz);
      } else if (v.type == kRegSz) {
        std::vector<uint8_t> bytes;
        for (char16_t ch : v.sz) {
          bytes.push_back(static_cast<uint8_t>(ch & 0xFF));
          bytes.push_back(static_cast<uint8_t>(ch >> 8));
        }
        bytes.insert(bytes.end(), {0, 0});
        *out += "hex(1):";
        append_hex(bytes.data(), bytes.size(), out);
      } else {
        *out += "hex:";
        append_hex(v.binary.data(), v.binary.size(), out);
      }
      *out += "\n";
    }
  }
  return kRegOk;
}

bool reg_parse_text(std::string_view text, std::vector<RegChange>* changes, std::string* error) {
  changes->clear();
  bool have_key = false;
  RegRoot root = RegRoot::HKLM;
  std::u16string key;
  size_t line_no = 0;
  size_t pos = 0;
  bool saw_header = false;
  auto bad = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(line_no) + ": " + why;
    changes->clear();
    return false;
  };
  // Text of the file, UTF-8 only: a byte that is not would be stored as U+FFFD.
  auto wide = [](const std::string& utf8, std::u16string* out) {
    bool invalid = false;
    *out = utf8_to_utf16(utf8, &invalid);
    return !invalid;
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
    if (line_no == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // BOM
    if (line.empty() || line[0] == ';') continue;
    if (!saw_header) {
      if (line != "REGEDIT4" && line != "Windows Registry Editor Version 5.00") return bad("expected REGEDIT4");
      saw_header = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']') return bad("unterminated key");
      bool remove = line.size() > 2 && line[1] == '-';
      std::string full = line.substr(remove ? 2 : 1, line.size() - (remove ? 3 : 2));
      size_t slash = full.find('\\');
      std::string root_text = full.substr(0, slash);
      if (!reg_parse_root(root_text, &root)) return bad("unknown root '" + root_text + "'");
      if (!wide(slash == std::string::npos ? std::string() : full.substr(slash + 1), &key)) return bad("key is not UTF-8");
      if (remove) {
        // [-KEY] deletes the key; the values that follow it have no key to go to.
        if (key.empty()) return bad("a root cannot be deleted");
        RegChange c{RegChange::kDeleteKey, root, key, {}, {}, 0, {}};
        changes->push_back(std::move(c));
        have_key = false;
        continue;
      }
      have_key = true;
      continue;
    }
    if (!have_key) return bad("value before any [key]");
    RegChange e{RegChange::kSz, root, key, {}, {}, 0, {}};
    size_t p = 0;
    std::string name;
    if (line[0] == '@') {
      p = 1;
    } else if (line[0] == '"') {
      if (!read_quoted(line, p, &name)) return bad("unterminated value name");
    } else {
      return bad("expected \"name\"=value");
    }
    if (!wide(name, &e.name)) return bad("value name is not UTF-8");
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    if (p >= line.size() || line[p] != '=') return bad("expected '='");
    std::string rest = trim(std::string_view(line).substr(p + 1));
    if (rest == "-") {
      e.kind = RegChange::kDeleteValue;
    } else if (!rest.empty() && rest[0] == '"') {
      size_t q = 0;
      std::string value;
      if (!read_quoted(rest, q, &value)) return bad("unterminated string");
      if (trim(std::string_view(rest).substr(q)) != "") return bad("text after string");
      e.kind = RegChange::kSz;
      if (!wide(value, &e.sz)) return bad("string is not UTF-8");
    } else if (rest.rfind("dword:", 0) == 0) {
      std::string digits = rest.substr(6);
      char* endp = nullptr;
      if (digits.empty() || digits.size() > 8) return bad("dword needs 1 to 8 hex digits");
      unsigned long v = std::strtoul(digits.c_str(), &endp, 16);
      if (*endp != '\0' || digits.find_first_of("+- ") != std::string::npos) return bad("bad dword '" + digits + "'");
      e.kind = RegChange::kDword;
      e.dword = static_cast<uint32_t>(v);
    } else if (rest.rfind("hex:", 0) == 0) {
      e.kind = RegChange::kBinary;
      if (!parse_hex_list(std::string_view(rest).substr(4), &e.binary)) return bad("bad hex list");
    } else if (rest.rfind("hex(1):", 0) == 0) {
      // A string as UTF-16LE bytes, its terminator optional.
      std::vector<uint8_t> bytes;
      if (!parse_hex_list(std::string_view(rest).substr(7), &bytes) || bytes.size() % 2 != 0)
        return bad("bad hex(1) list");
      e.kind = RegChange::kSz;
      for (size_t i = 0; i < bytes.size(); i += 2) e.sz.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
      if (!e.sz.empty() && e.sz.back() == u'\0') e.sz.pop_back();
    } else {
      return bad("unsupported value '" + rest.substr(0, 20) + "'");
    }
    changes->push_back(std::move(e));
  }
  if (!saw_header) {
    line_no = 1;
    return bad("expected REGEDIT4");
  }
  return true;
}

int reg_import_text(std::string_view text, std::string* error) {
  std::vector<RegChange> changes;
  if (!reg_parse_text(text, &changes, error)) return kRegBadArgument;
  for (const RegChange& c : changes) {
    int rc = kRegOk;
    switch (c.kind) {
      case RegChange::kSz: rc = reg_set_sz(c.root, c.key, c.name, c.sz); break;
      case RegChange::kDword: rc = reg_set_dword(c.root, c.key, c.name, c.dword); break;
      case RegChange::kBinary: rc = reg_set_binary(c.root, c.key, c.name, c.binary.data(), c.binary.size()); break;
      case RegChange::kDeleteValue: rc = reg_delete_value(c.root, c.key, c.name); break;
      case RegChange::kDeleteKey: rc = reg_delete_key(c.root, c.key); break;
    }
    if (rc == kRegNotFound && (c.kind == RegChange::kDeleteValue || c.kind == RegChange::kDeleteKey)) rc = kRegOk;
    if (rc != kRegOk) {
      if (error) *error = reg_last_error();
      return rc;
    }
  }
  return kRegOk;
}

}  // namespace plat
