// The WBXML decoder: a WAP Binary XML 1.x document into the shared document model
// (client/qnxml.h), plus a textual rendering of the document for the trace file.
//
// The token tables are chosen by the document's public identifier (client/wbxml_tables.h).
// Inline and string-table strings are decoded from UTF-8 (charset 106) or byte by byte; a
// '$' of an inline string in a WML deck is doubled (WML variable escaping); WML variable
// references (EXT_I_n / EXT_T_n) become "$(name:e)", "$(name:u)" or "$(name:n)"; OPAQUE data
// is shown as a date and time. The rendering escapes '&', '<' and '>' (and '"' in attribute
// values) whichever tokens carried them, and shows characters from 128 on as "&#N;". Every
// read stays inside the input: a number, string or token that runs past its end is -1002,
// a string-table reference outside the table -1006.
#pragma once

#include <cstdint>
#include <string>

#include "client/formats/qnxml.h"

// Result codes (besides 1 for success, -2000 out of memory and -2002 no document).
constexpr int kWbxmlErrEmpty = -1001;          // length of 0 or less
constexpr int kWbxmlErrTruncated = -1002;      // input ended inside the header, a token or a string
constexpr int kWbxmlErrNoOpenElement = -1003;  // END or character data outside every element
constexpr int kWbxmlErrUnknownTag = -1004;     // tag code not in the document type's table
constexpr int kWbxmlErrUtf8 = -1005;           // invalid UTF-8 lead byte or cut sequence
constexpr int kWbxmlErrStringTable = -1006;    // string-table reference out of range or unterminated
constexpr int kWbxmlErrUnknownAttr = -1007;    // attribute-start code not in the table

// Bounds on what one document may produce: the characters of one attribute value or text
// run, and the bytes of the rendering. Passing them counts as running out of memory.
constexpr uint32_t kWbxmlMaxValue = 1u << 22;
constexpr uint32_t kWbxmlMaxRendering = 1u << 26;

// Decodes `length` bytes of `data` into `document` (zero-filled by the caller, who owns the
// record and releases its contents with free_xml_struct). url/post are optional wide strings
// copied into the document when their lengths (in characters) are positive. The rendering
// is written to `trace_name` in the program directory (created anew) whenever one was
// produced, whether or not decoding succeeded; a NULL trace name writes nothing. Returns 1,
// or a negative code above; on failure the document is left empty.
int qn_wbxml_decode(const unsigned char* data, int32_t length, const char16_t* url,
                    int32_t url_length, const char16_t* post, int32_t post_length,
                    xml_struct* document, const char16_t* trace_name);

// The decoding step of qn_wbxml_decode without url/post and without the trace file: fills
// `document` and, when `rendering` is given, hands over the rendering as a new tracked
// narrow string (NULL when none was produced). Same results; on failure the document is
// left empty, the rendering is still handed over.
int wbxml_decode_document(const unsigned char* data, int32_t length, xml_struct* document,
                          char** rendering);

// A result of the decoder in words: "-1002 input ended inside the header, a token or a
// string" (shared codes as common/result_text.h gives them).
std::string wbxml_result_text(int status);
