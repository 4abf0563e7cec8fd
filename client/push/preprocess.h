// WAP push preprocessing: the CDMA SMS bearer data of the WAP teleservice, WDP reassembly and
// the connectionless WSP push PDU. What comes out (the header block, the body) goes to the
// push dispatch (client/push/push_handler.h); the only result handed back is the Service
// Loading URL that the dispatch extracts.
//
// Threads: the reassembly record is one per process and unlocked. The event thread is its
// only user (each bridge message is one event, handled to the end before the next).
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Bit reader ------------------------------------------------------------------------
// Unsigned fields of 1 to 8 bits, most significant bit first, across byte boundaries. A
// field that would run past the end is not read: `bit_read` returns false and the reader
// stays failed.
struct bit_reader {
  const unsigned char* data;
  size_t length;      // bytes
  size_t byte_index;  // byte the next bit comes from
  int bits_taken;     // bits of that byte already read, 0 to 7
  bool failed;
};

void bit_reader_start(bit_reader* reader, const unsigned char* data, size_t length);
bool bit_read(bit_reader* reader, int bits, uint32_t* value);

// ---- Bearer data ------------------------------------------------------------------------
// Bearer-data subparameter ids the push must carry, in this order.
constexpr uint32_t kBearerMessageIdentifier = 0;
constexpr uint32_t kBearerUserData = 1;
// User-data message encoding after which an 8-bit message type precedes the field count.
constexpr uint32_t kBearerEncodingExtended = 1;

// Unpacks the bearer data of one incoming message (subparameter 0, the message identifier,
// then subparameter 1, the user data) and hands the user data, a WDP datagram, to
// VYRApc_wdpReceived. Returns 1 when the bearer data was accepted and handed on, 0 when not:
// NULL, empty, a subparameter id other than required, or bearer data that ends before the
// user data does. *url must be NULL on entry; it receives a new wide string (tracked, the
// caller's to mem_free) only when the message completed a push with a Service Loading URL,
// and is left alone otherwise. `context` is passed through (the event handler passes 0).
int VYRApc_teleServiceWAPRcvd(const unsigned char* data, int32_t length, int32_t context,
                              char16_t** url);

// ---- WDP ---------------------------------------------------------------------------------
// Every segment carries the 7-byte header: message type (0 = datagram), total segments,
// segment number (0 to total - 1), source port and destination port (big-endian).
constexpr size_t kWdpHeaderSize = 7;
// A reassembly holds at most this many payload bytes (255 segments of up to 248 bytes fit
// with room; a bridge message never carries more than 255 bytes of user data).
constexpr size_t kWdpMaxMessageBytes = 65536;

// Takes one datagram into the reassembly of message_identifier. Returns 1 when it was taken
// (also when it only completed part of a message, and when it repeated a segment already
// held), 0 when it was rejected: shorter than the header, not a datagram, a total of 0, a
// segment number not below the total, a message that would pass kWdpMaxMessageBytes, or no
// memory. NULL or an empty datagram discards any reassembly in progress (result 0). A
// segment whose message identifier, total or ports differ from the collection in progress
// discards that collection and starts a new one. The complete message goes to the WSP step.
// *url as for VYRApc_teleServiceWAPRcvd.
int VYRApc_wdpReceived(const unsigned char* datagram, int32_t length, uint16_t message_identifier,
                       int32_t context, char16_t** url);

// Discards the reassembly in progress, if any (for a fresh start in tests and fuzzers).
void wdp_reassembly_discard();
// Segments and payload bytes the reassembly holds now (0 and 0 when idle).
size_t wdp_reassembly_segments();
size_t wdp_reassembly_bytes();

// ---- WSP ---------------------------------------------------------------------------------
// The WSP step on a complete, reassembled payload: transaction id, PDU type, the header
// length H (uintvar), H bytes of header block, the body. A payload too short for its first
// three fields or an H reaching past the end is dropped (result -1). Otherwise the result of
// the push dispatch (dispatch_push, client/push/push_handler.h).
int wsp_push_received(const unsigned char* payload, size_t length, int32_t context, char16_t** url);
