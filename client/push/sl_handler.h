// Service Loading: the URL a Service Loading document asks the handset to load.
//
// Push reception ends here. The URL goes back up through the dispatch and the
// preprocessing to the caller of VYRApc_teleServiceWAPRcvd (the WAP push event handler),
// which resolves it against the boot URL, checks the trusted domain and fetches it.
#pragma once

#include <cstdint>

#include "client/formats/qnxml.h"

constexpr int kSlErrInvalid = -2020;  // not a valid Service Loading document

// SL "action" values.
constexpr int32_t kSlExecuteLow = 1;
constexpr int32_t kSlExecuteHigh = 2;
constexpr int32_t kSlCache = 3;

// What qn_sl_handler found. Owned by whoever received it; released with free_sl_result.
struct sl_result {
  char16_t* href;  // the root element's href (tracked wide string), never NULL in a result
  int32_t action;  // kSlExecuteLow (also when absent or unknown), kSlExecuteHigh, kSlCache
};

// Reads the Service Loading document: the first node must be "sl"; its attributes may be
// "href" and "action" only; an "href" with a non-empty value is required (a later one
// replaces an earlier one). Returns 1 and hands *result to the caller, or -2000 (no memory)
// or -2020 (not a valid Service Loading document), leaving *result NULL.
int qn_sl_handler(sl_result** result, const xml_struct* document);
void free_sl_result(sl_result* result);

// Runs qn_sl_handler and, on 1, puts a new wide copy of the href into *url (tracked, the
// caller's to mem_free; *url must be NULL on entry). Returns 1, or the failure code of
// qn_sl_handler, or -2000 when the copy cannot be made (then no URL).
int handle_service_loading(const xml_struct* document, char16_t** url);
