#include "sim/diag_text.h"

#include "platform/ril_client.h"

namespace sim {
namespace {

int hex_value(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool decode_pairs(const uint8_t* text, size_t n, std::vector<uint8_t>* out) {
  if (n % 2 != 0) return false;
  out->clear();
  out->reserve(n / 2);
  for (size_t i = 0; i < n; i += 2) {
    int hi = hex_value(text[i]), lo = hex_value(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return true;
}

}  // namespace

std::string hex_encode(const uint8_t* data, size_t size) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text.push_back(digits[data[i] >> 4]);
    text.push_back(digits[data[i] & 15]);
  }
  return text;
}

bool hex_decode(const std::string& text, std::vector<uint8_t>* out) {
  return decode_pairs(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out);
}

std::string diag_request_text(const uint8_t* packet, size_t size) { return "C8" + hex_encode(packet, size); }

bool diag_parse_request(const uint8_t* block, size_t size, std::vector<uint8_t>* packet, std::string* why) {
  if (size < 8) {
    *why = "request block shorter than its header";
    return false;
  }
  uint32_t length = plat::ril_get_u32(block + 4);
  if (length > size - 8) {
    *why = "text length " + std::to_string(length) + " runs past the block";
    return false;
  }
  const uint8_t* text = block + 8;
  // The length word counts characters; a terminating zero inside it ends the text early.
  size_t n = 0;
  while (n < length && text[n] != 0) ++n;
  if (n < 2 || text[0] != 'C' || text[1] != '8') {
    *why = "request text does not start with C8";
    return false;
  }
  if (!decode_pairs(text + 2, n - 2, packet)) {
    *why = "request text is not whole hex pairs";
    return false;
  }
  if (packet->empty() || packet->size() > kMaxDiagPacket) {
    *why = "packet of " + std::to_string(packet->size()) + " bytes";
    return false;
  }
  return true;
}

std::vector<uint8_t> diag_request_block(const uint8_t* packet, size_t size) {
  std::string text = diag_request_text(packet, size);
  std::vector<uint8_t> block;
  plat::ril_put_u32(&block, kDevRequestDiag);
  plat::ril_put_u32(&block, static_cast<uint32_t>(text.size()));
  block.insert(block.end(), text.begin(), text.end());
  return block;
}

std::vector<uint8_t> diag_result_data(const std::vector<uint8_t>& reply) {
  std::string text = hex_encode(reply.data(), reply.size());
  std::vector<uint8_t> data;
  plat::ril_put_u32(&data, kDevRequestDiag);
  data.push_back(static_cast<uint8_t>(text.size()));
  data.push_back(static_cast<uint8_t>(text.size() >> 8));
  data.insert(data.end(), text.begin(), text.end());
  return data;
}

bool diag_parse_result(const uint8_t* data, size_t size, std::vector<uint8_t>* reply) {
  if (size < kReplyHeader) return false;
  return decode_pairs(data + kReplyHeader, size - kReplyHeader, reply);
}

}  // namespace sim
