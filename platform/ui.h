// The handset's user interface, on Linux: every request is appended to
// <device>/run/ui.journal as one JSON object per line and echoed to standard error.
// A yes/no question is answered on the terminal when standard input is one, otherwise from
// HKLM "Software\VYRA\Simulator" "AnswerYesNo" ("yes" or "no"; missing: no, the safe
// answer). (Notification bubbles join this service later.)
#pragma once

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

// Appends one journal line {"kind": kind, <fields...>}; fields are (name, value) pairs.
void ui_journal(std::string_view kind, std::initializer_list<std::pair<std::string_view, std::string_view>> fields);

// JSON string escaping for journal values (UTF-8 in, quoted UTF-8 out).
std::string json_quote(std::string_view text);

}  // namespace plat
