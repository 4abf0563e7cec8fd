// Input of the document inspection tools (vyra-xml, vyra-wbxml): a whole file, or standard
// input for "-".
#pragma once

#include <string>

// Reads path into *data. On failure prints "TOOL: cannot read PATH: REASON" (the system's
// reason, or larger than the decoders' 2 GiB) and returns false.
bool read_tool_input(const char* tool, const char* path, std::string* data);
