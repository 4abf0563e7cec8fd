// The XML parser: fixed passes over a private copy of the text, then one left-to-right scan
// that keeps a stack of open elements and appends nodes to the document-order list.
#include <cstring>
#include <string_view>

#include "client/formats/qnxml.h"
#include "client/formats/qnxml_utils.h"
#include "client/support/utils.h"
#include "common/result_text.h"
#include "common/tracked_memory.h"
#include "platform/text.h"

namespace {

constexpr size_t kNone = std::string_view::npos;

size_t find_char_in(const char* text, size_t length, size_t from, char ch) {
  if (from >= length) return kNone;
  const void* hit = std::memchr(text + from, ch, length - from);
  return hit == nullptr ? kNone : static_cast<size_t>(static_cast<const char*>(hit) - text);
}

char* copy_text(const char* text, size_t length) {
  char* out = static_cast<char*>(MEM_ALLOC(length + 1, 1));
  if (out != nullptr && length > 0) std::memcpy(out, text, length);
  return out;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Names of the attributes of one tag seen so far, for the repeated-name check. Small tags
// compare against the list; from kHashFrom names on an open-addressed table keeps a tag with
// a huge attribute count linear.
class AttrNameSet {
 public:
  ~AttrNameSet() { MEM_FREE(slots_); }

  // 1 when added, 0 when already present, -2000 when memory runs out.
  int add(std::string_view name) {
    if (count_ < kHashFrom) {
      for (size_t k = 0; k < count_; ++k)
        if (small_[k] == name) return 0;
      small_[count_++] = name;
      if (count_ == kHashFrom && !rehash(64)) return -2000;
      return 1;
    }
    if ((count_ + 1) * 2 > capacity_ && !rehash(capacity_ * 2)) return -2000;
    if (!insert(name)) return 0;
    ++count_;
    return 1;
  }

 private:
  static constexpr size_t kHashFrom = 16;

  static size_t hash(std::string_view s) {
    size_t h = 1469598103934665603ull;
    for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return h;
  }

  bool insert(std::string_view name) {  // false when present
    size_t mask = capacity_ - 1;
    for (size_t i = hash(name) & mask;; i = (i + 1) & mask) {
      if (slots_[i].data() == nullptr) {
        slots_[i] = name;
        return true;
      }
      if (slots_[i] == name) return false;
    }
  }

  bool rehash(size_t capacity) {
    std::string_view* old = slots_;
    size_t old_capacity = capacity_;
    auto* fresh = static_cast<std::string_view*>(MEM_ALLOC(capacity, sizeof(std::string_view)));
    if (fresh == nullptr) return false;
    for (size_t i = 0; i < capacity; ++i) fresh[i] = std::string_view();
    slots_ = fresh;
    capacity_ = capacity;
    if (old == nullptr) {
      for (size_t k = 0; k < count_; ++k) insert(small_[k]);
    } else {
      for (size_t i = 0; i < old_capacity; ++i)
        if (old[i].data() != nullptr) insert(old[i]);
      MEM_FREE(old);
    }
    return true;
  }

  std::string_view small_[kHashFrom];
  size_t count_ = 0;
  std::string_view* slots_ = nullptr;
  size_t capacity_ = 0;
};

// State of one scan. Owns everything until the document takes the node list.
struct Scan {
  const char* text = nullptr;
  size_t length = 0;
  xml_node* first = nullptr;
  xml_node_chain chain{&first, nullptr};  // appends to first
  xml_node** stack_root = nullptr;  // open elements; top = innermost
  size_t depth = 0;
  size_t stack_capacity = 0;
  bool pre = false;
  char* scratch = nullptr;  // entity decoding of one value, room for the whole text

  ~Scan() {
    free_xml_node_list(first);
    MEM_FREE(stack_root);
    MEM_FREE(scratch);
  }

  xml_node* top() const { return depth == 0 ? nullptr : stack_root[depth - 1]; }

  bool push(xml_node* node) {
    if (depth == stack_capacity) {
      size_t capacity = stack_capacity == 0 ? 64 : stack_capacity * 2;
      auto* grown = static_cast<xml_node**>(MEM_ALLOC(capacity, sizeof(xml_node*)));
      if (grown == nullptr) return false;
      if (depth > 0) std::memcpy(grown, stack_root, depth * sizeof(xml_node*));
      MEM_FREE(stack_root);
      stack_root = grown;
      stack_capacity = capacity;
    }
    stack_root[depth++] = node;
    return true;
  }

  // Entity-decoded wide copy of text[from, from + n); -2000 when memory runs out.
  int decode_wide(size_t from, size_t n, char16_t** out) {
    size_t decoded = xml_decode_entities_into(text + from, n, scratch);
    auto* wide = static_cast<char16_t*>(MEM_ALLOC(decoded + 1, sizeof(char16_t)));
    if (wide == nullptr) return -2000;
    for (size_t k = 0; k < decoded; ++k)
      wide[k] = plat::cp1252_to_utf16_char(static_cast<unsigned char>(scratch[k]));
    *out = wide;
    return 1;
  }
};

// Parses the attribute text of one tag into *list (in the order written).
int xml_parse_attributes(Scan& scan, size_t from, size_t n, xml_attr** list) {
  const char* t = scan.text + from;
  if (std::memchr(t, '=', n) == nullptr) return -2021;
  xml_attr* head = nullptr;
  xml_attr** tail = &head;
  AttrNameSet names;
  auto fail = [&](int status) {
    free_xml_attr_list(head);
    return status;
  };
  size_t pos = 0;
  while (pos < n) {
    size_t eq = find_char_in(t, n, pos, '=');
    if (eq == kNone) return fail(-2021);
    std::string_view name(t + pos, eq - pos);
    if ((!name.empty() && name[0] == '<') || name.find_first_of("'\" ") != kNone)
      return fail(-2021);
    int added = names.add(name);
    if (added < 0) return fail(-2000);
    if (added == 0) return fail(-2026);
    size_t q = eq + 1;
    if (q >= n || (t[q] != '"' && t[q] != '\'')) return fail(-2021);
    size_t close = find_char_in(t, n, q + 1, t[q]);
    if (close == kNone) return fail(-2021);
    size_t p = close + 1;
    if (p < n && (t[p] == '"' || t[p] == '\'')) {
      log_message(-2028, kLogFailure, "error - *buf == QUOT || *buf == APOS");
      return fail(-2028);
    }
    if (p < n && (t[p] == ' ' || t[p] == '>')) ++p;
    if (p < n && t[p] == '=') {
      log_message(-2028, kLogFailure, "error - *buf == '='");
      return fail(-2028);
    }
    char16_t* value = nullptr;
    int status = scan.decode_wide(from + q + 1, close - (q + 1), &value);
    if (status != 1) return fail(status);
    if (xml_attr_append(&tail, copy_text(name.data(), name.size()), value) == nullptr) return fail(-2000);
    if (n - p == 2 && t[p] == '/' && t[p + 1] == '>') break;
    pos = p;
  }
  *list = head;
  return 1;
}

// A "t_inline" node holding the decoded text[from, from + n) under the innermost element.
int add_inline(Scan& scan, size_t from, size_t n) {
  xml_node* node = xml_chain_append(&scan.chain, copy_text(kXmlInlineTag, sizeof kXmlInlineTag - 1), scan.top());
  if (node == nullptr) return -2000;
  char16_t* value = nullptr;
  int status = scan.decode_wide(from, n, &value);
  if (status != 1) return status;
  xml_attr** tail = &node->attributes;
  if (xml_attr_append(&tail, copy_text(kXmlInlineTag, sizeof kXmlInlineTag - 1), value) == nullptr) return -2000;
  return 1;
}

// Character data and CDATA are refused before the first element and after the root closed.
int check_content_place(const Scan& scan) {
  if (scan.first == nullptr) {
    log_message(-2024, kLogFailure, "error xml_root");
    return -2024;
  }
  if (scan.depth == 0) {
    log_message(-2028, kLogFailure, "error !stack_root");
    return -2028;
  }
  return 1;
}

// One tag starting at the '<' at `pos`; *next receives the position after it.
int scan_tag(Scan& scan, size_t pos, size_t* next) {
  const char* t = scan.text;
  size_t gt = find_char_in(t, scan.length, pos, '>');
  if (gt == kNone) {
    log_message(-2028, kLogFailure, "error !buf || !tag");
    return -2028;
  }
  *next = gt + 1;
  size_t tag_length = gt - pos + 1;
  if (t[pos + 1] == '?' || t[pos + 1] == ' ') {
    log_message(-2028, kLogFailure, "error (tag + 1) == '?'");
    return -2028;
  }
  bool end_tag = t[pos + 1] == '/';
  bool empty_element = !end_tag && tag_length >= 3 && t[gt - 1] == '/';
  size_t name_start = pos + (end_tag ? 2 : 1);
  if (end_tag) {
    std::string_view inner(t + name_start, gt - name_start);
    if (inner.find_first_of("/ ") != kNone) {
      log_message(-2028, kLogFailure, "error - !tag || !tag_name");
      return -2028;
    }
  }
  size_t name_end = name_start;
  while (t[name_end] != ' ' && t[name_end] != '>' && t[name_end] != '/') ++name_end;
  if (name_end == name_start) {
    log_message(-2028, kLogFailure, "error - !tag || !tag_name");
    return -2028;
  }
  std::string_view name(t + name_start, name_end - name_start);
  size_t attr_from = name_end == gt ? gt + 1 : name_end + 1;
  size_t attr_length = gt + 1 - attr_from;
  std::string_view attr_text(t + attr_from, attr_length);
  if (attr_text == "/>" || (!attr_text.empty() && attr_text[0] == '>')) attr_length = 0;

  int status = xml_validate_name_span(name.data(), name.size());
  if (status != 1) return status;

  if (end_tag) {
    if (name == "pre") scan.pre = false;
    if (scan.depth == 0) {
      log_message(-2028, kLogFailure, "error stack_root");
      return -2028;
    }
    if (std::string_view(scan.top()->tag_name) != name) return -2022;
    --scan.depth;
    return 1;
  }

  xml_attr* attributes = nullptr;
  if (attr_length > 0) {
    status = xml_parse_attributes(scan, attr_from, attr_length, &attributes);
    if (status != 1) return status;
  }
  if (name == "pre") scan.pre = true;
  if (empty_element && scan.first == nullptr) {
    free_xml_attr_list(attributes);
    log_message(-2024, kLogFailure, "error EMPTY_ELEMENT_TAG");
    return -2024;
  }
  if (!empty_element && scan.depth == 0 && scan.first != nullptr) {
    free_xml_attr_list(attributes);
    return -2027;
  }
  xml_node* node = xml_chain_append(&scan.chain, copy_text(name.data(), name.size()), scan.top());
  if (node == nullptr) {
    free_xml_attr_list(attributes);
    return -2000;
  }
  node->attributes = attributes;
  if (!empty_element && !scan.push(node)) return -2000;
  return 1;
}

int scan_text(Scan& scan) {
  const char* t = scan.text;
  size_t n = scan.length;
  size_t pos = 0;
  while (pos < n) {
    int status;
    if (t[pos] == '<' && pos + 1 < n && t[pos + 1] == '!') {
      constexpr std::string_view kOpen = "<![CDATA[";
      if (std::string_view(t + pos, n - pos).substr(0, kOpen.size()) != kOpen) return -2000;
      size_t close = std::string_view(t, n).find("]]>", pos + kOpen.size());
      if (close == kNone) return -2000;
      status = check_content_place(scan);
      if (status != 1) return status;
      size_t from = pos + kOpen.size();
      while (from < close && t[from] == ' ') ++from;
      status = add_inline(scan, from, close - from);
      if (status != 1) return status;
      pos = close + 3;
    } else if (t[pos] == '<') {
      size_t next = pos;
      status = scan_tag(scan, pos, &next);
      if (status != 1) return status;
      pos = next;
    } else {
      status = check_content_place(scan);
      if (status != 1) return status;
      size_t end = find_char_in(t, n, pos, '<');
      if (end == kNone) end = n;
      bool blank = true;
      for (size_t k = pos; k < end && blank; ++k) blank = is_blank(t[k]);
      if (!blank || scan.pre) {
        status = add_inline(scan, pos, end - pos);
        if (status != 1) return status;
      }
      pos = end;
    }
  }
  if (scan.depth != 0) {
    log_message(-2028, kLogFailure, "error - stack_root");
    return -2028;
  }
  return 1;
}

char16_t* copy_wide(const char16_t* text, int32_t length) {
  auto* out = static_cast<char16_t*>(MEM_ALLOC(static_cast<size_t>(length) + 1, sizeof(char16_t)));
  if (out != nullptr) std::memcpy(out, text, static_cast<size_t>(length) * sizeof(char16_t));
  return out;
}

// The passes and the scan; the document receives the results only on success.
int process(const char* buffer, size_t length, xml_struct* document, char** style_out) {
  // The working text ends at the first zero byte.
  const void* nul = std::memchr(buffer, 0, length);
  size_t n = nul == nullptr ? length : static_cast<size_t>(static_cast<const char*>(nul) - buffer);
  char* copy = copy_text(buffer, n);
  if (copy == nullptr) return -2000;

  if (style_out != nullptr) {
    int status = xml_extract_style(copy, n, style_out);
    if (status < 0) {
      MEM_FREE(copy);
      return status;
    }
  }

  int64_t stripped = xml_strip_comments(copy, n);
  if (stripped < 0) {
    MEM_FREE(copy);
    return static_cast<int>(stripped);
  }
  size_t normalized_length = 0;
  char* text = xml_normalize_space(copy, static_cast<size_t>(stripped), &normalized_length);
  if (text == nullptr) {
    MEM_FREE(copy);
    log_message(-2024, kLogFailure, "error !new_xml");
    return -2024;
  }
  // The copy is no longer read; it is at least as long as every later text, so it becomes the
  // scan's decoding buffer.
  char* scratch = copy;
  n = normalized_length;

  if (xml_get_encoding(text, n, &document->encoding) < 0) {
    MEM_FREE(text);
    MEM_FREE(scratch);
    return -2000;
  }

  int64_t without_pi = xml_strip_pi(text, n);
  if (without_pi < 0) {
    MEM_FREE(text);
    MEM_FREE(scratch);
    return static_cast<int>(without_pi);
  }
  n = static_cast<size_t>(without_pi);

  int64_t skip = xml_skip_declaration(text, n);
  if (skip < 0) {
    MEM_FREE(text);
    MEM_FREE(scratch);
    return static_cast<int>(skip);
  }

  Scan scan;
  scan.text = text + skip;
  scan.length = n - static_cast<size_t>(skip);
  scan.scratch = scratch;
  int status = scan_text(scan);
  MEM_FREE(text);
  if (status != 1) return status;
  document->xml_root = scan.first;
  scan.first = nullptr;
  return 1;
}

}  // namespace

int qn_xml_process(const char* buffer, int32_t length, const char16_t* url, int32_t url_length,
                   const char16_t* post, int32_t post_length, xml_struct* document,
                   const char16_t* name, char** style_out) {
  (void)name;
  if (style_out != nullptr) *style_out = nullptr;
  if (buffer == nullptr || document == nullptr) return -2002;
  if (length <= 0) return -2009;

  int status = process(buffer, static_cast<size_t>(length), document, style_out);
  if (status == 1 && url != nullptr && url_length > 0) {
    document->url = copy_wide(url, url_length);
    if (document->url == nullptr) status = -2000;
    else document->url_len = url_length;
  }
  if (status == 1 && post != nullptr && post_length > 0) {
    document->post = copy_wide(post, post_length);
    if (document->post == nullptr) status = -2000;
    else document->post_len = post_length;
  }
  if (status != 1) {
    // Nothing half-built stays behind: the caller's free_xml_struct then releases nothing
    // twice, and a style text is handed out only with a parsed document.
    free_xml_struct(document);
    if (style_out != nullptr) {
      MEM_FREE(*style_out);
      *style_out = nullptr;
    }
  }
  return status;
}

// ---- Status codes in words ------------------------------------------------------------------

namespace {

constexpr result_meaning kXmlResults[] = {
    {-2000, "out of memory, or a \"<!\" in the body that is not a complete CDATA section"},
    {kXmlErrEmptyInput, "empty input"},
    {kXmlErrAttribute, "attribute syntax: no '=', an unquoted or unterminated value, or a bad name"},
    {kXmlErrEndTagMismatch, "end tag differs from the innermost open element"},
    {kXmlErrPi, "processing instruction without \"?>\""},
    {kXmlErrStructure, "malformed comment, text before the first element, or a document that is one empty element"},
    {kXmlErrDeclaration, "leading \"<!\" declaration without '>'"},
    {kXmlErrDuplicateAttr, "attribute name repeated in one tag"},
    {kXmlErrSecondRoot, "a second top-level element"},
    {kXmlErrSyntax, "malformed tag or nesting: a '<' without '>', a bad name, an end tag without an open element, "
                    "text after the root element, or elements left open"},
};

}  // namespace

std::string xml_result_text(int status) { return result_text(status, kXmlResults); }
