// Text utilities of the XML parser: entity decoding, element-name validation, hexadecimal
// parse, and the whole-document passes that run before the scan.
//
// Every pass reads only inside the text it is given (pointer and length) and runs in time
// linear in that length. Results are new tracked blocks (mem_alloc), terminated with a zero
// byte that the returned length does not count; the caller releases them with mem_free.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Entities and names --------------------------------------------------------------------
// Takes ownership of `text` (a tracked narrow string), returns a new tracked string with the
// character references decoded and releases the input. NULL when memory runs out (the input
// is released then too) or when `text` is NULL. Decoding never lengthens the text.
char* xml_decode_entities(char* text);
// The same decoding over `length` bytes that the caller keeps; *out_length (optional)
// receives the decoded length. NULL when memory runs out.
char* xml_decode_entities_span(const char* text, size_t length, size_t* out_length);
// Decodes into `out`, which has room for at least `length` bytes; returns the decoded length.
size_t xml_decode_entities_into(const char* text, size_t length, char* out);

// 1 for a valid element name (a letter or '_' first, then letters, digits, '-', ':', '_'),
// -2028 otherwise (with a log line naming the failed test).
int xml_validate_name(const char* name);
int xml_validate_name_span(const char* name, size_t length);

// Value of a string of hexadecimal digits (either case), modulo 2^32; -1 when the string is
// empty or holds any other character.
int64_t xml_parse_hex(const char* digits, size_t length);

// ---- Passes --------------------------------------------------------------------------------
// Style sheet extraction: the text of the first comment inside the first style element
// ("<style" ... "</style", or "<STYLE" ... "</STYLE"). Returns 1 and *out (new string) when
// found, 0 when there is none, -2000 when memory runs out.
int xml_extract_style(const char* text, size_t length, char** out);

// Comment removal in place: deletes every "<!--" ... "-->" and returns the new length, or
// -2024 for a comment without its end (or "--" inside it) and for a stray "-->".
int64_t xml_strip_comments(char* text, size_t length);

// Whitespace normalisation: line ends and tabs become spaces, runs of spaces collapse, spaces
// around '=' and before '>' go, leading and trailing blanks go; the content of a "<pre"
// element and of a CDATA section is copied as written. Returns a new string (length in
// *out_length) or NULL when memory runs out.
char* xml_normalize_space(const char* text, size_t length, size_t* out_length);

// Encoding of the XML prolog ("<?xml version" ... "encoding='...'" ... '>'). Returns 1 and
// *out (new string) when found, 0 when absent, -2000 when memory runs out.
int xml_get_encoding(const char* text, size_t length, char** out);

// Processing-instruction removal, in place: the prolog, further leading processing
// instructions and those reached through a chain of "<?" and "<!" constructs. Returns the new
// length (the text is terminated there), or -2023 for a "<?" without "?>".
int64_t xml_strip_pi(char* text, size_t length);

// Declaration skip: when the text begins with "<!", the number of bytes through the first
// '>' and one space after it; 0 when it does not begin so; -2025 without a '>'.
int64_t xml_skip_declaration(const char* text, size_t length);
