// Result codes in words. The client's modules and the HTTP library return signed integer
// codes; each module has one function that prints its own codes, and the shared ones it
// returns, as "CODE meaning" ("-2022 end tag differs from the innermost open element"):
//
//   xml_result_text    client/formats/qnxml.h          -2009, -2021 to -2028
//   wbxml_result_text  client/formats/wbxml_decoder.h  -1001 to -1007
//   wsp_result_text    client/formats/common_utils.h   -13, -15
//   http_result_text   http/http_results.h             0, -1, -3001 to -3016
//
// Every one of them falls back on the shared table here (-1, -2, -20, -2000 to -2013), so
// a shared code reads the same wherever it comes from.
#pragma once

#include <span>
#include <string>

struct result_meaning {
  int code;
  const char* meaning;
};

// The meaning of a shared code, or NULL when the code is not one.
const char* shared_result_meaning(int code);

// "CODE meaning": the meaning from `module` first, then from the shared table, else
// "CODE (no meaning known)".
std::string result_text(int code, std::span<const result_meaning> module);
