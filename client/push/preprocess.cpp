#include "client/push/preprocess.h"

#include <cstring>

#include "client/formats/common_utils.h"
#include "client/push/push_handler.h"
#include "client/support/utils.h"
#include "common/tracked_memory.h"

// ---------------------------------------------------------------------------------------
// Bit reader

void bit_reader_start(bit_reader* reader, const unsigned char* data, size_t length) {
  reader->data = data;
  reader->length = data == nullptr ? 0 : length;
  reader->byte_index = 0;
  reader->bits_taken = 0;
  reader->failed = false;
}

bool bit_read(bit_reader* reader, int bits, uint32_t* value) {
  if (reader->failed || bits < 1 || bits > 8) {
    reader->failed = true;
    return false;
  }
  size_t bits_left = reader->byte_index >= reader->length
                         ? 0
                         : (reader->length - reader->byte_index) * 8 - static_cast<size_t>(reader->bits_taken);
  if (bits_left < static_cast<size_t>(bits)) {
    reader->failed = true;
    return false;
  }
  uint32_t out = 0;
  for (int i = 0; i < bits; ++i) {
    unsigned bit = (reader->data[reader->byte_index] >> (7 - reader->bits_taken)) & 1u;
    out = out << 1 | bit;
    if (++reader->bits_taken == 8) {
      reader->bits_taken = 0;
      ++reader->byte_index;
    }
  }
  *value = out;
  return true;
}

// ---------------------------------------------------------------------------------------
// Bearer data

int VYRApc_teleServiceWAPRcvd(const unsigned char* data, int32_t length, int32_t context, char16_t** url) {
  log_message(0, kLogTrace, "============== VYRApc_teleServiceWAPRcvd");
  log_message(0, kLogTrace, "============== VYRApc_teleServiceWAPRcvd: nLen: %ld", static_cast<long>(length));
  if (data == nullptr || length <= 0 || data[0] != kBearerMessageIdentifier) return 0;

  bit_reader r;
  bit_reader_start(&r, data, static_cast<size_t>(length));
  uint32_t id = 0, ignored = 0, high = 0, low = 0, encoding = 0, count = 0;
  // Subparameter 0: id, length, message type (4 bits), message identifier (16), header
  // indication and reserved bits (4).
  bit_read(&r, 8, &id);
  bit_read(&r, 8, &ignored);
  bit_read(&r, 4, &ignored);
  bit_read(&r, 8, &high);
  bit_read(&r, 8, &low);
  bit_read(&r, 4, &ignored);
  // Subparameter 1: id, length, encoding (5 bits), for encoding 1 a message type (8), the
  // field count (8), then the fields, one byte each, not aligned to the input's bytes.
  uint32_t user_data_id = 0;
  bit_read(&r, 8, &user_data_id);
  if (!r.failed && user_data_id != kBearerUserData) return 0;
  bit_read(&r, 8, &ignored);
  bit_read(&r, 5, &encoding);
  if (encoding == kBearerEncodingExtended) bit_read(&r, 8, &ignored);
  bit_read(&r, 8, &count);
  if (r.failed) {
    log_message(0, kLogWarning, "============== VYRApc_teleServiceWAPRcvd: bearer data ends early");
    return 0;
  }
  // One spare byte: an allocation of 0 bytes is still a block, and the datagram of a count
  // of 0 is rejected as empty below.
  auto* datagram = static_cast<unsigned char*>(MEM_ALLOC(count + 1, 1));
  if (datagram == nullptr) return 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t byte = 0;
    if (!bit_read(&r, 8, &byte)) {
      log_message(0, kLogWarning, "============== VYRApc_teleServiceWAPRcvd: bearer data ends early");
      MEM_FREE(datagram);
      return 0;
    }
    datagram[i] = static_cast<unsigned char>(byte);
  }
  uint16_t message_identifier = static_cast<uint16_t>(high << 8 | low);
  VYRApc_wdpReceived(datagram, static_cast<int32_t>(count), message_identifier, context, url);
  log_message(0, kLogTrace, "============== VYRApc_teleServiceWAPRcvd: END");
  MEM_FREE(datagram);
  return 1;
}

// ---------------------------------------------------------------------------------------
// WDP reassembly
//
// States: idle (g_reassembly NULL) -> collecting (the four keys fixed by the first segment,
// segments held in ascending order of number) -> complete (the payloads are joined and
// handed to the WSP step; back to idle) or discarded (a segment with other keys, which
// starts a new collection, or an empty datagram). Nothing times a collection out. The
// record and every node with its payload copy are tracked blocks owned by this module.

namespace {

struct wdp_segment {
  uint8_t number;
  unsigned char* payload;
  size_t length;
  wdp_segment* next;
};

struct wdp_reassembly {
  wdp_segment* segments;
  size_t total_bytes;
  uint32_t expected_segments;
  uint32_t held_segments;
  uint16_t message_identifier;
  uint16_t destination_port;
  uint16_t source_port;
};

wdp_reassembly* g_reassembly = nullptr;

uint16_t read_be16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

}  // namespace

void wdp_reassembly_discard() {
  if (g_reassembly == nullptr) return;
  for (wdp_segment* s = g_reassembly->segments; s != nullptr;) {
    wdp_segment* next = s->next;
    MEM_FREE(s->payload);
    MEM_FREE(s);
    s = next;
  }
  MEM_FREE(g_reassembly);
  g_reassembly = nullptr;
}

size_t wdp_reassembly_segments() { return g_reassembly == nullptr ? 0 : g_reassembly->held_segments; }
size_t wdp_reassembly_bytes() { return g_reassembly == nullptr ? 0 : g_reassembly->total_bytes; }

namespace {

// Joins the payloads of a complete collection into one new block (NULL: no memory).
unsigned char* join_segments(const wdp_reassembly& r) {
  auto* joined = static_cast<unsigned char*>(MEM_ALLOC(r.total_bytes + 1, 1));
  if (joined == nullptr) return nullptr;
  size_t at = 0;
  for (const wdp_segment* s = r.segments; s != nullptr; s = s->next) {
    if (s->length > 0) std::memcpy(joined + at, s->payload, s->length);
    at += s->length;
  }
  return joined;
}

}  // namespace

int VYRApc_wdpReceived(const unsigned char* datagram, int32_t length, uint16_t message_identifier, int32_t context,
                       char16_t** url) {
  log_message(0, kLogTrace, "============== VYRApc_wdpReceived: SART");
  if (datagram == nullptr || length <= 0) {
    wdp_reassembly_discard();
    return 0;
  }
  size_t size = static_cast<size_t>(length);
  if (size < kWdpHeaderSize || datagram[0] != 0) return 0;
  uint32_t total = datagram[1];
  uint8_t number = datagram[2];
  uint16_t source_port = read_be16(datagram + 3);
  uint16_t destination_port = read_be16(datagram + 5);
  // Phone stacks ignore a segment that cannot belong to any message.
  if (total == 0 || number >= total) return 0;
  size_t payload_length = size - kWdpHeaderSize;

  if (g_reassembly != nullptr &&
      (g_reassembly->message_identifier != message_identifier || g_reassembly->expected_segments != total ||
       g_reassembly->source_port != source_port || g_reassembly->destination_port != destination_port))
    wdp_reassembly_discard();
  if (g_reassembly == nullptr) {
    g_reassembly = static_cast<wdp_reassembly*>(MEM_ALLOC(1, sizeof(wdp_reassembly)));
    if (g_reassembly == nullptr) return 0;
    g_reassembly->expected_segments = total;
    g_reassembly->message_identifier = message_identifier;
    g_reassembly->source_port = source_port;
    g_reassembly->destination_port = destination_port;
  }

  // Find the place in ascending order; a number already held keeps the first copy.
  wdp_segment** link = &g_reassembly->segments;
  while (*link != nullptr && (*link)->number < number) link = &(*link)->next;
  if (*link == nullptr || (*link)->number != number) {
    if (payload_length > kWdpMaxMessageBytes - g_reassembly->total_bytes) {
      // Such a message could never be held whole: drop it rather than grow without bound.
      log_message(0, kLogWarning, "============== VYRApc_wdpReceived: message too large, dropped");
      wdp_reassembly_discard();
      return 0;
    }
    auto* segment = static_cast<wdp_segment*>(MEM_ALLOC(1, sizeof(wdp_segment)));
    auto* payload = static_cast<unsigned char*>(MEM_ALLOC(payload_length + 1, 1));
    if (segment == nullptr || payload == nullptr) {
      MEM_FREE(segment);
      MEM_FREE(payload);
      return 0;
    }
    if (payload_length > 0) std::memcpy(payload, datagram + kWdpHeaderSize, payload_length);
    segment->number = number;
    segment->payload = payload;
    segment->length = payload_length;
    segment->next = *link;
    *link = segment;
    g_reassembly->held_segments += 1;
    g_reassembly->total_bytes += payload_length;
  }

  if (g_reassembly->held_segments == g_reassembly->expected_segments) {
    unsigned char* joined = join_segments(*g_reassembly);
    size_t joined_length = g_reassembly->total_bytes;
    // The collection ends either way: without memory for the join it could never complete.
    wdp_reassembly_discard();
    if (joined == nullptr) return 0;
    wsp_push_received(joined, joined_length, context, url);
    MEM_FREE(joined);
  }
  log_message(0, kLogTrace, "============== VYRApc_wdpReceived: END");
  return 1;
}

// ---------------------------------------------------------------------------------------
// WSP push PDU

int wsp_push_received(const unsigned char* payload, size_t length, int32_t context, char16_t** url) {
  // Transaction id and PDU type (neither is used), then at least one byte of H.
  if (payload == nullptr || length < 3 || length > kWdpMaxMessageBytes) return -1;
  int used = 0;
  uint32_t header_length = uintvar_decode(payload + 2, static_cast<int>(length - 2), &used);
  if (used == 0) return -1;
  size_t header_start = 2 + static_cast<size_t>(used);
  if (header_length > length - header_start) return -1;
  size_t body_start = header_start + header_length;
  return dispatch_push(payload + header_start, static_cast<int>(header_length), payload + body_start,
                       static_cast<int>(length - body_start), context, url);
}
