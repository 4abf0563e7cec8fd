// Files in the program's own directory, and the message box.
//
// The program directory is the device path "\Program Files\vyra\" (host:
// <device>/fs/Program Files/vyra/), for the client and the HTTP library alike.
#pragma once

#include <cstddef>
#include <string>

constexpr size_t kMaxPath = 260;  // wide characters, terminator included

// Writes the program directory (ending in '\') followed by name into out[kMaxPath].
// 1, or -2011 when there is no device or the result would not fit.
int module_path(const char16_t* name, char16_t* out);

// Host path of a device path (wide), "" when it cannot be mapped. For modules that open
// device files themselves.
std::string device_host_path(const char16_t* device_path);

// Creates (always anew) the named file in the program directory and writes size bytes.
// 1, or -2003 when the file cannot be created (or written whole).
int write_program_file(const char16_t* name, const void* data, size_t size);

// Reads the named file of the program directory into a new tracked buffer one byte
// longer than the file (zero-terminated); *size_out gets the file size. NULL when the
// file cannot be opened or there is no memory.
unsigned char* read_program_file(const char16_t* name, size_t* size_out);

// Shows a top-most OK message box with text and caption (narrow, ANSI code page).
// 1, or the conversion's negative code.
int show_message_box(const char* text, const char* caption);
