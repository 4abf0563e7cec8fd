// The MMC vocabulary: element and attribute names of request and reply documents, the method
// table, per-method states and reason codes with their reply texts, and small readers over the
// document model (client/qnxml.h) that the session engine walks.
//
// Element names, attribute names, method names and the value "true" are compared without
// regard to ASCII letter case; object names, "cid:" references and content types exactly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/formats/qnxml.h"

// ---- Names -----------------------------------------------------------------------------------
inline constexpr char kMmcMediaType[] = "application/vnd.zevorize.mmc-xml";

inline constexpr char kMmcElement[] = "mmc";
inline constexpr char kMmcAttrId[] = "mmcID";
inline constexpr char kMmcAttrStatusUri[] = "status-uri";

inline constexpr char kMethodElement[] = "method";
inline constexpr char kMethodAttrId[] = "id";
inline constexpr char kMethodAttrName[] = "name";
inline constexpr char kMethodAttrObject[] = "object";
inline constexpr char kMethodAttrReportStatus[] = "reportstatus";
inline constexpr char kMethodAttrValue[] = "value";
inline constexpr char kMethodAttrValueRef[] = "valueref";
inline constexpr char kMethodAttrOffset[] = "offset";

// Reply document: <mmc><status mmcID=".." mmc="word"><detail id name object value|valueref
// result/>...</status></mmc>.
inline constexpr char kReplyStatusElement[] = "status";
inline constexpr char kReplyAttrStatusWord[] = "mmc";
inline constexpr char kReplyDetailElement[] = "detail";
inline constexpr char kReplyAttrResult[] = "result";
inline constexpr char kReplyResultOk[] = "ok";
inline constexpr char kReplyResultInvalidSession[] = "abort";  // echo of an invalid session

inline constexpr char kValueRefHttp[] = "http";  // a valueref fetched over HTTP
inline constexpr char kValueRefCid[] = "cid:";   // a valueref naming a part of the request
inline constexpr char kReportStatusTrue[] = "true";

// A request whose node list holds no method element.
inline constexpr char kMmcNoMethodMessage[] = "no method tag in the page";

// ---- Methods ---------------------------------------------------------------------------------
// The index in the method table is the method code.
enum MmcMethod : int {
  kMethodOpen = 0,
  kMethodRetry = 1,  // ends the session exactly like disconnect
  kMethodRead = 2,
  kMethodWrite = 3,
  kMethodCommit = 4,
  kMethodDisconnect = 5,
};
inline constexpr int kMmcMethodCount = 6;

// Code of a method name (letter case ignored), or -1 for a name not in the table / NULL.
int mmc_method_code(const char16_t* name);
int mmc_method_code_narrow(const char* name);
// Table name of a code ("open" ... "disconnect"), or NULL outside the table.
const char* mmc_method_name(int code);

// ---- Outcome of a method -----------------------------------------------------------------------
enum MmcState : int {
  kStateSilent = 0,   // nothing to report
  kStateSuccess = 1,
  kStateWarning = 2,  // refused, the session goes on
  kStateError = 3,    // execution stops here
};

enum MmcReason : int {
  kReasonNone = 0,             // a failed commit reports "Abort"
  kReasonNotMethod = 1,        // the element is not a method element
  kReasonNoId = 2,             // the method element has no id
  kReasonUnknownMethod = 3,    // name not in the method table
  kReasonNoObject = 4,         // read/write without object
  kReasonUnknownObject = 5,    // no table entry, or its class has no handler
  kReasonUnknownObject6 = 6,   // (not produced)
  kReasonWrongAccess = 7,      // read of write-only, write of read-only, read of the root cert
  kReasonEmptyValue = 8,       // write without valueref whose value is empty or missing
  kReasonOutOfMemory = 9,
  kReasonDeviceBusy = 10,
  kReasonUserDenied = 11,
  kReasonAbort = 12,           // never executed because an earlier method stopped the document
};

// Status word of the reply's status element for a state: "ok", "warning", "error"; state 0
// gives "UnknownObject" (the word of a document whose methods were all silent).
const char* mmc_status_word(int state);
// The result text of a reason code ("BadData", "UnknownObject", ...); any other code "Abort".
const char* mmc_result_text(int reason);

// ---- Readers over the document model --------------------------------------------------------------
// ASCII-case-insensitive equality of two narrow names (false when either is NULL).
bool mmc_name_equals(const char* a, const char* b);
// ASCII-case-insensitive equality of a wide value with a narrow ASCII word.
bool mmc_value_equals(const char16_t* value, const char* word);

// Whether the node is an element with this name (letter case ignored).
bool mmc_is_element(const xml_node* node, const char* name);
// The value of the node's attribute `name` (letter case ignored), or NULL when absent.
const char16_t* mmc_attr_value(const xml_node* node, const char* name);

// The first mmc element of the document, or NULL.
const xml_node* mmc_root(const xml_struct* document);
// The first method element at or after `node` in document order, or NULL. Walk a document's
// methods with mmc_next_method(document->xml_root) and mmc_next_method(method->next).
const xml_node* mmc_next_method(const xml_node* node);
// Whether the document holds at least one method element.
bool mmc_has_method(const xml_struct* document);

// Plain decimal conversion of a wide text: leading blanks, an optional sign, then digits up to
// the first other character; 0 for NULL or no digits; saturates at the 32-bit limits.
int32_t mmc_decimal(const char16_t* text);
// mmcID of an mmc element; 0 when the attribute is missing.
int32_t mmc_session_id(const xml_node* mmc);
// Whether a method is reported in the reply: reportstatus "true" (letter case ignored), or a
// read method, which is always reported.
bool mmc_method_reports(const xml_node* method);

// ---- Object names ------------------------------------------------------------------------------
// Object names such as "phone:boot.url". Indexed objects carry an index after two dots; the
// object table writes its position as "..?" ("phone:nai..?.sip.edgeproxy..?") and a request
// puts the decimal index there ("phone:nai..3.sip.edgeproxy..1"), running to the next '.' or to
// the end. The first index is index 0.
inline constexpr char kObjectIndexMark[] = "..";
inline constexpr char kObjectIndexPlaceholder[] = "..?";

// Whether the name holds an index mark.
bool mmc_object_is_indexed(const char* name);
// Position and length of the n-th index text (n = 0, 1, ...) of a requested name: 1, or -1 when
// the name has no such index.
int mmc_object_index_span(const char* name, int n, size_t* start, size_t* length);

// ---- Copies and content types --------------------------------------------------------------
// A new narrow copy (the device's code page) of the node's attribute `name` (letter case
// ignored), or NULL when it is absent or memory runs out.
char* mmc_attr_copy(const xml_node* node, const char* name);

// The content type of a document the browser saved: the multipart type with its boundary
// ("multipart/related; boundary=B") when the bytes begin with a MIME boundary line ("--B"
// and a line end), else the MMC media type. A new tracked string, or NULL when memory runs
// out.
char* mmc_browser_content_type(const char* data, int length);
