// The client's diagnostic log "vyralog.txt" in the program directory.
//
// Switched by HKLM "Software\ZEM\VYRA" "Logging" (DWORD, non-zero: on) and gated for hex
// dumps by "LogLevel", both read once by log_open(). Each message is one line
// "[hh:mm:ss ms] text\r\n", flushed at once; one lock per line, so threads never
// interleave inside a line. Nothing is reported to callers: a failed write is ignored.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kLogFormatBuffer = 8024;  // characters of one formatted message

// Severities in use.
constexpr int kLogFailure = 2;
constexpr int kLogWarning = 4;
constexpr int kLogTrace = 7;

void log_open();
void log_close();

// printf-style. "%S" (and "%ls") take a char16_t string, written in the ANSI code page.
// error_code and severity are accepted but neither written nor used for filtering.
void log_message(int error_code, int severity, const char* format, ...);

// Tab-indented rows of 16 "%02x " pairs with "- " after the 8th; written when logging is
// on and level <= LogLevel.
void log_hex_dump(int level, const void* data, size_t length);

// At the end of the file: "\r\n\r\n", two lowercase hex digits per byte, "\r\n\r\n".
void log_raw_hex(const void* data, size_t length);

// Whether a log file is open (for tests and the start-up trace).
bool log_is_on();

// Formats like log_message into out (at most capacity - 1 characters, always
// terminated); returns the length written. Exposed for tests.
size_t log_format(char* out, size_t capacity, const char* format, ...);
