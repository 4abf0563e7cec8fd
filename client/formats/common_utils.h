// Decoding of WSP binary headers (the header block of a WAP push) into text.
//
// A push carries its content type first, then header fields, each a field name (a
// well-known code with the high bit set, or a zero-terminated text) followed by its value.
// Every decoded text is a new narrow string from the tracked allocator; the caller releases
// it with mem_free. Every read stays inside the block the caller names: a value, a length
// or a string that runs past the end is a failure, never a read beyond it.
#pragma once

#include <cstdint>
#include <string>

// Status of decode_wsp_content_type.
constexpr int kWspOk = 0;
constexpr int kWspErrArguments = -13;  // no bytes, length <= 0, no output, malformed value
constexpr int kWspErrUnknown = -15;    // unknown well-known type, or no memory

// A status of decode_wsp_content_type in words: "-15 unknown well-known content type, or
// out of memory" (shared codes as common/result_text.h gives them).
std::string wsp_result_text(int status);

// Well-known header field codes the decoder treats specially.
constexpr int kWspFieldContentType = 0x11;

// ---- Helpers --------------------------------------------------------------------------------
// WSP uintvar: 7 bits per byte, most significant group first, the high bit set on every
// byte but the last. At most 5 bytes and 32 bits. Returns the value and sets *used to the
// number of bytes read; *used is 0 when the number does not end inside `length` bytes, takes
// more than 5 bytes or does not fit in 32 bits.
uint32_t uintvar_decode(const unsigned char* bytes, int length, int* used);
// Value of the leading decimal digits of text (0 for none or NULL; saturates at INT32_MAX).
int32_t parse_decimal(const char* text);
bool is_decimal_digit(char ch);

// ---- Table lookups (each result is a new tracked string, or NULL) --------------------------
// Well-known header field name, code 0x00 to 0x47; NULL for other codes.
char* wsp_header_name(int code);
// Well-known content type, code 0x00 to 0x3F; NULL for other codes.
char* wsp_content_type_name(int code);
// Charset name by IANA MIBenum ("utf-8" for 106, "*" for 0); other numbers as decimal text.
char* wsp_charset_name(uint32_t mibenum);
// Cache directive for the bytes 128 to 139; NULL for others.
char* wsp_cache_directive_name(unsigned char byte);
// Content encoding for the bytes 128 to 130; NULL for others.
char* wsp_content_encoding_name(unsigned char byte);
// "%d.%d" of the bits 4 to 6 and 0 to 3 of a version byte.
char* wsp_version_text(unsigned char byte);
// Well-known parameter name, code 0x00 to 0x18; "Unknown-0xNN" for codes without a name.
char* wsp_parameter_name(int code);
// Decimal text of value.
char* decimal_text(int32_t value);

// ---- Decoders ------------------------------------------------------------------------------
// Decodes the content-type value at the start of bytes[0, length) into *text_out ("media
// type" followed by "; Name=value" for each parameter). Returns the number of bytes the value
// occupies and sets *status to 0; on failure returns -1, leaves *text_out NULL and sets
// *status to -13 (bad arguments or a malformed value) or -15 (unknown well-known type, no
// memory). A parameter that cannot be decoded ends the parameter list; the parameters
// before it are kept.
int decode_wsp_content_type(const unsigned char* bytes, int length, char** text_out,
                            int* status);

// Field name at block[*consumed] (the block is `length` bytes): the standard name of a
// well-known code, or the text of a text name. Adds the bytes used to *consumed. NULL for an
// unknown code, an unterminated text, a byte that starts no name, or *consumed outside the
// block.
char* decode_wsp_field_name(const unsigned char* block, int length, int* consumed);

// Field value at block[*consumed], decoded by the well-known code of the field name that
// ends just before it (block[*consumed - 1]; a text name has no code). Adds the bytes used
// to *consumed. NULL when the value is missing (at the very end of the block), runs past
// the block, or memory runs out.
char* decode_wsp_field_value(const unsigned char* block, int length, int* consumed);
