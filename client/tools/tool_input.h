// Input of the document inspection tools (vyra-xml, vyra-wbxml): a whole file, or standard
// input for "-".
#pragma once

#include <string>

// Reads path into *data. On failure prints "TOOL: cannot read PATH" (or "... is too large"
// past 2 GiB, which the decoders' lengths cannot express) and returns false.
bool read_tool_input(const char* tool, const char* path, std::string* data);
