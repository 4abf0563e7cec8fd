// Multipart bodies and MIME header lines: the boundary of a content type, the split of a body
// into parts with their header lines, and the base64 and quoted-printable transfer decodings.
//
// Every list and text here is allocated with the client's tracked allocator and released with
// free_parts / free_header_lines / free_attachments (http_free). Parsers read only inside the
// bytes they are given.
#pragma once

#include <cstddef>
#include <cstdint>

// One MIME header line, in arrival order.
struct MimeHeader {
  char* name;   // text before the first ':'
  char* value;  // text after ": " or ":"; continuation lines keep their line breaks
  MimeHeader* next;
};

// One part of a multipart body.
struct MultipartPart {
  char* data;          // content after transfer decoding, followed by a zero byte not counted
  int length;          // bytes in data
  char* content_type;  // copy of the "Content-Type" value, or NULL when the part has none
  MimeHeader* headers; // every header line of the part
  MultipartPart* next;
};

// A part whose "Content-Disposition" begins with "attachment".
struct MultipartAttachment {
  char16_t* file_name;   // the quoted "filename=" text, else the whole disposition value
  MultipartPart* part;   // the part it belongs to (owned by the part list, not by this)
  MultipartAttachment* next;
};

// The boundary parameter of a content type, without quotes: a new string, or NULL when the
// content type holds none (or memory runs out).
char* get_boundary(const char* content_type);

// Splits `length` bytes of `body` at the delimiters "--" + boundary. Returns 1 with the part
// list (possibly empty: a body without the boundary has no parts) in *parts, and the
// attachments in *attachments when it is given; -2000 when memory runs out, or the code of a
// part's failing header parse. On failure nothing is stored (both outs are NULL).
int split_multipart(const char* body, int length, const char* boundary, MultipartPart** parts,
                    MultipartAttachment** attachments);

// Parses the header lines of text[0, length) into *list. Returns 1 when at least one line was
// found; -2002 when none was (the list is then NULL); -2000 when memory runs out.
int parse_header_lines(const char* text, size_t length, MimeHeader** list);

// The value of the first header whose name equals `name` (ASCII letter case ignored), or NULL.
// The value stays owned by the list.
const char* find_header_value(const char* name, const MimeHeader* list);

// Transfer decodings into a new zero-terminated block; *out_length gets the decoded length.
// Quoted-printable returns 1, or 0 when it stopped at a malformed "=" (the bytes decoded so far
// are kept); both return -2000 when memory runs out.
int decode_base64(const char* text, size_t length, char** out, int* out_length);
int decode_quoted_printable(const char* text, size_t length, char** out, int* out_length);

// Release a list with everything it owns. NULL is ignored.
void free_parts(MultipartPart* list);
void free_header_lines(MimeHeader* list);
void free_attachments(MultipartAttachment* list);
