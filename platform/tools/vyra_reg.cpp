// vyra-reg: get, set, delete, list, import and export registry values of a device.
//
// Exit codes: 0 success, 1 missing value (or a store failure), 2 bad usage; each failure
// prints one line on standard error.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/tool_args.h"

namespace {

constexpr const char* kUsage =
    "usage: vyra-reg [--device DIR] COMMAND ...\n"
    "  get ROOT KEY NAME                     print a value\n"
    "  set ROOT KEY NAME (--sz TEXT | --dword N)\n"
    "  delete ROOT KEY NAME\n"
    "  list [ROOT [KEY]]                     values at and below KEY, in .reg form\n"
    "  import FILE                           apply a REGEDIT4 .reg file (- for stdin)\n"
    "  export [FILE]                         write the whole registry as a .reg file\n"
    "ROOT is HKLM or HKCU (or the long names). Names are case-insensitive.\n"
    "The device is --device DIR, else $VYRA_DEVICE.\n";

int usage_error(const std::string& message) { return plat::tool_usage_error("vyra-reg", message.c_str()); }

int store_error(int rc) {
  if (rc == plat::kRegNotFound) {
    std::fprintf(stderr, "vyra-reg: %s\n", plat::reg_last_error().c_str());
    return 1;
  }
  if (rc == plat::kRegBadArgument) {
    std::fprintf(stderr, "vyra-reg: %s\n", plat::reg_last_error().c_str());
    return 2;
  }
  std::fprintf(stderr, "vyra-reg: %s\n", plat::reg_last_error().c_str());
  return 1;
}

bool parse_dword(const char* text, uint32_t* out) {
  errno = 0;
  char* end = nullptr;
  int base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) base = 16;
  if (text[0] == '-') return false;
  unsigned long long v = std::strtoull(text, &end, base);
  if (errno != 0 || end == text || *end != '\0' || v > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

int cmd_get(const std::vector<std::string>& a) {
  if (a.size() != 3) return usage_error("get needs ROOT KEY NAME");
  plat::RegRoot root;
  if (!plat::reg_parse_root(a[0], &root)) return usage_error("unknown root '" + a[0] + "'");
  std::u16string key = plat::utf8_to_utf16(a[1]);
  std::u16string name = plat::utf8_to_utf16(a[2]);
  std::vector<plat::RegValue> values;
  // Read through the typed getters: the value's type decides how it prints.
  uint32_t dword;
  int rc = plat::reg_get_dword(root, key, name, &dword);
  if (rc == plat::kRegOk) {
    std::printf("%u\n", dword);
    return 0;
  }
  if (rc != plat::kRegWrongType) return store_error(rc);
  std::u16string sz;
  rc = plat::reg_get_sz(root, key, name, &sz);
  if (rc == plat::kRegOk) {
    std::printf("%s\n", plat::utf16_to_utf8(sz).c_str());
    return 0;
  }
  if (rc != plat::kRegWrongType) return store_error(rc);
  std::vector<uint8_t> bin;
  rc = plat::reg_get_binary(root, key, name, &bin);
  if (rc != plat::kRegOk) return store_error(rc);
  for (size_t i = 0; i < bin.size(); ++i) std::printf("%s%02x", i ? "," : "", bin[i]);
  std::printf("\n");
  return 0;
}

int cmd_set(const std::vector<std::string>& a) {
  if (a.size() != 5) return usage_error("set needs ROOT KEY NAME (--sz TEXT | --dword N)");
  plat::RegRoot root;
  if (!plat::reg_parse_root(a[0], &root)) return usage_error("unknown root '" + a[0] + "'");
  std::u16string key = plat::utf8_to_utf16(a[1]);
  std::u16string name = plat::utf8_to_utf16(a[2]);
  int rc;
  if (a[3] == "--sz") {
    rc = plat::reg_set_sz(root, key, name, plat::utf8_to_utf16(a[4]));
  } else if (a[3] == "--dword") {
    uint32_t v;
    if (!parse_dword(a[4].c_str(), &v)) return usage_error("--dword needs a number from 0 to 4294967295");
    rc = plat::reg_set_dword(root, key, name, v);
  } else {
    return usage_error("set needs --sz TEXT or --dword N");
  }
  return rc == plat::kRegOk ? 0 : store_error(rc);
}

int cmd_delete(const std::vector<std::string>& a) {
  if (a.size() != 3) return usage_error("delete needs ROOT KEY NAME");
  plat::RegRoot root;
  if (!plat::reg_parse_root(a[0], &root)) return usage_error("unknown root '" + a[0] + "'");
  int rc = plat::reg_delete_value(root, plat::utf8_to_utf16(a[1]), plat::utf8_to_utf16(a[2]));
  return rc == plat::kRegOk ? 0 : store_error(rc);
}

int cmd_list(const std::vector<std::string>& a) {
  if (a.size() > 2) return usage_error("list takes at most ROOT and KEY");
  std::vector<plat::RegRoot> roots = {plat::RegRoot::HKLM, plat::RegRoot::HKCU};
  if (!a.empty()) {
    plat::RegRoot root;
    if (!plat::reg_parse_root(a[0], &root)) return usage_error("unknown root '" + a[0] + "'");
    roots = {root};
  }
  std::u16string key = a.size() == 2 ? plat::utf8_to_utf16(a[1]) : std::u16string();
  std::string text;
  int rc = plat::reg_export_text(roots, key, &text, /*header=*/false);
  if (rc != plat::kRegOk) return store_error(rc);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

int cmd_import(const std::vector<std::string>& a) {
  if (a.size() != 1) return usage_error("import needs FILE");
  std::string text;
  if (a[0] == "-") {
    std::ostringstream ss;
    ss << std::cin.rdbuf();
    text = ss.str();
  } else {
    std::ifstream in(a[0], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "vyra-reg: cannot read %s: %s\n", a[0].c_str(), std::strerror(errno));
      return 1;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
  }
  std::string error;
  int rc = plat::reg_import_text(text, &error);
  if (rc == plat::kRegBadArgument) {
    std::fprintf(stderr, "vyra-reg: %s: %s\n", a[0].c_str(), error.c_str());
    return 2;
  }
  if (rc != plat::kRegOk) {
    std::fprintf(stderr, "vyra-reg: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

int cmd_export(const std::vector<std::string>& a) {
  if (a.size() > 1) return usage_error("export takes at most FILE");
  std::string text;
  int rc = plat::reg_export_text({plat::RegRoot::HKLM, plat::RegRoot::HKCU}, u"", &text, /*header=*/true);
  if (rc != plat::kRegOk) return store_error(rc);
  if (a.empty() || a[0] == "-") {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  std::ofstream out(a[0], std::ios::binary | std::ios::trunc);
  if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size()))) {
    std::fprintf(stderr, "vyra-reg: cannot write %s: %s\n", a[0].c_str(), std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = plat::tool_start("vyra-reg", kUsage, argc, argv); rc != plat::kToolContinue) return rc;
  if (argc < 2) return usage_error("no command");
  std::string cmd = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (cmd == "get") return cmd_get(args);
  if (cmd == "set") return cmd_set(args);
  if (cmd == "delete") return cmd_delete(args);
  if (cmd == "list") return cmd_list(args);
  if (cmd == "import") return cmd_import(args);
  if (cmd == "export") return cmd_export(args);
  return usage_error("unknown command '" + cmd + "'");
}
