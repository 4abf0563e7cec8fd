// The device registry: roots HKLM and HKCU, keys opened with create-if-missing, key and
// value names case-insensitive (the spelling of the first writer is kept), DWORD, REG_SZ
// (UTF-16) and binary values. Stored in <device>/registry.db (SQLite, WAL). Every call is
// one transaction, so several processes may read and write at once and a crash loses no
// committed value. Safe to call from any thread.
//
// Results follow the handset's codes: kRegOk (0) on success, kRegNotFound when the key or
// value is missing, otherwise a failure code; reg_last_error() tells why in one line.
// Readers (and deletions) never create the store: on a device without registry.db they
// find no key and no value; the first write makes it (with the device directory).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

enum class RegRoot { HKLM = 0, HKCU = 1 };

enum RegType : uint32_t { kRegSz = 1, kRegBinary = 3, kRegDword = 4 };

constexpr int kRegOk = 0;
constexpr int kRegNotFound = 2;        // key or value does not exist
constexpr int kRegWrongType = 13;      // value exists with another type
constexpr int kRegBadArgument = 87;    // NULL/empty/over-long name, over-long data
constexpr int kRegStoreFailed = 1009;  // registry.db missing device, corrupt or locked

constexpr size_t kRegMaxKeyComponent = 255;
constexpr size_t kRegMaxKeyPath = 1024;
constexpr size_t kRegMaxValueName = 16383;
constexpr size_t kRegMaxData = 1 << 20;

// "HKLM"/"HKEY_LOCAL_MACHINE", "HKCU"/"HKEY_CURRENT_USER" (any case). False when unknown.
bool reg_parse_root(std::string_view text, RegRoot* out);
const char* reg_root_name(RegRoot root);  // "HKEY_LOCAL_MACHINE" / "HKEY_CURRENT_USER"

int reg_create_key(RegRoot root, std::u16string_view key);
int reg_key_exists(RegRoot root, std::u16string_view key);  // kRegOk or kRegNotFound

// Readers. *out is left alone unless the result is kRegOk.
int reg_get_dword(RegRoot root, std::u16string_view key, std::u16string_view name, uint32_t* out);
int reg_get_sz(RegRoot root, std::u16string_view key, std::u16string_view name, std::u16string* out);
int reg_get_binary(RegRoot root, std::u16string_view key, std::u16string_view name,
                   std::vector<uint8_t>* out);

// Writers create the key (and its parents) when missing.
int reg_set_dword(RegRoot root, std::u16string_view key, std::u16string_view name, uint32_t value);
int reg_set_sz(RegRoot root, std::u16string_view key, std::u16string_view name,
               std::u16string_view value);
int reg_set_binary(RegRoot root, std::u16string_view key, std::u16string_view name,
                   const void* data, size_t size);

int reg_delete_value(RegRoot root, std::u16string_view key, std::u16string_view name);

// Deletes a key with every key below it and all their values. kRegNotFound when the key
// does not exist; kRegBadArgument for a root.
int reg_delete_key(RegRoot root, std::u16string_view key);

struct RegValue {
  RegRoot root;
  std::u16string key;   // canonical spelling, components joined by '\', no leading '\'
  std::u16string name;
  RegType type;
  uint32_t dword = 0;
  std::u16string sz;
  std::vector<uint8_t> binary;
};

// Values of `key` and of every key below it (the whole root when key is empty), ordered
// by key then name. kRegNotFound when key does not exist.
int reg_list(RegRoot root, std::u16string_view key, std::vector<RegValue>* out);

// Keys at or below `key` (including keys without values), canonical spelling, ordered.
int reg_list_keys(RegRoot root, std::u16string_view key, std::vector<std::u16string>* out);

// One line about the last failure of this thread.
std::string reg_last_error();

// Closes this process's connection (the next call reopens). For tests and tools.
void reg_close();

}  // namespace plat
