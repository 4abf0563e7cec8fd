// The .reg text format (REGEDIT4) for the registry tool:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\ControlPanel\PhoneExtendFunction\VYRA\Phone]
//   "BootUrl"="http://x"
//   "Retries"=dword:0000000a
//   "Blob"=hex:01,02,ff
//   "Two"=hex(1):61,00,0a,00,62,00,00,00  (a string with a line break: UTF-16LE bytes)
//   "Old"=-                      (import only: deletes the value)
//
//   [-HKEY_CURRENT_USER\Old]     (import only: deletes the key, its subkeys and values)
//
// Strings escape '\' and '"' with a backslash; "@" names the default value; lines starting
// with ';' are comments; a hex list may continue on the next line after a trailing '\'.
// Text is UTF-8; lines end with LF (CR LF is read too).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace plat {

// Appends the values of `key` (and below) of each root as .reg text to *out, with the
// REGEDIT4 header when asked.
int reg_export_text(const std::vector<RegRoot>& roots, std::u16string_view key, std::string* out, bool header);

// One change a .reg text asks for, in the order of the text.
struct RegChange {
  enum Kind { kSz, kDword, kBinary, kDeleteValue, kDeleteKey } kind;
  RegRoot root;
  std::u16string key;
  std::u16string name;  // not for kDeleteKey
  std::u16string sz;
  uint32_t dword = 0;
  std::vector<uint8_t> binary;
};

// Reads a whole .reg text into its changes without touching the registry. false with
// *error "line N: why" on a syntax error (text that is not UTF-8 included).
bool reg_parse_text(std::string_view text, std::vector<RegChange>* changes, std::string* error);

// Parses the whole text first (kRegBadArgument and "line N: why" on a syntax error, nothing
// applied), then applies every change in order. Deleting a value or key that is not there
// is no failure.
int reg_import_text(std::string_view text, std::string* error);

}  // namespace plat
