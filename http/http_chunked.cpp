// Chunked transfer coding: one incremental parser serves both the completeness test while
// a response arrives (scan mode) and the decoding of the finished body.
#include <cstring>

#include "common/tracked_memory.h"
#include "http/http_internal.h"

namespace {

/* Parser states. A chunk is "size[;ext] CRLF data CRLF"; the last chunk has size 0 and is
 * followed by trailer lines and an empty line. A bare LF is accepted wherever CRLF is. */
enum : int {
  SIZE_START = 0,  // at the start of a chunk-size line; blanks may precede the digits
  SIZE,            // reading hex digits
  EXT,             // after the digits: extensions up to the line end
  SIZE_LF,         // CR seen, LF expected
  DATA,            // `remaining` bytes of chunk data to go
  DATA_CR,         // CRLF after the data expected
  DATA_LF,
  TRAILER_START,   // at the start of a trailer line (or the final empty line)
  TRAILER_LINE,
  END_LF,          // CR of the final empty line seen
  DONE,
};

constexpr uint64_t kMaxChunk = uint64_t{1} << 56;

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int chunk_feed(chunk_parser* p, const unsigned char* data, size_t len, size_t* pos,
               unsigned char* out, size_t* out_len) {
  size_t i = *pos;
  int rc = 0;
  while (i < len && rc == 0) {
    unsigned char c = data[i];
    switch (p->state) {
      case SIZE_START:
      case SIZE:
      case EXT:
      case SIZE_LF: {
        if (++p->line_length > HTTP_MAX_CHUNK_LINE) {
          rc = HTTP_BAD_CHUNK;
          break;
        }
        bool line_done = false;
        if (p->state == SIZE_START) {
          int d = hex_value(c);
          if (c == ' ' || c == '\t') {
          } else if (d >= 0) {
            p->remaining = static_cast<uint64_t>(d);
            p->saw_digit = true;
            p->state = SIZE;
          } else {
            rc = HTTP_BAD_CHUNK;
          }
        } else if (p->state == SIZE) {
          int d = hex_value(c);
          if (d >= 0) {
            p->remaining = p->remaining * 16 + static_cast<uint64_t>(d);
            if (p->remaining > kMaxChunk) rc = HTTP_BAD_CHUNK;
          } else if (c == ';' || c == ' ' || c == '\t') {
            p->state = EXT;
          } else if (c == '\r') {
            p->state = SIZE_LF;
          } else if (c == '\n') {
            line_done = true;
          } else {
            rc = HTTP_BAD_CHUNK;
          }
        } else if (p->state == EXT) {
          if (c == '\r')
            p->state = SIZE_LF;
          else if (c == '\n')
            line_done = true;
        } else {
          if (c == '\n')
            line_done = true;
          else
            rc = HTTP_BAD_CHUNK;
        }
        ++i;
        if (line_done) {
          p->line_length = 0;
          p->state = p->remaining == 0 ? TRAILER_START : DATA;
        }
        break;
      }
      case DATA: {
        size_t avail = len - i;
        size_t take = p->remaining < avail ? static_cast<size_t>(p->remaining) : avail;
        if (out != nullptr) {
          // memmove: decoding in place writes behind the read position.
          std::memmove(out + *out_len, data + i, take);
          *out_len += take;
        }
        i += take;
        p->remaining -= take;
        if (p->remaining == 0) p->state = DATA_CR;
        break;
      }
      case DATA_CR:
        if (c == '\r')
          p->state = DATA_LF;
        else if (c == '\n')
          p->state = SIZE_START;
        else
          rc = HTTP_BAD_CHUNK;
        ++i;
        break;
      case DATA_LF:
        if (c == '\n')
          p->state = SIZE_START;
        else
          rc = HTTP_BAD_CHUNK;
        ++i;
        break;
      case TRAILER_START:
        ++i;
        if (c == '\r') {
          p->state = END_LF;
        } else if (c == '\n') {
          p->state = DONE;
          rc = 1;
        } else {
          p->state = TRAILER_LINE;
          p->line_length = 1;
        }
        break;
      case TRAILER_LINE:
        ++i;
        if (c == '\n') {
          p->state = TRAILER_START;
        } else if (++p->line_length > HTTP_MAX_HEADER_BLOCK) {
          rc = HTTP_BAD_CHUNK;
        }
        break;
      case END_LF:
        ++i;
        if (c == '\n') {
          p->state = DONE;
          rc = 1;
        } else {
          rc = HTTP_BAD_CHUNK;
        }
        break;
      default:
        rc = 1;
        break;
    }
  }
  if (rc == 0 && p->state == DONE) rc = 1;
  *pos = i;
  return rc;
}

bool chunk_in_data(const chunk_parser* p) { return p->state == DATA; }

int http_chunked_decode(const unsigned char* body, size_t len, unsigned char** out, size_t* out_len) {
  *out = nullptr;
  *out_len = 0;
  auto* buf = static_cast<unsigned char*>(MEM_ALLOC(len + 1, 1));
  if (buf == nullptr) return HTTP_NO_MEMORY;
  chunk_parser p;
  size_t pos = 0;
  size_t total = 0;
  int rc = chunk_feed(&p, body, len, &pos, buf, &total);
  if (rc == 0) {
    // Ran out of input: inside a chunk's data the chunk is larger than the body; elsewhere
    // the last chunk never came.
    rc = chunk_in_data(&p) ? HTTP_BAD_CHUNK : 0;
  }
  if (rc != 1) {
    MEM_FREE(buf);
    return rc;
  }
  buf[total] = 0;
  *out = buf;
  *out_len = total;
  return HTTP_OK;
}
