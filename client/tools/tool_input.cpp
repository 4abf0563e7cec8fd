#include "client/tools/tool_input.h"

#include "platform/tool_args.h"

bool read_tool_input(const char* tool, const char* path, std::string* data) {
  // The decoders take their length as a signed 32-bit count.
  return plat::tool_read_input(tool, path, data, 0x7FFFFFFF);
}
