// The bridge's library-wide objects and state, shared by the exported operations.
// One instance per process, built when the library is loaded (kova_bridge.cpp).
#pragma once

#include <atomic>
#include <cstdint>

#include "telephony/modem_commands.h"
#include "telephony/ril_dev_channel.h"

namespace kova {

ModemCommands& Modem();
RilDevChannel& Channel();
// The library's own file (what the handset records as the module instance), recorded at
// load; the session's user interface finds its resources next to it.
const char* ModulePath();

// The active data-profile index saved by the first successful KovaMMCGetCurrentNAIID of
// the process, for the session end to put back; kNoSavedProfile while none is saved.
constexpr uint32_t kNoSavedProfile = 255;
extern std::atomic<uint32_t> g_saved_profile;

}  // namespace kova
