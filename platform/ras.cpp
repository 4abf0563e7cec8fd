#include "platform/ras.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace plat {

int ras_enum_entries(RasEntryName* entries, uint32_t* bytes, uint32_t* count) {
  if (bytes == nullptr || count == nullptr) return kRasInvalidParameter;
  if (entries != nullptr && entries[0].size != sizeof(RasEntryName)) return kRasInvalidSize;
  std::vector<std::u16string> keys;
  std::vector<std::u16string> names;
  if (reg_list_keys(RegRoot::HKCU, u"Comm\\RasBook", &keys) == kRegOk) {
    const std::u16string prefix = u"Comm\\RasBook\\";
    for (const std::u16string& k : keys) {
      // Direct children only.
      if (k.size() <= prefix.size() || k.find(u'\\', prefix.size()) != std::u16string::npos) continue;
      names.push_back(k.substr(prefix.size()));
    }
  }
  uint32_t needed = static_cast<uint32_t>(names.size() * sizeof(RasEntryName));
  if (entries == nullptr || *bytes < needed) {
    *bytes = needed;
    *count = static_cast<uint32_t>(names.size());
    return names.empty() ? 0 : kRasBufferTooSmall;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    RasEntryName& e = entries[i];
    e.size = sizeof(RasEntryName);
    std::memset(e.name, 0, sizeof e.name);
    size_t n = names[i].size() < kRasMaxEntryName ? names[i].size() : kRasMaxEntryName;
    std::memcpy(e.name, names[i].data(), n * sizeof(char16_t));
  }
  *count = static_cast<uint32_t>(names.size());
  *bytes = needed;
  return 0;
}

}  // namespace plat
