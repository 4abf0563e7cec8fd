// URL formation: turns a reference found in a document or a header (a status-uri, a
// redirect's Location, a pushed URL) into an absolute URL, given the URL it is relative to.
// A small resolver with fixed rules of its own, working on wide text; the narrow wrapper
// converts in and out. Results are new tracked strings (mem_free); intermediate texts are
// released before return.
#pragma once

// Longest URL the resolver builds, in characters; a longer result counts as no result.
constexpr int kMaxUrlChars = 64 * 1024;

// The reference resolved against base (base may be NULL): NULL for no reference, a
// reference that is only a fragment ("#..."), or no memory.
char16_t* resolve_url(const char16_t* base, const char16_t* reference);

// resolve_url over narrow text (the device's code page).
char* get_new_url(const char* base, const char* reference);
