// Multipart splitting, MIME header lines and the transfer decodings.
#include "client/formats/http_parse.h"

#include <cstring>
#include <string_view>

#include "common/tracked_memory.h"
#include "platform/text.h"

namespace {

constexpr size_t kNone = std::string_view::npos;

char* copy_text(const char* text, size_t length) {
  char* out = static_cast<char*>(MEM_ALLOC(length + 1, 1));
  if (out != nullptr && length > 0) std::memcpy(out, text, length);
  return out;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

size_t find_nocase(std::string_view text, std::string_view needle) {
  if (needle.size() > text.size()) return kNone;
  for (size_t i = 0; i + needle.size() <= text.size(); ++i)
    if (equals_nocase(text.substr(i, needle.size()), needle)) return i;
  return kNone;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int base64_value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// The file name of an attachment: the quoted text after "filename=", else the whole value.
char16_t* attachment_name(const char* disposition) {
  std::string_view d(disposition);
  std::string_view name = d;
  size_t key = d.find("filename=");
  if (key != kNone) {
    size_t open = d.find('"', key + 9);
    if (open != kNone) {
      size_t close = d.find('"', open + 1);
      if (close != kNone) name = d.substr(open + 1, close - open - 1);
    }
  }
  std::u16string wide = plat::cp1252_to_utf16(name);
  auto* out = static_cast<char16_t*>(MEM_ALLOC(wide.size() + 1, sizeof(char16_t)));
  if (out != nullptr && !wide.empty()) std::memcpy(out, wide.data(), wide.size() * sizeof(char16_t));
  return out;
}

}  // namespace

// ---- Transfer decodings --------------------------------------------------------------------

int decode_base64(const char* text, size_t length, char** out, int* out_length) {
  *out = nullptr;
  *out_length = 0;
  char* result = static_cast<char*>(MEM_ALLOC(length / 4 * 3 + 4, 1));
  if (result == nullptr) return -2000;
  size_t o = 0;
  uint32_t group = 0;
  int count = 0;
  auto flush = [&] {
    // k sextets give k - 1 bytes (none for a lone sextet).
    if (count >= 2) result[o++] = static_cast<char>(group >> 16);
    if (count >= 3) result[o++] = static_cast<char>(group >> 8);
    if (count == 4) result[o++] = static_cast<char>(group);
    group = 0;
    count = 0;
  };
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '=' || c == 0) {
      flush();
      continue;
    }
    int v = base64_value(c);
    if (v < 0) continue;
    group |= static_cast<uint32_t>(v) << (18 - 6 * count);
    if (++count == 4) flush();
  }
  flush();
  result[o] = '\0';
  *out = result;
  *out_length = static_cast<int>(o);
  return 1;
}

int decode_quoted_printable(const char* text, size_t length, char** out, int* out_length) {
  *out = nullptr;
  *out_length = 0;
  char* result = static_cast<char*>(MEM_ALLOC(length + 1, 1));
  if (result == nullptr) return -2000;
  size_t o = 0;
  int status = 1;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] != '=') {
      result[o++] = text[i];
      continue;
    }
    if (i + 1 < length && text[i + 1] == '\r') {  // soft line break, CR or CR LF
      i += (i + 2 < length && text[i + 2] == '\n') ? 2 : 1;
      continue;
    }
    if (i + 1 < length && text[i + 1] == '\n') {
      i += 1;
      continue;
    }
    int hi = i + 1 < length ? hex_digit(text[i + 1]) : -1;
    int lo = i + 2 < length ? hex_digit(text[i + 2]) : -1;
    if (hi < 0 || lo < 0) {
      status = 0;
      break;
    }
    result[o++] = static_cast<char>(hi << 4 | lo);
    i += 2;
  }
  result[o] = '\0';
  *out = result;
  *out_length = static_cast<int>(o);
  return status;
}

// ---- Header lines ----------------------------------------------------------------------------

int parse_header_lines(const char* text, size_t length, MimeHeader** list) {
  *list = nullptr;
  if (text == nullptr) return -2002;
  MimeHeader* head = nullptr;
  MimeHeader* tail = nullptr;
  size_t pos = 0;
  while (pos < length) {
    // A line ends at its LF (the CR before it is not part of the line); a following line that
    // begins with a TAB continues it.
    const void* lf = std::memchr(text + pos, '\n', length - pos);
    if (lf == nullptr) break;
    size_t end = static_cast<size_t>(static_cast<const char*>(lf) - text);
    while (end + 1 < length && text[end + 1] == '\t') {
      const void* more = std::memchr(text + end + 1, '\n', length - end - 1);
      if (more == nullptr) break;
      end = static_cast<size_t>(static_cast<const char*>(more) - text);
    }
    size_t line_end = end;
    if (line_end > pos && text[line_end - 1] == '\r') --line_end;
    std::string_view line(text + pos, line_end - pos);
    size_t next = end + 1;
    size_t colon = line.find(':');
    if (colon == kNone) break;
    if (colon > 0) {
      size_t value_at = colon + 1;
      if (value_at < line.size() && line[value_at] == ' ') ++value_at;
      auto* header = static_cast<MimeHeader*>(MEM_ALLOC(1, sizeof(MimeHeader)));
      if (header == nullptr) {
        free_header_lines(head);
        return -2000;
      }
      if (tail == nullptr) head = header;
      else tail->next = header;
      tail = header;
      header->name = copy_text(line.data(), colon);
      header->value = copy_text(line.data() + value_at, line.size() - value_at);
      if (header->name == nullptr || header->value == nullptr) {
        free_header_lines(head);
        return -2000;
      }
    }
    pos = next;
  }
  if (head == nullptr) return -2002;
  *list = head;
  return 1;
}

const char* find_header_value(const char* name, const MimeHeader* list) {
  if (name == nullptr) return nullptr;
  for (const MimeHeader* h = list; h != nullptr; h = h->next)
    if (h->name != nullptr && equals_nocase(h->name, name)) return h->value;
  return nullptr;
}

// ---- Boundary and split ----------------------------------------------------------------------

char* get_boundary(const char* content_type) {
  if (content_type == nullptr) return nullptr;
  std::string_view ct(content_type);
  size_t key = find_nocase(ct, "boundary");
  if (key == kNone) return nullptr;
  size_t pos = key + 8;
  while (pos < ct.size() && ct[pos] == ' ') ++pos;
  if (pos < ct.size() && ct[pos] == '=') ++pos;
  while (pos < ct.size() && ct[pos] == ' ') ++pos;
  size_t start, end;
  if (pos < ct.size() && ct[pos] == '"') {
    start = pos + 1;
    end = ct.find('"', start);
    if (end == kNone) return nullptr;
  } else {
    // An unquoted boundary runs to the next ';' or to the end of the content type.
    start = pos;
    end = ct.find(';', start);
    if (end == kNone) end = ct.size();
    while (end > start && (ct[end - 1] == ' ' || ct[end - 1] == '\t')) --end;
  }
  if (end == start) return nullptr;
  return copy_text(ct.data() + start, end - start);
}

int split_multipart(const char* body, int length, const char* boundary, MultipartPart** parts,
                    MultipartAttachment** attachments) {
  *parts = nullptr;
  if (attachments != nullptr) *attachments = nullptr;
  if (body == nullptr || boundary == nullptr || boundary[0] == '\0' || length <= 0) return 1;
  std::string_view b(boundary);
  std::string_view text(body, static_cast<size_t>(length));
  size_t n = text.size();

  MultipartPart* head = nullptr;
  MultipartPart* tail = nullptr;
  MultipartAttachment* att_head = nullptr;
  MultipartAttachment* att_tail = nullptr;
  auto fail = [&](int status) {
    free_parts(head);
    free_attachments(att_head);
    return status;
  };

  bool crlf_absent = false, lflf_absent = false;
  size_t at = text.find(b);
  while (at != kNone) {
    size_t pos = at + b.size() + 1;
    while (pos < n && (text[pos] == '\r' || text[pos] == '\n')) ++pos;
    if (pos >= n || n - pos < 2) break;

    // The blank line that ends the header block; each search stops where the other form was
    // found, and a form found nowhere is not looked for again, so the split stays linear.
    size_t crlf = crlf_absent ? kNone : text.find("\r\n\r\n", pos);
    if (crlf == kNone) crlf_absent = true;
    size_t lflf = kNone;
    if (!lflf_absent) {
      if (crlf != kNone) {
        lflf = text.substr(0, crlf + 2).find("\n\n", pos);
      } else {
        lflf = text.find("\n\n", pos);
        if (lflf == kNone) lflf_absent = true;
      }
    }
    size_t header_end;  // one past the line end of the last header line
    if (crlf != kNone && (lflf == kNone || crlf <= lflf)) header_end = crlf + 2;
    else if (lflf != kNone) header_end = lflf + 1;
    else break;

    MimeHeader* headers = nullptr;
    int status = parse_header_lines(body + pos, header_end - pos, &headers);
    if (status != 1) return fail(status);

    auto* part = static_cast<MultipartPart*>(MEM_ALLOC(1, sizeof(MultipartPart)));
    if (part == nullptr) {
      free_header_lines(headers);
      return fail(-2000);
    }
    part->headers = headers;
    if (tail == nullptr) head = part;
    else tail->next = part;
    tail = part;

    size_t data_start = header_end;
    while (data_start < n && (text[data_start] == '\n' || text[data_start] == '\t')) ++data_start;
    size_t next = data_start < n ? text.find(b, data_start) : kNone;
    size_t data_end = n;
    if (next != kNone) data_end = next >= data_start + 2 ? next - 2 : data_start;
    const char* data = body + data_start;
    size_t data_length = data_end - data_start;

    const char* encoding = find_header_value("Content-Transfer-Encoding", headers);
    if (encoding != nullptr && std::strcmp(encoding, "base64") == 0) {
      if (decode_base64(data, data_length, &part->data, &part->length) < 0) return fail(-2000);
    } else if (encoding != nullptr && std::strncmp(encoding, "quoted-printable", 16) == 0) {
      if (decode_quoted_printable(data, data_length, &part->data, &part->length) < 0)
        return fail(-2000);
    } else {
      part->data = copy_text(data, data_length);
      if (part->data == nullptr) return fail(-2000);
      part->length = static_cast<int>(data_length);
    }

    const char* content_type = find_header_value("Content-Type", headers);
    if (content_type != nullptr) {
      part->content_type = copy_text(content_type, std::strlen(content_type));
      if (part->content_type == nullptr) return fail(-2000);
    }

    const char* disposition = find_header_value("Content-Disposition", headers);
    if (attachments != nullptr && disposition != nullptr &&
        std::strncmp(disposition, "attachment", 10) == 0) {
      auto* attachment =
          static_cast<MultipartAttachment*>(MEM_ALLOC(1, sizeof(MultipartAttachment)));
      if (attachment == nullptr) return fail(-2000);
      if (att_tail == nullptr) att_head = attachment;
      else att_tail->next = attachment;
      att_tail = attachment;
      attachment->part = part;
      attachment->file_name = attachment_name(disposition);
      if (attachment->file_name == nullptr) return fail(-2000);
    }

    if (next == kNone) break;
    if (text.substr(next + b.size(), 2) == "--") break;
    at = next;
  }
  *parts = head;
  if (attachments != nullptr) *attachments = att_head;
  return 1;
}
