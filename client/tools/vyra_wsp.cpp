// vyra-wsp: decodes WSP binary headers given as hexadecimal text. The usage text below is
// the manual.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/formats/common_utils.h"
#include "common/tracked_memory.h"
#include "platform/tool_args.h"

namespace {

constexpr const char* kName = "vyra-wsp";

constexpr const char* kUsage =
    "usage: vyra-wsp --content-type HEX\n"
    "       vyra-wsp --headers HEX\n"
    "Decodes WSP binary headers (the header block of a WAP push) as the client does. HEX is\n"
    "the bytes as hexadecimal text; spaces and ':' between them are allowed; - reads it\n"
    "from the standard input.\n"
    "\n"
    "Options:\n"
    "  --content-type HEX   print the decoded content type (\"media/type; Name=value\")\n"
    "  --headers HEX        print \"Name: value\" for each header field of the block\n"
    "  -h, --help           this text\n"
    "  --version            the version\n"
    "\n"
    "A refusal goes to the standard error: the content type's code and its meaning\n"
    "(\"vyra-wsp: content type refused: -15 unknown well-known content type, or out of\n"
    "memory\"), or the offset where the header walk stopped (the fields before it are\n"
    "printed).\n"
    "\n"
    "Exit status:\n"
    "  0  decoded (--headers: every field)\n"
    "  1  the bytes were refused, or the standard input cannot be read\n"
    "  2  bad usage or malformed hex\n"
    "\n"
    "Examples:\n"
    "  vyra-wsp --content-type 03AE81EA      # application/vnd.wap.sic; Charset=utf-8\n"
    "  vyra-wsp --headers 'AF 78 2D 61 00'   # X-Wap-Application-Id: x-a\n";

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
    return plat::tool_failure(kName, "content type refused: " + wsp_result_text(status));
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
  if (int rc = plat::tool_start(plat::ToolSpec{kName, kUsage}, argc, argv); rc != plat::kToolContinue) return rc;
  if (argc < 2) return plat::tool_usage_error(kName, "--content-type HEX or --headers HEX needed");
  std::string mode = argv[1];
  if (mode != "--content-type" && mode != "--headers") {
    if (mode.size() > 1 && mode[0] == '-') return plat::tool_usage_error(kName, "unknown option '" + mode + "'");
    return plat::tool_usage_error(kName, "--content-type HEX or --headers HEX needed, not '" + mode + "'");
  }
  if (argc < 3) return plat::tool_usage_error(kName, mode + " needs HEX");
  if (argc > 3) return plat::tool_usage_error(kName, "one HEX only, after " + mode);
  std::string hex = argv[2];
  if (hex == "-" && !plat::tool_read_input(kName, "-", &hex, 1 << 24)) return plat::kExitFailure;
  std::vector<unsigned char> bytes;
  if (hex.find('\0') != std::string::npos || !parse_hex(hex.c_str(), &bytes) || bytes.empty() ||
      bytes.size() > 0x7FFFFFFF)
    return plat::tool_usage_error(kName, "not a hex byte string: '" + hex + "'");
  if (mode == "--content-type") return show_content_type(bytes);
  return show_headers(bytes);
}
