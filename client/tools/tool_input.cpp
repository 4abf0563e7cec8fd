#include "client/tools/tool_input.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

bool read_tool_input(const char* tool, const char* path, std::string* data) {
  if (std::strcmp(path, "-") == 0) {
    data->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "%s: cannot read %s\n", tool, path);
      return false;
    }
    data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (data->size() > 0x7FFFFFFF) {
    std::fprintf(stderr, "%s: %s is too large\n", tool, path);
    return false;
  }
  return true;
}
