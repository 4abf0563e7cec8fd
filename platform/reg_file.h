// The .reg text format (REGEDIT4) for the registry tool:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\ControlPanel\PhoneExtendFunction\VYRA\Phone]
//   "BootUrl"="http://x"
//   "Retries"=dword:0000000a
//   "Blob"=hex:01,02,ff
//   "Old"=-                      (import only: deletes the value)
//
// Strings escape '\' and '"' with a backslash; "@" names the default value; lines starting
// with ';' are comments; a hex list may continue on the next line after a trailing '\'.
// Text is UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace plat {

// Appends the values of `key` (and below) of each root as .reg text to *out, with the
// REGEDIT4 header when asked.
int reg_export_text(const std::vector<RegRoot>& roots, std::u16string_view key, std::string* out, bool header);

// Parses the whole text first (kRegBadArgument and "line N: why" on a syntax error, nothing
// applied), then applies every value in order.
int reg_import_text(std::string_view text, std::string* error);

}  // namespace plat
