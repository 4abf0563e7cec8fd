// The HTTP library's result codes in words, for the programs that print them (vyra-http,
// the client's log). Not an export: parsek.h lists the codes for callers of the library.
#pragma once

#include <string>

// "CODE meaning": "-3007 connection failed, or the data connection is gone"; the shared
// codes the library returns (-20, -2000, ...) as common/result_text.h gives them.
std::string http_result_text(int code);
