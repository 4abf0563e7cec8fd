#include "platform/diag.h"

namespace diag {

const char* reply_problem(const uint8_t* request, size_t request_size, const uint8_t* reply, size_t reply_size) {
  if (reply == nullptr || reply_size == 0) return "no answer";
  if (request == nullptr || request_size == 0) return "no request";
  const uint8_t command = request[0];
  if (reply[0] != command) {
    if (reply[0] == kAnswerBadCommand) return "the modem does not know the command";
    if (reply[0] == kAnswerBadLength) return "the modem refused the packet's length";
    return "the answer is for another command";
  }
  if (command == kCmdItemRead || command == kCmdItemWrite) {
    if (request_size < kItemDataOffset || reply_size < kItemDataOffset) return "the packet is too short for an item";
    if (reply[kItemNumberOffset] != request[kItemNumberOffset] ||
        reply[kItemNumberOffset + 1] != request[kItemNumberOffset + 1])
      return "the answer names another item";
  }
  return nullptr;
}

const char* item_status_text(uint16_t status) {
  switch (status) {
    case kItemDone: return "done";
    case kItemBadCommand: return "bad command";
    case kItemInactive: return "not active";
    case kItemBadParameter: return "bad parameter";
    default: return "unknown status";
  }
}

}  // namespace diag
