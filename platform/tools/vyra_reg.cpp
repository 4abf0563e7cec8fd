// vyra-reg: get, set, delete, list, import and export registry values of a device. The
// usage text below is the manual: commands, files, environment, exit codes, examples.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/tool_args.h"

namespace {

constexpr const char* kName = "vyra-reg";

constexpr const char* kUsage =
    "usage: vyra-reg [--device DIR] COMMAND ...\n"
    "Reads and writes the registry of a device (DIR/registry.db).\n"
    "\n"
    "Commands:\n"
    "  get ROOT KEY NAME               print a value (a number, a text, or hex bytes)\n"
    "  set ROOT KEY NAME --sz TEXT     write a string value (the key is made if missing)\n"
    "  set ROOT KEY NAME --dword N     write a DWORD, N decimal or 0x hexadecimal\n"
    "  delete ROOT KEY NAME            delete a value\n"
    "  list [ROOT [KEY]]               the values at and below KEY as a .reg text, which\n"
    "                                  import takes back\n"
    "  import FILE                     apply a .reg text (- for the standard input); the\n"
    "                                  whole file is checked before anything is written\n"
    "  export [FILE]                   the whole registry as a .reg text (to the standard\n"
    "                                  output without FILE, or for -)\n"
    "ROOT is HKLM or HKCU (or HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER). Key and value names\n"
    "are case-insensitive; arguments must be UTF-8, names without control characters.\n"
    "\n"
    "The .reg text (REGEDIT4, UTF-8, LF line ends):\n"
    "  REGEDIT4\n"
    "  [HKEY_LOCAL_MACHINE\\Software\\ZEM\\VYRA]\n"
    "  \"Logging\"=dword:00000001        a DWORD\n"
    "  \"Name\"=\"text\"                   a string ('\\' and '\"' escaped with '\\')\n"
    "  \"Blob\"=hex:01,02,ff             binary data\n"
    "  \"Two\"=hex(1):61,00,0a,00,00,00  a string with a line break (UTF-16LE bytes)\n"
    "  \"Old\"=-                         deletes the value\n"
    "  [-HKEY_CURRENT_USER\\Old]         deletes the key, its subkeys and their values\n"
    "\n"
    "Options:\n"
    "  --device DIR   the device (else $VYRA_DEVICE). get, list, export and delete need an\n"
    "                 existing device and never make one; set and import make a missing\n"
    "                 directory, a fresh device\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  the value or key does not exist, the registry or a file cannot be read or\n"
    "     written, a .reg text is malformed, or the device is unusable\n"
    "  2  bad usage\n"
    "\n"
    "Examples:\n"
    "  vyra-reg --device /tmp/d set HKLM 'Software\\ZEM\\VYRA' Logging --dword 1\n"
    "  vyra-reg --device /tmp/d get HKLM 'software\\zem\\vyra' logging\n"
    "  vyra-reg --device /tmp/d export > backup.reg; vyra-reg --device /tmp/e import backup.reg\n";

int usage_error(const std::string& message) { return plat::tool_usage_error(kName, message); }

// What each command needs from the device: readers never make one.
plat::DeviceUse device_for_command(const char* command) {
  if (command == nullptr) return plat::DeviceUse::kNone;
  std::string c = command;
  if (c == "get" || c == "list" || c == "export" || c == "delete") return plat::DeviceUse::kExisting;
  if (c == "set" || c == "import") return plat::DeviceUse::kCreate;
  return plat::DeviceUse::kNone;  // unknown: reported as bad usage
}

// "HKLM\Key\Path NAME" for messages.
std::string where(const std::string& root, const std::string& key, const std::string& name) {
  std::string w = root + (key.empty() || key[0] == '\\' ? "" : "\\") + key;
  return name.empty() ? w : w + " " + name;
}

int store_error(const std::string& what, int rc) {
  std::string why = plat::reg_last_error();
  if (rc == plat::kRegBadArgument) return usage_error(what + ": " + why);
  return plat::tool_failure(kName, what.empty() ? why : what + ": " + why);
}

// Command-line text for the registry: UTF-8, and for names no control characters (a
// line break would break the .reg text). Empty string on success, else the complaint.
std::string to_wide(const std::string& text, const char* what, bool name, std::u16string* out) {
  bool invalid = false;
  *out = plat::utf8_to_utf16(text, &invalid);
  if (invalid) return std::string(what) + " is not UTF-8";
  if (name)
    for (char16_t ch : *out)
      if (ch < 0x20 || ch == 0x7F) return std::string(what) + " holds a control character";
  return {};
}

struct Target {
  plat::RegRoot root;
  std::u16string key, name;
};

// ROOT KEY [NAME] of a command. Empty string on success, else the complaint.
std::string take_target(const std::vector<std::string>& a, bool with_name, Target* t) {
  if (!plat::reg_parse_root(a[0], &t->root)) return "unknown root '" + a[0] + "' (HKLM or HKCU)";
  if (std::string why = to_wide(a[1], "KEY", true, &t->key); !why.empty()) return why;
  if (with_name)
    if (std::string why = to_wide(a[2], "NAME", true, &t->name); !why.empty()) return why;
  return {};
}

bool parse_dword(const char* text, uint32_t* out) {
  errno = 0;
  char* end = nullptr;
  int base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) base = 16;
  if (text[0] == '-' || text[0] == '+' || text[0] == ' ' || text[0] == '\0') return false;
  unsigned long long v = std::strtoull(text, &end, base);
  if (errno != 0 || end == text || *end != '\0' || v > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

int cmd_get(const std::vector<std::string>& a) {
  if (a.size() != 3) return usage_error("get needs ROOT KEY NAME");
  Target t;
  if (std::string why = take_target(a, true, &t); !why.empty()) return usage_error(why);
  std::string what = where(a[0], a[1], a[2]);
  // Read through the typed getters: the value's type decides how it prints.
  uint32_t dword;
  int rc = plat::reg_get_dword(t.root, t.key, t.name, &dword);
  if (rc == plat::kRegOk) {
    std::printf("%u\n", dword);
    return 0;
  }
  if (rc != plat::kRegWrongType) return store_error(what, rc);
  std::u16string sz;
  rc = plat::reg_get_sz(t.root, t.key, t.name, &sz);
  if (rc == plat::kRegOk) {
    std::printf("%s\n", plat::utf16_to_utf8(sz).c_str());
    return 0;
  }
  if (rc != plat::kRegWrongType) return store_error(what, rc);
  std::vector<uint8_t> bin;
  rc = plat::reg_get_binary(t.root, t.key, t.name, &bin);
  if (rc != plat::kRegOk) return store_error(what, rc);
  for (size_t i = 0; i < bin.size(); ++i) std::printf("%s%02x", i ? "," : "", bin[i]);
  std::printf("\n");
  return 0;
}

int cmd_set(const std::vector<std::string>& a) {
  if (a.size() != 5 || (a[3] != "--sz" && a[3] != "--dword")) return usage_error("set needs ROOT KEY NAME --sz TEXT or --dword N");
  Target t;
  if (std::string why = take_target(a, true, &t); !why.empty()) return usage_error(why);
  std::string what = where(a[0], a[1], a[2]);
  int rc;
  if (a[3] == "--sz") {
    std::u16string text;
    if (std::string why = to_wide(a[4], "TEXT", false, &text); !why.empty()) return usage_error(why);
    rc = plat::reg_set_sz(t.root, t.key, t.name, text);
  } else {
    uint32_t v;
    if (!parse_dword(a[4].c_str(), &v)) return usage_error("--dword needs a number from 0 to 4294967295, not '" + a[4] + "'");
    rc = plat::reg_set_dword(t.root, t.key, t.name, v);
  }
  return rc == plat::kRegOk ? 0 : store_error(what, rc);
}

int cmd_delete(const std::vector<std::string>& a) {
  if (a.size() != 3) return usage_error("delete needs ROOT KEY NAME");
  Target t;
  if (std::string why = take_target(a, true, &t); !why.empty()) return usage_error(why);
  int rc = plat::reg_delete_value(t.root, t.key, t.name);
  return rc == plat::kRegOk ? 0 : store_error(where(a[0], a[1], a[2]), rc);
}

int cmd_list(const std::vector<std::string>& a) {
  if (a.size() > 2) return usage_error("list takes at most ROOT and KEY");
  std::vector<plat::RegRoot> roots = {plat::RegRoot::HKLM, plat::RegRoot::HKCU};
  std::u16string key;
  if (!a.empty()) {
    plat::RegRoot root;
    if (!plat::reg_parse_root(a[0], &root)) return usage_error("unknown root '" + a[0] + "' (HKLM or HKCU)");
    roots = {root};
    if (a.size() == 2)
      if (std::string why = to_wide(a[1], "KEY", true, &key); !why.empty()) return usage_error(why);
  }
  std::string text;
  int rc = plat::reg_export_text(roots, key, &text, /*header=*/true);
  if (rc != plat::kRegOk) return store_error(a.empty() ? "" : where(a[0], a.size() == 2 ? a[1] : "", ""), rc);
  return plat::tool_write_output(kName, "-", text) ? 0 : plat::kExitFailure;
}

int cmd_import(const std::vector<std::string>& a) {
  if (a.size() != 1) return usage_error("import needs FILE (- for the standard input)");
  std::string text;
  if (!plat::tool_read_input(kName, a[0], &text, plat::kRegMaxData * 64)) return plat::kExitFailure;
  std::string error;
  int rc = plat::reg_import_text(text, &error);
  if (rc == plat::kRegOk) return 0;
  std::string file = a[0] == "-" ? "standard input" : a[0];
  // A syntax error names its line; nothing was written then.
  return plat::tool_failure(kName, rc == plat::kRegBadArgument ? file + ": " + error : error);
}

int cmd_export(const std::vector<std::string>& a) {
  if (a.size() > 1) return usage_error("export takes at most FILE");
  std::string text;
  int rc = plat::reg_export_text({plat::RegRoot::HKLM, plat::RegRoot::HKCU}, u"", &text, /*header=*/true);
  if (rc != plat::kRegOk) return store_error("", rc);
  return plat::tool_write_output(kName, a.empty() ? "-" : a[0], text) ? 0 : plat::kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  plat::ToolSpec program{kName, kUsage, plat::DeviceUse::kNone, device_for_command};
  if (int rc = plat::tool_start(program, argc, argv); rc != plat::kToolContinue) return rc;
  if (argc < 2) return usage_error("no command (get, set, delete, list, import or export)");
  std::string cmd = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (cmd == "get") return cmd_get(args);
  if (cmd == "set") return cmd_set(args);
  if (cmd == "delete") return cmd_delete(args);
  if (cmd == "list") return cmd_list(args);
  if (cmd == "import") return cmd_import(args);
  if (cmd == "export") return cmd_export(args);
  if (!cmd.empty() && cmd[0] == '-') return usage_error("unknown option '" + cmd + "'");
  return usage_error("unknown command '" + cmd + "'");
}
