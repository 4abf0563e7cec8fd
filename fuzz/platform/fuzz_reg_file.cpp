// A .reg text of any bytes, read into its changes without a registry: a refusal names its
// line and keeps nothing; an accepted text never deletes a root and never turns bytes that
// are not UTF-8 into a name (a hex(1) string may hold any UTF-16 unit, U+FFFD included).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<plat::RegChange> changes;
  std::string error;
  if (!plat::reg_parse_text(text, &changes, &error)) {
    if (!changes.empty() || error.rfind("line ", 0) != 0) __builtin_trap();
    return 0;
  }
  for (const plat::RegChange& c : changes) {
    if (c.kind == plat::RegChange::kDeleteKey && c.key.empty()) __builtin_trap();  // never a root
    for (char16_t ch : c.key + c.name)
      if (ch == 0xFFFD && text.find("\xEF\xBF\xBD") == std::string_view::npos) __builtin_trap();  // not UTF-8
  }
  return 0;
}
