// Reply formulation: writes the MMC reply document, byte for byte, from the response tree of
// command execution (or, for an invalid session, from the request tree), and wraps it in a
// multipart/related body when the reply carries binary values (the reply parts of
// mmcp_cid.h).
#pragma once

#include <cstddef>

#include "client/formats/qnxml.h"
#include "client/session/mmcp_request.h"

// The document type declaration names the MMC 2.0 DTD by an unregistered formal public
// identifier of the owner of the media type, and by that owner's URL of the DTD.
inline constexpr char kMmcDtdPublicId[] = "-//Zevorize//DTD MMC 2.0//EN";
inline constexpr char kMmcDtdSystemUrl[] = "http://www.zevorize.com/DTD/mmc_2.0.dtd";

inline constexpr char kReplyStartId[] = "element.mmcpart.1";
inline constexpr char kReplyBoundaryFormat[] = "----ZEMVYRA%d";  // the tick count in ms

constexpr size_t kReplyBufferStep = 10240;   // the text buffer starts and grows by this much
constexpr size_t kReplyDetailReserve = 255;  // room kept free before each detail

// With a request tree: the invalid-session reply (status "error", every element from the
// first method on echoed with result "abort"). Otherwise the normal reply from the response
// tree, whose status word follows `state` (the highest method state). Leaves post_data,
// post_length and content_type in the record (an earlier body is released), and empties the
// reply parts. Attribute values are written escaped (&amp; &lt; &gt; &quot;).
// Returns 1; also when nothing was reported (then the record has neither body nor content
// type: the request goes out without a body). -2000 when memory runs out: the record then
// has no body and the reply must not be sent.
int formulate_reply(int state, const xml_struct* request_tree, const xml_struct* response_tree, MmcRequest* request);
