// The platform debug output (the bridge's diagnostic lines): appended to
// <device>/run/debug.log, one write per call, and echoed to standard error when
// VYRA_DEBUG_STDERR is set. The text is written as given (the system's texts carry their
// own "\r\n"); nothing is added.
#pragma once

#include <string_view>

namespace plat {

void debug_output(std::string_view text);
void debug_output(std::u16string_view text);  // converted to UTF-8

// printf-style; "%S" is not special here (convert wide arguments first).
void debug_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace plat
