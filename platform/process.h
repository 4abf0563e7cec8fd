// Starting a device program. The handset's programs do not exist on Linux: a registry table
// maps a device program path to a host command. HKLM "Software\VYRA\Simulator\Programs"
// holds one REG_SZ value per program, named by the device path ("\Windows\CDMAConn.exe",
// case-insensitive) with the host executable as its data. See docs/telephony.md.
#pragma once

#include <string_view>

namespace plat {

constexpr char16_t kProgramMapKey[] = u"Software\\VYRA\\Simulator\\Programs";

// Starts the mapped host program with `arguments` (split at spaces) and returns at once
// without waiting for it (it is not left as a zombie). True when the program was started.
// An unmapped program, or one that cannot be started, is written to the debug output and
// false is returned.
bool process_start(std::u16string_view device_program, std::u16string_view arguments);

}  // namespace plat
