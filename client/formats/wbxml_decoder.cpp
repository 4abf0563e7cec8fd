// WBXML decoder: header, body tokens of the content and attribute contexts, strings, and
// the textual rendering written to the trace file.
#include "client/formats/wbxml_decoder.h"

#include <cstdio>
#include <cstring>

#include "client/support/tracked_buffer.h"
#include "client/support/utils.h"
#include "common/wrapper.h"
#include "client/formats/wbxml_tables.h"
#include "common/program_files.h"
#include "common/result_text.h"
#include "common/tracked_memory.h"
#include "platform/text.h"

namespace {

// Global tokens.
constexpr unsigned char kSwitchPage = 0x00;
constexpr unsigned char kEnd = 0x01;
constexpr unsigned char kEntity = 0x02;
constexpr unsigned char kStrI = 0x03;
constexpr unsigned char kLiteral = 0x04;
constexpr unsigned char kExtI0 = 0x40;
constexpr unsigned char kExtI2 = 0x42;
constexpr unsigned char kExtT0 = 0x80;
constexpr unsigned char kExtT2 = 0x82;
constexpr unsigned char kStrT = 0x83;
constexpr unsigned char kOpaque = 0xC3;
constexpr unsigned char kFirstValueToken = 0x85;

// Tag token bits.
constexpr unsigned char kTagHasAttributes = 0x80;
constexpr unsigned char kTagHasContent = 0x40;
constexpr unsigned char kTagCode = 0x3F;

constexpr uint32_t kCharsetUtf8 = 106;
constexpr size_t kRenderingStep = 1024;  // the rendering grows in 1024-byte steps
constexpr size_t kTextStep = 64;
constexpr size_t kStackStep = 16;

// Suffixes of the three variable-reference forms (escaped, unescaped, no escaping).
constexpr const char* kVariableSuffix[] = {":e)", ":u)", ":n)"};

using Wide = TrackedBuffer<char16_t>;
using Narrow = TrackedBuffer<char>;

#define TRY(expression)              \
  do {                               \
    int status_ = (expression);      \
    if (status_ != kOk) return status_; \
  } while (0)

// Decoder state, one per document.
//   input[position, input_length) is what is left to read; the string table is a copy.
//   open holds the open elements, innermost last; pending collects character data since
//   the last tag (has_pending tells an empty run from none); rendering is the trace text.
//   Every node made is linked into the document at once, so a failure anywhere leaves
//   nothing that free_xml_struct would not release.
struct wbxml_decoder {
  uint32_t charset = 0;
  uint32_t version = 0;
  uint32_t public_id = 0;
  int32_t string_table_length = 0;
  unsigned char* string_table = nullptr;
  const unsigned char* input = nullptr;
  int32_t input_length = 0;
  int32_t position = 0;
  int32_t element_count = 0;
  TrackedBuffer<xml_node*> open{kStackStep, kWbxmlMaxValue};
  Wide pending{kTextStep, kWbxmlMaxValue};
  bool has_pending = false;
  Narrow rendering{kRenderingStep, kWbxmlMaxRendering};
  bool in_attribute = false;  // the rendering is inside an attribute value's quotes
  uint32_t code_page = 0;

  xml_struct* document = nullptr;
  xml_node_chain nodes{nullptr, nullptr};  // appends to document->xml_root

  wbxml_decoder() = default;
  wbxml_decoder(const wbxml_decoder&) = delete;
  wbxml_decoder& operator=(const wbxml_decoder&) = delete;
  ~wbxml_decoder() { MEM_FREE(string_table); }

  size_t left() const { return static_cast<size_t>(input_length - position); }
};

// ---- Rendering --------------------------------------------------------------------------------

int render(wbxml_decoder& d, const char* text, size_t length) {
  return d.rendering.append(text, length) ? kOk : kErrNoMemory;
}
int render(wbxml_decoder& d, const char* text) { return render(d, text, std::strlen(text)); }

int render_number_reference(wbxml_decoder& d, uint32_t value) {
  char text[24];
  int n = std::snprintf(text, sizeof text, "&#%u;", value);
  return render(d, text, static_cast<size_t>(n));
}

// The escape of a character the rendering cannot show as itself: '&', '<' and '>' always,
// '"' inside an attribute value (as the reply writer escapes them), NULL for the others.
// A value reads back as it was decoded, whichever tokens carried it.
const char* markup_escape(const wbxml_decoder& d, char16_t ch) {
  switch (ch) {
    case u'&': return "&amp;";
    case u'<': return "&lt;";
    case u'>': return "&gt;";
    case u'"': return d.in_attribute ? "&quot;" : nullptr;
    default: return nullptr;
  }
}

// Text as the rendering shows it: characters from 128 on as "&#N;", markup escaped.
int render_wide(wbxml_decoder& d, const char16_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (const char* escape = markup_escape(d, text[i])) {
      TRY(render(d, escape));
    } else if (text[i] < 0x80) {
      char c = static_cast<char>(text[i]);
      TRY(render(d, &c, 1));
    } else {
      TRY(render_number_reference(d, text[i]));
    }
  }
  return kOk;
}

// ---- Reading ----------------------------------------------------------------------------------

int read_byte(wbxml_decoder& d, unsigned char* out) {
  if (d.position >= d.input_length) return kWbxmlErrTruncated;
  *out = d.input[d.position++];
  return kOk;
}

// mb_u_int32: 7 bits per byte, most significant group first; any number of bytes as long
// as the value fits in 32 bits.
int read_mb_u_int32(wbxml_decoder& d, uint32_t* out) {
  uint32_t value = 0;
  unsigned char b = 0;
  do {
    TRY(read_byte(d, &b));
    if (value > (UINT32_MAX >> 7)) return kWbxmlErrTruncated;  // would overflow 32 bits
    value = value << 7 | (b & 0x7F);
  } while (b & 0x80);
  *out = value;
  return kOk;
}

bool append_narrow(Wide& out, const char* text) {
  for (; *text != '\0'; ++text)
    if (!out.push(plat::cp1252_to_utf16_char(static_cast<unsigned char>(*text)))) return false;
  return true;
}

// Decodes the string bytes[0, length) (no terminator inside) and appends it to out: UTF-8
// for charset 106, otherwise one character per byte. A multi-byte sequence must end inside
// the string: its continuation bytes are taken as they are, but never from beyond it.
int decode_string(const wbxml_decoder& d, const unsigned char* bytes, size_t length,
                  bool double_dollar, Wide& out) {
  if (!out.reserve(length)) return kErrNoMemory;
  for (size_t i = 0; i < length;) {
    unsigned char lead = bytes[i++];
    char16_t ch = lead;
    if (d.charset == kCharsetUtf8 && lead >= 0x80) {
      size_t more = 0;
      if ((lead & 0xE0) == 0xC0) {
        more = 1;
        ch = lead & 0x1F;
      } else if ((lead & 0xF0) == 0xE0) {
        more = 2;
        ch = lead & 0x0F;
      } else {
        return kWbxmlErrUtf8;
      }
      if (length - i < more) return kWbxmlErrUtf8;
      for (size_t k = 0; k < more; ++k) ch = static_cast<char16_t>(ch << 6 | (bytes[i++] & 0x3F));
    }
    if (!out.push(ch)) return kErrNoMemory;
    if (ch == u'$' && double_dollar && !out.push(ch)) return kErrNoMemory;
  }
  return kOk;
}

// WML marks its variables with "$", so a literal "$" of a WML deck is escaped as "$$" in
// the rendering. Other documents have no variables: a "$" in a Service Loading URL stays
// one "$".
bool has_variables(uint32_t public_id) {
  return public_id == kWbxmlPublicWml10 || public_id == kWbxmlPublicWml11 || public_id == kWbxmlPublicWml12 ||
         public_id == kWbxmlPublicWml13 || public_id == kWbxmlPublicWtaWml12;
}

// Inline string (STR_I, EXT_I_n): to the next zero byte of the input.
int read_inline_string(wbxml_decoder& d, Wide& out) {
  const unsigned char* start = d.input + d.position;
  const void* zero = std::memchr(start, 0, d.left());
  if (zero == nullptr) return kWbxmlErrTruncated;
  size_t length = static_cast<size_t>(static_cast<const unsigned char*>(zero) - start);
  TRY(decode_string(d, start, length, has_variables(d.public_id), out));
  d.position += static_cast<int32_t>(length + 1);
  return kOk;
}

// String-table string (STR_T, EXT_T_n, LITERAL): the mb_u_int32 offset that follows, to the
// next zero byte inside the table.
int read_table_string(wbxml_decoder& d, Wide& out) {
  uint32_t offset = 0;
  TRY(read_mb_u_int32(d, &offset));
  if (offset >= static_cast<uint32_t>(d.string_table_length)) return kWbxmlErrStringTable;
  const unsigned char* start = d.string_table + offset;
  size_t room = static_cast<size_t>(d.string_table_length) - offset;
  const void* zero = std::memchr(start, 0, room);
  if (zero == nullptr) return kWbxmlErrStringTable;
  size_t length = static_cast<size_t>(static_cast<const unsigned char*>(zero) - start);
  return decode_string(d, start, length, false, out);
}

// A name from the string table, in the narrow text of the document model.
int read_table_name(wbxml_decoder& d, char** name) {
  Wide wide(kTextStep, kWbxmlMaxValue);
  TRY(read_table_string(d, wide));
  Narrow narrow(kTextStep, kWbxmlMaxValue);
  for (size_t i = 0; i < wide.size(); ++i) {
    char c = '?';
    plat::utf16_to_cp1252_char(wide[i], &c);
    if (!narrow.push(c)) return kErrNoMemory;
  }
  *name = narrow.release();
  return *name != nullptr ? kOk : kErrNoMemory;
}

// ---- Text tokens (shared by content and attribute values) ------------------------------------

int text_inline(wbxml_decoder& d, Wide& out) {
  size_t start = out.size();
  TRY(read_inline_string(d, out));
  return render_wide(d, out.data() + start, out.size() - start);
}

int text_table(wbxml_decoder& d, Wide& out) {
  size_t start = out.size();
  TRY(read_table_string(d, out));
  return render_wide(d, out.data() + start, out.size() - start);
}

int text_entity(wbxml_decoder& d, Wide& out) {
  uint32_t code = 0;
  TRY(read_mb_u_int32(d, &code));
  if (!out.push(static_cast<char16_t>(code & 0xFFFF))) return kErrNoMemory;
  return render_number_reference(d, code);
}

// "$(" + name + suffix, from an inline (EXT_I_n) or string-table (EXT_T_n) name.
int text_variable(wbxml_decoder& d, Wide& out, bool from_table, int form) {
  Wide name(kTextStep, kWbxmlMaxValue);
  TRY(from_table ? read_table_string(d, name) : read_inline_string(d, name));
  size_t start = out.size();
  if (!append_narrow(out, "$(") || !out.append(name.data(), name.size()) ||
      !append_narrow(out, kVariableSuffix[form]))
    return kErrNoMemory;
  return render_wide(d, out.data() + start, out.size() - start);
}

// OPAQUE as a date and time: two hex digits per byte, "-" after the 2nd and 3rd byte, "T"
// after the 4th, ":" after the 5th and 6th, "Z" after the 7th (20 07 10 26 16 29 07 is
// 2007-10-26T16:29:07Z); further bytes follow without separators. A date may leave out its
// trailing zero bytes (20 24 03 01 12 is 2024-03-01T12:00:00Z): a shorter value is rendered
// as the whole seven bytes, the missing ones 0.
int text_opaque(wbxml_decoder& d, Wide& out) {
  uint32_t length = 0;
  TRY(read_mb_u_int32(d, &length));
  if (length > d.left()) return kWbxmlErrTruncated;
  static constexpr char kHex[] = "0123456789abcdef";
  static constexpr char kSeparator[] = {0, 0, '-', '-', 'T', ':', ':', 'Z'};
  constexpr uint32_t kDateBytes = 7;
  const uint32_t shown = length > 0 && length < kDateBytes ? kDateBytes : length;
  size_t start = out.size();
  if (!out.reserve(static_cast<size_t>(shown) * 2 + 6)) return kErrNoMemory;
  for (uint32_t i = 0; i < shown; ++i) {
    unsigned char b = i < length ? d.input[d.position + static_cast<int32_t>(i)] : 0;
    out.push(static_cast<char16_t>(kHex[b >> 4]));
    out.push(static_cast<char16_t>(kHex[b & 0x0F]));
    if (i + 1 < sizeof kSeparator && kSeparator[i + 1] != 0)
      out.push(static_cast<char16_t>(kSeparator[i + 1]));
  }
  d.position += static_cast<int32_t>(length);
  return render_wide(d, out.data() + start, out.size() - start);
}

// Handles b when it is a text token; *handled tells whether it was one.
int text_token(wbxml_decoder& d, unsigned char b, Wide& out, bool* handled) {
  *handled = true;
  if (b == kStrI) return text_inline(d, out);
  if (b == kStrT) return text_table(d, out);
  if (b == kEntity) return text_entity(d, out);
  if (b == kOpaque) return text_opaque(d, out);
  if (b >= kExtI0 && b <= kExtI2) return text_variable(d, out, false, b - kExtI0);
  if (b >= kExtT0 && b <= kExtT2) return text_variable(d, out, true, b - kExtT0);
  *handled = false;
  return kOk;
}

// ---- Document model ---------------------------------------------------------------------------

// A new node at the end of the document list; its tag name is a copy of name, or name
// itself when `owned` (released on failure).
int new_node(wbxml_decoder& d, const char* name, char* owned, xml_node** out) {
  xml_node* parent = d.open.empty() ? nullptr : d.open[d.open.size() - 1];
  *out = xml_chain_append(&d.nodes, owned != nullptr ? owned : str_dup(name), parent);
  return *out != nullptr ? kOk : kErrNoMemory;
}

// Appends an attribute at *tail (name and value taken over, released on failure).
int new_attr(xml_attr*** tail, char* name, char16_t* value) {
  return xml_attr_append(tail, name, value) != nullptr ? kOk : kErrNoMemory;
}

// Pending character data becomes a "t_inline" node of the innermost open element.
int flush_pending(wbxml_decoder& d) {
  if (!d.has_pending) return kOk;
  if (d.open.empty()) return kWbxmlErrNoOpenElement;
  xml_node* node = nullptr;
  TRY(new_node(d, kXmlInlineTag, nullptr, &node));
  xml_attr** tail = &node->attributes;
  char16_t* text = d.pending.release();
  d.has_pending = false;
  return new_attr(&tail, str_dup(kXmlInlineTag), text);
}

// ---- Attributes -------------------------------------------------------------------------------

// Collects value tokens up to the first token that is not one (left unread).
int collect_value(wbxml_decoder& d, Wide& value) {
  for (;;) {
    if (d.position >= d.input_length) return kWbxmlErrTruncated;
    unsigned char b = d.input[d.position];
    if (b == kSwitchPage) {
      ++d.position;
      unsigned char page = 0;
      TRY(read_byte(d, &page));
      d.code_page = page;
      continue;
    }
    bool handled = false;
    if (b == kStrI || b == kStrT || b == kEntity || b == kOpaque ||
        (b >= kExtI0 && b <= kExtI2) || (b >= kExtT0 && b <= kExtT2)) {
      ++d.position;
      TRY(text_token(d, b, value, &handled));
      continue;
    }
    if (b < kFirstValueToken) return kOk;
    ++d.position;
    // A value token without an entry contributes nothing.
    const char* text = wbxml_attr_value_text(d.public_id, d.code_page, b);
    if (text != nullptr) {
      size_t start = value.size();
      if (!append_narrow(value, text)) return kErrNoMemory;
      TRY(render_wide(d, value.data() + start, value.size() - start));
    }
  }
}

// The attribute list of an element, up to its END.
int parse_attributes(wbxml_decoder& d, xml_node* element) {
  xml_attr** tail = &element->attributes;
  for (;;) {
    unsigned char b = 0;
    TRY(read_byte(d, &b));
    if (b == kEnd) return kOk;
    if (b == kSwitchPage) {
      unsigned char page = 0;
      TRY(read_byte(d, &page));
      d.code_page = page;
      continue;
    }
    char* literal = nullptr;
    const char* start = nullptr;
    if (b == kLiteral) {
      TRY(read_table_name(d, &literal));
      start = literal;
    } else if (b < 0x80) {
      start = wbxml_attr_start_text(d.public_id, d.code_page, b);
    }
    if (start == nullptr) return kWbxmlErrUnknownAttr;

    // "name", "name=\"prefix" or "name=\"prefix\"".
    const char* quote = std::strchr(start, '"');
    size_t name_length = std::strlen(start);
    const char* prefix = "";
    size_t prefix_length = 0;
    if (quote != nullptr) {
      name_length = quote > start ? static_cast<size_t>(quote - start) - 1 : 0;
      prefix = quote + 1;
      const char* closing = std::strchr(prefix, '"');
      prefix_length = closing != nullptr ? static_cast<size_t>(closing - prefix) : std::strlen(prefix);
    }
    int status = render(d, " ");
    if (status == kOk) status = render(d, start);
    if (status == kOk && quote == nullptr) status = render(d, "=\"");
    char* name = status == kOk ? str_copy_span(start, 0, static_cast<int>(name_length)) : nullptr;
    Wide value(kTextStep, kWbxmlMaxValue);
    for (size_t i = 0; status == kOk && i < prefix_length; ++i)
      if (!value.push(plat::cp1252_to_utf16_char(static_cast<unsigned char>(prefix[i]))))
        status = kErrNoMemory;
    MEM_FREE(literal);
    if (status == kOk && name == nullptr) status = kErrNoMemory;
    d.in_attribute = true;
    if (status == kOk) status = collect_value(d, value);
    d.in_attribute = false;
    if (status == kOk) status = render(d, "\"");
    if (status != kOk) {
      MEM_FREE(name);
      return status;
    }
    TRY(new_attr(&tail, name, value.release()));
  }
}

// ---- Body -------------------------------------------------------------------------------------

int parse_tag(wbxml_decoder& d, unsigned char b) {
  TRY(flush_pending(d));
  char* literal = nullptr;
  const char* name = nullptr;
  if (b == kLiteral) {
    TRY(read_table_name(d, &literal));
  } else {
    name = wbxml_tag_text(d.public_id, d.code_page, b & kTagCode);
    if (name == nullptr) return kWbxmlErrUnknownTag;
  }
  xml_node* node = nullptr;
  TRY(new_node(d, name, literal, &node));
  TRY(render(d, "<"));
  TRY(render(d, node->tag_name));
  if (!d.open.push(node)) return kErrNoMemory;
  ++d.element_count;
  bool attributes = b != kLiteral && (b & kTagHasAttributes);
  bool content = b != kLiteral && (b & kTagHasContent);
  if (attributes) TRY(parse_attributes(d, node));
  if (!content) {
    d.open.pop();
    return render(d, "/>\n");
  }
  return render(d, ">\n");
}

int parse_end(wbxml_decoder& d) {
  TRY(flush_pending(d));
  if (d.open.empty()) return kWbxmlErrNoOpenElement;
  xml_node* element = d.open[d.open.size() - 1];
  d.open.pop();
  TRY(render(d, "</"));
  TRY(render(d, element->tag_name));
  return render(d, ">\n");
}

int parse_body(wbxml_decoder& d) {
  while (d.position < d.input_length) {
    unsigned char b = d.input[d.position++];
    if (b == kSwitchPage) {
      unsigned char page = 0;
      TRY(read_byte(d, &page));
      d.code_page = page;
      continue;
    }
    if (b == kEnd) {
      TRY(parse_end(d));
      continue;
    }
    bool handled = false;
    TRY(text_token(d, b, d.pending, &handled));
    if (handled) {
      d.has_pending = true;
      continue;
    }
    TRY(parse_tag(d, b));
  }
  // Elements still open are not reported; text after the last tag is dropped.
  return kOk;
}

int parse(wbxml_decoder& d) {
  log_message(0, kLogTrace, "parse : inside the function ");
  unsigned char version = 0;
  uint32_t table_length = 0;
  TRY(read_byte(d, &version));
  d.version = version;
  TRY(read_mb_u_int32(d, &d.public_id));
  TRY(read_mb_u_int32(d, &d.charset));
  TRY(read_mb_u_int32(d, &table_length));
  if (table_length > d.left()) return kWbxmlErrTruncated;
  d.document->wbxml_version = d.version;
  d.document->public_id = d.public_id;
  d.document->charset = d.charset;
  d.string_table_length = static_cast<int32_t>(table_length);
  d.string_table = static_cast<unsigned char*>(MEM_ALLOC(1, table_length));
  if (d.string_table == nullptr) return kErrNoMemory;
  std::memcpy(d.string_table, d.input + d.position, table_length);
  d.position += static_cast<int32_t>(table_length);
  return parse_body(d);
}

// Copies count characters of text (plus a terminator) into *out.
int copy_wide(const char16_t* text, int32_t count, char16_t** out) {
  auto* copy = static_cast<char16_t*>(MEM_ALLOC(static_cast<size_t>(count) + 1, sizeof(char16_t)));
  if (copy == nullptr) return kErrNoMemory;
  std::memcpy(copy, text, static_cast<size_t>(count) * sizeof(char16_t));
  *out = copy;
  return kOk;
}

}  // namespace

int wbxml_decode_document(const unsigned char* data, int32_t length, xml_struct* document,
                          char** rendering) {
  if (rendering != nullptr) *rendering = nullptr;
  if (data == nullptr || length <= 0) {
    free_xml_struct(document);
    return kWbxmlErrEmpty;
  }
  if (document == nullptr) return kErrNullInput;
  wbxml_decoder d;
  d.input = data;
  d.input_length = length;
  d.document = document;
  d.nodes.head = &document->xml_root;
  int status = parse(d);
  if (rendering != nullptr && !d.rendering.empty()) *rendering = d.rendering.release();
  if (status != kOk) free_xml_struct(document);
  return status;
}

int qn_wbxml_decode(const unsigned char* data, int32_t length, const char16_t* url,
                    int32_t url_length, const char16_t* post, int32_t post_length,
                    xml_struct* document, const char16_t* trace_name) {
  log_message(0, kLogTrace, "qn_wbxml_decode : entered the function ");
  if (data == nullptr || length <= 0) {
    free_xml_struct(document);
    return kWbxmlErrEmpty;
  }
  if (document == nullptr) return kErrNullInput;
  if (url != nullptr && url_length > 0) {
    log_message(0, kLogTrace, "qn_wbxml_decode : allocating xml_struct->url - size [%d]",
                url_length * 2 + 2);
    if (copy_wide(url, url_length, &document->url) != kOk) {
      free_xml_struct(document);
      return kErrNoMemory;
    }
    document->url_len = url_length;
  }
  if (post != nullptr && post_length > 0) {
    log_message(0, kLogTrace, "qn_wbxml_decode : allocating xml_struct->post - size [%d]",
                post_length * 2 + 2);
    if (copy_wide(post, post_length, &document->post) != kOk) {
      free_xml_struct(document);
      return kErrNoMemory;
    }
    document->post_len = post_length;
  }
  log_message(0, kLogTrace, "qn_wbxml_decode : before calling parse function ");
  char* rendering = nullptr;
  int status = wbxml_decode_document(data, length, document, &rendering);
  if (rendering != nullptr && trace_name != nullptr)
    write_program_file(trace_name, rendering, std::strlen(rendering));
  MEM_FREE(rendering);
  log_message(0, kLogTrace, "qn_wbxml_decode : after calling parse function ");
  if (status != kOk) {
    log_message(0, kLogTrace, "qn_wbxml_decode : freeing free_xml_struct - size ");
    free_xml_struct(document);
  }
  return status;
}

// ---- Result codes in words ----------------------------------------------------------------

namespace {

constexpr result_meaning kWbxmlResults[] = {
    {kWbxmlErrEmpty, "empty input"},
    {kWbxmlErrTruncated, "input ended inside the header, a token or a string"},
    {kWbxmlErrNoOpenElement, "END or character data outside every element"},
    {kWbxmlErrUnknownTag, "tag code not in the tag table of the document type"},
    {kWbxmlErrUtf8, "invalid UTF-8 in a string"},
    {kWbxmlErrStringTable, "string-table reference out of range or unterminated"},
    {kWbxmlErrUnknownAttr, "attribute-start code not in the table"},
    {-2002, "no document record"},
};

}  // namespace

std::string wbxml_result_text(int status) { return result_text(status, kWbxmlResults); }
