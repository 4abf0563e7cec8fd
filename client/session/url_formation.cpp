// Resolution rules, the first that applies:
//   no base:        the reference alone; "http://" in front unless it already starts with a
//                   scheme and "://" whose first '/' is the one right after the colon;
//   "/path":        scheme and authority of the base, then the reference;
//   "?query":       the base up to its first '?', then the reference;
//   "#fragment":    no result;
//   anything else:  an absolute reference as it is; otherwise merged with the base's path
//                   (up to its last '/' before any '?' or '#'; for a "file:" base, its last
//                   backslash), or appended after a '/' when the base has no path.
// Then dot segments ("../", "./") are removed from the path, never reaching into the
// authority; the query and fragment stay as they are.
#include "client/session/url_formation.h"

#include <string_view>

#include "client/support/tracked_buffer.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"

namespace {

using View = std::u16string_view;
using Wide = TrackedBuffer<char16_t>;
constexpr size_t kNone = View::npos;
constexpr size_t kStep = 128;

bool append(Wide& out, View text) { return out.append(text.data(), text.size()); }

// The authority of a URL ends at the first '/' after its "://" (or after its start when it
// has no scheme); the path begins there.
size_t path_start(View url) {
  size_t sep = url.find(u"://");
  return url.find(u'/', sep == kNone ? 0 : sep + 3);
}

// The merged text without dot segments, into out.
bool remove_dot_segments(View url, Wide& out) {
  size_t tail = url.find_first_of(u"?#");
  View head = url.substr(0, tail);
  size_t root = path_start(head);
  if (root == kNone) return append(out, url);
  if (!append(out, head.substr(0, root))) return false;
  size_t i = root;
  while (i < head.size()) {
    bool segment_start = i > root && head[i - 1] == u'/';
    if (segment_start && head.substr(i, 3) == u"../") {
      // Drop the segment written last ("a/"), but never the root '/'.
      size_t written = out.size();
      size_t previous = written >= 2 ? View(out.data(), written - 1).rfind(u'/') : kNone;
      if (previous != kNone && previous >= root) out.truncate(previous + 1);
      i += 3;
    } else if (segment_start && head.substr(i, 2) == u"./") {
      i += 2;
    } else {
      if (!out.push(head[i])) return false;
      ++i;
    }
  }
  return tail == kNone || append(out, url.substr(tail));
}

// The merge before dot removal; false when there is no result (or no memory).
bool merge(const char16_t* base, View ref, Wide& out) {
  if (base == nullptr) {
    size_t sep = ref.find(u"://");
    bool absolute = sep != kNone && ref.find(u'/') == sep + 1;
    return (absolute || append(out, u"http://")) && append(out, ref);
  }
  View b(base);
  if (!ref.empty() && ref[0] == u'/') {
    size_t sep = b.find(u"://");
    size_t slash = b.find(u'/', sep == kNone ? 0 : sep + 3);
    View authority = b;
    if (slash != kNone) {
      authority = b.substr(0, slash);
    } else if (size_t hash = b.find(u'#'); hash != kNone && hash != 0) {
      authority = b.substr(0, hash);
    }
    return (sep != kNone || append(out, u"http://")) && append(out, authority) && append(out, ref);
  }
  if (!ref.empty() && ref[0] == u'?') {
    size_t q = b.find(u'?');
    return append(out, q == kNone || q == 0 ? b : b.substr(0, q)) && append(out, ref);
  }
  if (!ref.empty() && ref[0] == u'#') return false;
  size_t sep = ref.find(u"://");
  if (sep != kNone) {
    size_t mark = ref.find_first_of(u"?#");
    if (mark == kNone || mark > sep) return append(out, ref);
  }
  size_t end = b.find_first_of(u"?#");
  if (end == kNone) end = b.size();
  size_t merge_point = kNone;
  if (b.substr(0, 5) == u"file:") {
    merge_point = b.rfind(u'\\');
  } else if (end > 0) {
    merge_point = b.rfind(u'/', end - 1);
    size_t base_sep = b.find(u"://");
    if (merge_point != kNone && base_sep != kNone && (merge_point == base_sep + 1 || merge_point == base_sep + 2))
      merge_point = kNone;  // one of the slashes of "://": the base has no path
  }
  if (merge_point != kNone) return append(out, b.substr(0, merge_point + 1)) && append(out, ref);
  return append(out, b.substr(0, end)) && out.push(u'/') && append(out, ref);
}

}  // namespace

char16_t* resolve_url(const char16_t* base, const char16_t* reference) {
  if (reference == nullptr) return nullptr;
  Wide merged(kStep, kMaxUrlChars);
  if (!merge(base, View(reference), merged)) return nullptr;
  Wide out(kStep, kMaxUrlChars);
  if (!remove_dot_segments(View(merged.data(), merged.size()), out)) return nullptr;
  return out.release();
}

char* get_new_url(const char* base, const char* reference) {
  if (reference == nullptr) return nullptr;
  char16_t* wide_base = nullptr;
  char16_t* wide_reference = nullptr;
  char* result = nullptr;
  if ((base == nullptr || narrow_to_new_wide(base, &wide_base) == kOk) &&
      narrow_to_new_wide(reference, &wide_reference) == kOk) {
    char16_t* resolved = resolve_url(wide_base, wide_reference);
    if (resolved != nullptr && wide_to_new_narrow(resolved, &result) != kOk) result = nullptr;
    MEM_FREE(resolved);
  }
  MEM_FREE(wide_base);
  MEM_FREE(wide_reference);
  return result;
}
