// vyra-wsp: decodes WSP binary headers given as hexadecimal text (spaces allowed).
//
//   vyra-wsp --content-type HEX   print the decoded content type
//   vyra-wsp --headers HEX        print "Name: value" for each header field of the block
//
// Exit status: 0 decoded (for --headers: every field), 1 the bytes were refused (the
// content-type status or the offset where the walk stopped is printed to standard error),
// 2 bad usage or malformed hex.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/formats/common_utils.h"
#include "common/tracked_memory.h"

namespace {

int usage() {
  std::fputs("usage: vyra-wsp --content-type HEX | --headers HEX\n", stderr);
  return 2;
}

bool parse_hex(const char* text, std::vector<unsigned char>* out) {
  int high = -1;
  for (const char* p = text; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (std::isspace(c) || c == ':') continue;
    if (!std::isxdigit(c)) return false;
    int v = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
    if (high < 0) {
      high = v;
    } else {
      out->push_back(static_cast<unsigned char>(high << 4 | v));
      high = -1;
    }
  }
  return high < 0;
}

int show_content_type(const std::vector<unsigned char>& bytes) {
  char* text = nullptr;
  int status = 0;
  int used = decode_wsp_content_type(bytes.data(), static_cast<int>(bytes.size()), &text, &status);
  if (used < 0) {
    std::fprintf(stderr, "vyra-wsp: content type refused, status %d\n", status);
    return 1;
  }
  std::printf("%s\n", text);
  MEM_FREE(text);
  if (static_cast<size_t>(used) < bytes.size())
    std::fprintf(stderr, "vyra-wsp: %zu bytes after the content type\n", bytes.size() - static_cast<size_t>(used));
  return 0;
}

int show_headers(const std::vector<unsigned char>& bytes) {
  int length = static_cast<int>(bytes.size());
  int offset = 0;
  while (offset < length) {
    int start = offset;
    char* name = decode_wsp_field_name(bytes.data(), length, &offset);
    if (name == nullptr) {
      std::fprintf(stderr, "vyra-wsp: no field name at offset %d\n", start);
      return 1;
    }
    char* value = decode_wsp_field_value(bytes.data(), length, &offset);
    if (value == nullptr) {
      std::fprintf(stderr, "vyra-wsp: no value for %s at offset %d\n", name, offset);
      MEM_FREE(name);
      return 1;
    }
    std::printf("%s: %s\n", name, value);
    MEM_FREE(name);
    MEM_FREE(value);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return usage();
  std::vector<unsigned char> bytes;
  if (!parse_hex(argv[2], &bytes) || bytes.empty() || bytes.size() > 0x7FFFFFFF) {
    std::fprintf(stderr, "vyra-wsp: not a hex byte string: %s\n", argv[2]);
    return 2;
  }
  if (std::strcmp(argv[1], "--content-type") == 0) return show_content_type(bytes);
  if (std::strcmp(argv[1], "--headers") == 0) return show_headers(bytes);
  return usage();
}
