// The handset's user interface, on Linux: every request is appended to
// <device>/run/ui.journal as one JSON object per line and echoed to standard error.
// A yes/no question is answered on the terminal when standard input is one, otherwise from
// HKLM "Software\VYRA\Simulator" "AnswerYesNo" ("yes" or "no"; missing: no, the safe
// answer). Notification bubbles and the device reset are journaled the same way; the reset
// also counts up HKLM "Software\VYRA\Simulator" DWORD "ResetCount" for the simulator to
// show (the host is never rebooted). See docs/platform.md.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace plat {

// An OK message box (top-most, no owner). Returns once the request is journaled.
void ui_message_box(std::u16string_view text, std::u16string_view caption);

// The client window's text (the window is shown with it).
void ui_window_text(std::u16string_view text);

// A top-most Yes/No question. Returns true for Yes.
bool ui_ask_yes_no(std::u16string_view text, std::u16string_view caption);

// A notification bubble of the shell's notification service.
struct Bubble {
  uint32_t id = 0;
  std::u16string_view class_id;  // "{XXXXXXXX-...}"
  std::u16string_view title;
  uint32_t icon = 0;             // icon resource of the showing module
  uint32_t flags = 0;
  uint32_t priority = 0;
  std::u16string_view soft_key;  // empty: no soft key
  uint32_t soft_key_command = 0;
  std::u16string_view html;
  uint32_t duration_s = 0;       // display time in seconds
};

// Shows a bubble: journaled as "bubble_show" with every field, echoed to stderr.
void ui_bubble_show(const Bubble& bubble);
// Removes the bubble with this id and class: journaled as "bubble_remove".
void ui_bubble_remove(uint32_t id, std::u16string_view class_id);

// Starts a shell item of the device (":MSREMNET", the remote-networking error report) with
// its parameters, shown normally: journaled as "shell_start" and echoed to stderr (the
// handset's shell components do not exist here). Returns true once journaled.
bool ui_shell_start(std::u16string_view item, std::u16string_view parameters);

// Resets the device with the kernel's reboot control code: journaled as "device_reset" and
// counted in "ResetCount". Returns (the simulated device comes back at once).
void ui_device_reset(uint32_t control_code);
// Resets counted on this device so far (0 when none).
uint32_t ui_reset_count();

// Appends one journal line {"kind": kind, <fields...>}; fields are (name, value) pairs.
void ui_journal(std::string_view kind, std::initializer_list<std::pair<std::string_view, std::string_view>> fields);

// JSON string escaping for journal values (UTF-8 in, quoted UTF-8 out).
std::string json_quote(std::string_view text);

}  // namespace plat
