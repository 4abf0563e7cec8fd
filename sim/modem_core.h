// The simulated CDMA modem: answers diagnostic (DIAG) packets, keeps its non-volatile state
// (data items, the roaming list, messages waiting for a client, phone state) in modem.db.
// No sockets here: the daemon (vyra_modem.cpp) moves the bytes. See docs/telephony.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/diag.h"

struct sqlite3;

namespace sim {

// ---------------------------------------------------------------------------------------
// modem.db: every write is one SQLite statement, so a crash never leaves half an item or
// half a roaming list behind.
class ModemStore {
 public:
  ModemStore() = default;
  ~ModemStore();
  ModemStore(const ModemStore&) = delete;
  ModemStore& operator=(const ModemStore&) = delete;

  // Opens (creating) the database; a new one gets the factory contents. False on failure.
  bool Open(const std::string& path, std::string* why);

  bool GetItem(uint32_t item, uint32_t index, std::vector<uint8_t>* data);
  bool PutItem(uint32_t item, uint32_t index, const std::vector<uint8_t>& data);
  bool GetPrl(std::vector<uint8_t>* list);
  bool PutPrl(const std::vector<uint8_t>& list);
  bool GetValue(const std::string& name, uint32_t* value);
  bool PutValue(const std::string& name, uint32_t value);
  // Incoming messages wait here until a client acknowledges them. AddMessage returns the
  // message's number (1 and up, in arrival order) or 0 on failure.
  struct StoredMessage {
    uint32_t id;
    std::vector<uint8_t> data;
  };
  uint32_t AddMessage(const std::vector<uint8_t>& message);
  // Every waiting message, oldest first.
  bool ListMessages(std::vector<StoredMessage>* messages);
  // Removes message `id`; false when there is no such message.
  bool RemoveMessage(uint32_t id);
  int CountMessages();

 private:
  bool Exec(const char* sql);
  void Seed();
  sqlite3* db_ = nullptr;
};

// Data items the modem keeps, with their sizes in bytes. Items 465 and 3021 are kept per
// profile (index = data byte 0, profiles 0 to kProfiles-1).
constexpr uint32_t kItemActiveProfile = diag::kItemActiveProfile;
constexpr uint32_t kItemMipProfile = diag::kItemMipProfile;
constexpr uint32_t kItemMipSecrets = diag::kItemMipSecrets;
constexpr uint32_t kProfiles = 6;
size_t item_size(uint32_t item);       // 0 for an item the modem does not know
bool item_per_profile(uint32_t item);

// Data-item statuses (bytes 131-132 of the data-item packet).
constexpr uint16_t kItemDone = diag::kItemDone;
constexpr uint16_t kItemBadCommand = diag::kItemBadCommand;
constexpr uint16_t kItemInactive = diag::kItemInactive;
constexpr uint16_t kItemBadParameter = diag::kItemBadParameter;

// The IS-683 reverse-link answer to one forward-link message: ok is false for a malformed
// message (or a type the modem does not take), and then `answer` is empty.
struct Is683Outcome {
  bool ok = false;
  std::vector<uint8_t> answer;
};

class ModemCore {
 public:
  explicit ModemCore(ModemStore* store) : store_(store) {}

  // Answers one DIAG packet. Unknown commands get the "bad command" answer (0x13 + the
  // request), packets too short for their command the "bad length" answer (0x14 + request).
  std::vector<uint8_t> HandlePacket(const uint8_t* packet, size_t size);

  // One IS-683 message (the payload of the 0xDA tunnel request).
  Is683Outcome ProcessIs683(const uint8_t* message, size_t size);

  uint32_t data_state() const { return data_state_; }
  void set_data_state(uint32_t state) { data_state_ = state; }
  bool radio_on() const { return radio_on_; }
  void set_radio_on(bool on) { radio_on_ = on; }

  // Readable dump for `vyra-sim status`.
  std::string Describe();

 private:
  std::vector<uint8_t> DataItem(const uint8_t* packet, size_t size);
  std::vector<uint8_t> PrlBlockRead(const uint8_t* packet, size_t size);
  std::vector<uint8_t> PrlBlockWrite(const uint8_t* packet, size_t size);
  std::vector<uint8_t> Tunnel(const uint8_t* packet, size_t size);
  Is683Outcome SsprDownload(const uint8_t* m, size_t size);
  Is683Outcome SsprConfiguration(const uint8_t* m, size_t size);

  ModemStore* store_;
  uint32_t data_state_ = 0;
  bool radio_on_ = true;
  // Roaming-list downloads in progress (0xDA SSPR segments, 0x48 blocks); the stored list
  // is replaced only by a complete, consistent download.
  std::vector<uint8_t> sspr_stage_;
  std::vector<uint8_t> block_stage_;
  int block_next_seq_ = 0;
};

// A small factory roaming list: 2-byte size, list id, a few records, CRC-16.
std::vector<uint8_t> factory_prl();

}  // namespace sim
