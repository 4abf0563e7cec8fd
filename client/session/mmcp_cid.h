// Content parts of a session: the parts of a multipart request that a "cid:" valueref may
// name, and the binary values a reply carries as parts of its own.
//
// Two lists of module state, each in order:
//   request parts  entered at each multipart split (the parts with a "Content-ID" header),
//                  emptied before the next document's parts are entered and at the end of
//                  process_mmc_file;
//   reply parts    created by the `detail` of a binary read, written and emptied by the
//                  reply writer.
// Every text and byte block is a tracked copy owned by its list.
#pragma once

#include "client/formats/http_parse.h"

struct CidPart {
  char* content_id;   // request part: the header value as received, angle brackets and all;
                      // reply part: the reference "cid:element.mmcpart.N"
  char* data;         // owned copy of the bytes, followed by a zero byte not counted
  int length;
  CidPart* next;
};

// Appends every part of `parts` that has a Content-ID: 1, or -2000 when memory runs out (the
// parts already added stay).
int cid_add_request_parts(const MultipartPart* parts);

// The request part a reference names: the text after "cid:" (or the whole reference when it
// lacks the prefix) compared exactly with each Content-ID stripped of its first and last
// character. 1 with an owned copy in *out / *out_length, -1 when none matches, -2000.
int cid_find(const char* reference, char** out, int* out_length);

void cid_clear_request_parts();
const CidPart* cid_request_parts();

// A new reply part holding a copy of the bytes. Returns its reference text (owned by the
// list, valid until cid_clear_reply_parts), or NULL when memory runs out. References are
// distinct within one reply, in creation order: "cid:element.mmcpart.0", then ".2", ".3", ...
// (".1" is the reply document's own part).
const char* cid_add_reply_part(const char* bytes, int length);

void cid_clear_reply_parts();
const CidPart* cid_reply_parts();
