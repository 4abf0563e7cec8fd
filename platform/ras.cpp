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

// ---------------------------------------------------------------------------------------
// Active connections

namespace {
constexpr char16_t kConnKey[] = u"Software\\VYRA\\Simulator\\RasConnections";

std::vector<RegValue> active_connections() {
  std::vector<RegValue> all;
  std::vector<RegValue> out;
  if (reg_list(RegRoot::HKLM, kConnKey, &all) != kRegOk) return out;
  const std::u16string own = std::u16string(kConnKey);
  for (RegValue& v : all) {
    // Values of the key itself only; a key below it is no connection.
    if (v.type != kRegDword || v.dword == 0 || v.key.size() != own.size()) continue;
    out.push_back(std::move(v));
  }
  return out;
}
}  // namespace

int ras_enum_connections(RasConn* conns, uint32_t* bytes, uint32_t* count) {
  if (bytes == nullptr || count == nullptr) return kRasInvalidParameter;
  if (conns != nullptr && conns[0].size != sizeof(RasConn)) return kRasInvalidSize;
  std::vector<RegValue> list = active_connections();
  uint32_t needed = static_cast<uint32_t>(list.size() * sizeof(RasConn));
  *count = static_cast<uint32_t>(list.size());
  if (conns == nullptr || *bytes < needed) {
    *bytes = needed;
    return list.empty() ? 0 : kRasBufferTooSmall;
  }
  for (size_t i = 0; i < list.size(); ++i) {
    RasConn& c = conns[i];
    c.size = sizeof(RasConn);
    c.handle = list[i].dword;
    std::memset(c.entry_name, 0, sizeof c.entry_name);
    size_t n = list[i].name.size() < kRasMaxEntryName ? list[i].name.size() : kRasMaxEntryName;
    std::memcpy(c.entry_name, list[i].name.data(), n * sizeof(char16_t));
  }
  *bytes = needed;
  return 0;
}

int ras_hang_up(uint32_t handle) {
  if (handle == 0) return kRasInvalidHandle;
  for (const RegValue& v : active_connections()) {
    if (v.dword != handle) continue;
    reg_delete_value(RegRoot::HKLM, kConnKey, v.name);
    return 0;
  }
  return kRasInvalidHandle;
}

bool ras_add_connection(std::u16string_view name, uint32_t handle) {
  if (handle == 0 || name.empty()) return false;
  return reg_set_dword(RegRoot::HKLM, kConnKey, name, handle) == kRegOk;
}

}  // namespace plat
