#include "status.h"

#include <cstdio>
#include <string>

#include "registry.h"
#include "text.h"

namespace plat {
namespace {

std::u16string item_name(uint32_t item) {
  char name[16];
  std::snprintf(name, sizeof name, "%08X", item);
  return utf8_to_utf16(name);
}

}  // namespace

bool status_get(uint32_t item, StatusRecord* out) {
  if (out == nullptr) return false;
  uint32_t value = 0;
  if (reg_get_dword(RegRoot::HKLM, kStatusKey, item_name(item), &value) != kRegOk) return false;
  *out = StatusRecord{item, 4, value, 0};
  return true;
}

bool status_set(uint32_t item, uint32_t value) {
  return reg_set_dword(RegRoot::HKLM, kStatusKey, item_name(item), value) == kRegOk;
}

}  // namespace plat
