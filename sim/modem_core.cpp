#include "sim/modem_core.h"

#include <cstring>
#include <sqlite3.h>

#include "platform/byte_order.h"
#include "sim/diag_text.h"

namespace sim {

// ---------------------------------------------------------------------------------------
// modem.db

ModemStore::~ModemStore() {
  if (db_) sqlite3_close(db_);
}

bool ModemStore::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool ModemStore::Open(const std::string& path, std::string* why) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    *why = db_ ? sqlite3_errmsg(db_) : "out of memory";
    return false;
  }
  sqlite3_busy_timeout(db_, 5000);
  if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=FULL") ||
      !Exec("CREATE TABLE IF NOT EXISTS items(item INTEGER, idx INTEGER, data BLOB, PRIMARY KEY(item, idx));"
            "CREATE TABLE IF NOT EXISTS prl(id INTEGER PRIMARY KEY, data BLOB);"
            "CREATE TABLE IF NOT EXISTS state(name TEXT PRIMARY KEY, value INTEGER);"
            "CREATE TABLE IF NOT EXISTS messages(seq INTEGER PRIMARY KEY AUTOINCREMENT, data BLOB);")) {
    *why = sqlite3_errmsg(db_);
    return false;
  }
  uint32_t seeded = 0;
  if (!GetValue("seeded", &seeded)) Seed();
  return true;
}

// Factory contents: profile 0 active, with a Mobile IP profile and its secrets; the
// factory roaming list.
void ModemStore::Seed() {
  PutItem(kItemActiveProfile, 0, {0});
  std::vector<uint8_t> mip(item_size(kItemMipProfile), 0);
  const char nai[] = "mip0@vyra.invalid";
  mip[0] = 0;
  mip[1] = static_cast<uint8_t>(std::strlen(nai));
  std::memcpy(&mip[2], nai, std::strlen(nai));
  mip[74] = 1;
  mip[75] = 0x02;  // MN-HA SPI 2
  mip[79] = 1;
  mip[80] = 0x03;  // MN-AAA SPI 3
  mip[84] = 1;
  PutItem(kItemMipProfile, 0, mip);
  std::vector<uint8_t> secrets(item_size(kItemMipSecrets), 0);
  secrets[1] = 4;
  std::memcpy(&secrets[2], "haha", 4);
  secrets[34] = 4;
  std::memcpy(&secrets[35], "aaaa", 4);
  PutItem(kItemMipSecrets, 0, secrets);
  PutPrl(factory_prl());
  PutValue("seeded", 1);
}

bool ModemStore::GetItem(uint32_t item, uint32_t index, std::vector<uint8_t>* data) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT data FROM items WHERE item=? AND idx=?", -1, &st, nullptr) != SQLITE_OK)
    return false;
  sqlite3_bind_int64(st, 1, item);
  sqlite3_bind_int64(st, 2, index);
  bool found = false;
  if (sqlite3_step(st) == SQLITE_ROW) {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, 0));
    int n = sqlite3_column_bytes(st, 0);
    data->assign(p, p + n);
    found = true;
  }
  sqlite3_finalize(st);
  return found;
}

bool ModemStore::PutItem(uint32_t item, uint32_t index, const std::vector<uint8_t>& data) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO items(item, idx, data) VALUES(?, ?, ?)", -1, &st, nullptr) !=
      SQLITE_OK)
    return false;
  sqlite3_bind_int64(st, 1, item);
  sqlite3_bind_int64(st, 2, index);
  sqlite3_bind_blob(st, 3, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
  bool ok = sqlite3_step(st) == SQLITE_DONE;
  sqlite3_finalize(st);
  return ok;
}

bool ModemStore::GetPrl(std::vector<uint8_t>* list) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT data FROM prl WHERE id=1", -1, &st, nullptr) != SQLITE_OK) return false;
  bool found = false;
  list->clear();
  if (sqlite3_step(st) == SQLITE_ROW) {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, 0));
    list->assign(p, p + sqlite3_column_bytes(st, 0));
    found = true;
  }
  sqlite3_finalize(st);
  return found;
}

bool ModemStore::PutPrl(const std::vector<uint8_t>& list) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO prl(id, data) VALUES(1, ?)", -1, &st, nullptr) != SQLITE_OK)
    return false;
  sqlite3_bind_blob(st, 1, list.data(), static_cast<int>(list.size()), SQLITE_TRANSIENT);
  bool ok = sqlite3_step(st) == SQLITE_DONE;
  sqlite3_finalize(st);
  return ok;
}

bool ModemStore::GetValue(const std::string& name, uint32_t* value) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT value FROM state WHERE name=?", -1, &st, nullptr) != SQLITE_OK) return false;
  sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  bool found = false;
  if (sqlite3_step(st) == SQLITE_ROW) {
    *value = static_cast<uint32_t>(sqlite3_column_int64(st, 0));
    found = true;
  }
  sqlite3_finalize(st);
  return found;
}

bool ModemStore::PutValue(const std::string& name, uint32_t value) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO state(name, value) VALUES(?, ?)", -1, &st, nullptr) !=
      SQLITE_OK)
    return false;
  sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(st, 2, value);
  bool ok = sqlite3_step(st) == SQLITE_DONE;
  sqlite3_finalize(st);
  return ok;
}

uint32_t ModemStore::AddMessage(const std::vector<uint8_t>& message) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "INSERT INTO messages(data) VALUES(?)", -1, &st, nullptr) != SQLITE_OK) return 0;
  sqlite3_bind_blob(st, 1, message.data(), static_cast<int>(message.size()), SQLITE_TRANSIENT);
  bool ok = sqlite3_step(st) == SQLITE_DONE;
  sqlite3_finalize(st);
  sqlite3_int64 id = ok ? sqlite3_last_insert_rowid(db_) : 0;
  return id > 0 && id <= 0xFFFFFFFF ? static_cast<uint32_t>(id) : 0;
}

bool ModemStore::ListMessages(std::vector<StoredMessage>* messages) {
  messages->clear();
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT seq, data FROM messages ORDER BY seq", -1, &st, nullptr) != SQLITE_OK)
    return false;
  while (sqlite3_step(st) == SQLITE_ROW) {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, 1));
    messages->push_back({static_cast<uint32_t>(sqlite3_column_int64(st, 0)),
                         std::vector<uint8_t>(p, p + sqlite3_column_bytes(st, 1))});
  }
  sqlite3_finalize(st);
  return true;
}

bool ModemStore::RemoveMessage(uint32_t id) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "DELETE FROM messages WHERE seq=?", -1, &st, nullptr) != SQLITE_OK) return false;
  sqlite3_bind_int64(st, 1, id);
  bool ok = sqlite3_step(st) == SQLITE_DONE && sqlite3_changes(db_) == 1;
  sqlite3_finalize(st);
  return ok;
}

int ModemStore::CountMessages() {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM messages", -1, &st, nullptr) != SQLITE_OK) return -1;
  int n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
  sqlite3_finalize(st);
  return n;
}

// ---------------------------------------------------------------------------------------
// Data items

size_t item_size(uint32_t item) {
  switch (item) {
    case kItemActiveProfile: return 1;
    case kItemMipProfile: return 97;
    case kItemMipSecrets: return 67;
    default: return 0;
  }
}

bool item_per_profile(uint32_t item) { return item == kItemMipProfile || item == kItemMipSecrets; }

namespace {

constexpr size_t kItemPacket = 133;
constexpr size_t kItemData = 128;

std::vector<uint8_t> answer(uint8_t lead, const uint8_t* packet, size_t size) {
  std::vector<uint8_t> r{lead};
  r.insert(r.end(), packet, packet + size);
  return r;
}

uint16_t crc16(const uint8_t* p, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(p[i]) << 8;
    for (int b = 0; b < 8; ++b) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

// The list's own size field (first two bytes, big-endian).
size_t prl_declared_size(const std::vector<uint8_t>& list) {
  return list.size() < 2 ? 0 : plat::get_be16(list.data());
}

}  // namespace

std::vector<uint8_t> factory_prl() {
  std::vector<uint8_t> list = {0x00, 0x00, 0x27, 0x10, 0x80, 0x00, 0x00, 0x04, 0x00, 0x02};
  // Two acquisition records and two system records, enough for a reader to walk.
  const uint8_t body[] = {0x20, 0x01, 0x01, 0x21, 0x02, 0x05, 0x07, 0x12, 0x34, 0x00, 0x01,
                          0x70, 0x12, 0x35, 0x00, 0x02, 0x71, 0xAA, 0x55, 0x10, 0x20, 0x30};
  list.insert(list.end(), body, body + sizeof body);
  size_t total = list.size() + 2;
  list[0] = static_cast<uint8_t>(total >> 8);
  list[1] = static_cast<uint8_t>(total);
  uint16_t crc = crc16(list.data(), list.size());
  list.push_back(static_cast<uint8_t>(crc >> 8));
  list.push_back(static_cast<uint8_t>(crc));
  return list;
}

std::vector<uint8_t> ModemCore::DataItem(const uint8_t* packet, size_t size) {
  if (size < 3) return answer(diag::kAnswerBadLength, packet, size);
  std::vector<uint8_t> reply(kItemPacket, 0);
  std::memcpy(reply.data(), packet, size < kItemPacket ? size : kItemPacket);
  uint32_t item = plat::get_le16(packet + diag::kItemNumberOffset);
  bool write = packet[0] == 0x27;
  size_t n = item_size(item);
  uint8_t* data = reply.data() + 3;
  uint16_t status = kItemDone;
  uint32_t index = item_per_profile(item) ? data[0] : 0;
  if (n == 0) {
    // An item this modem never had reads as not active; writing it is refused.
    status = write ? kItemBadParameter : kItemInactive;
    std::memset(data, 0, kItemData);
  } else if (index >= kProfiles || (write && item == kItemActiveProfile && data[0] >= kProfiles)) {
    status = kItemBadParameter;
  } else if (write) {
    std::vector<uint8_t> value(data, data + n);
    if (!store_->PutItem(item, index, value)) status = 4;  // failed
  } else {
    std::vector<uint8_t> value;
    std::memset(data, 0, kItemData);
    if (store_->GetItem(item, index, &value) && value.size() == n) {
      std::memcpy(data, value.data(), n);
    } else {
      status = kItemInactive;
      if (item_per_profile(item)) data[0] = static_cast<uint8_t>(index);
    }
  }
  plat::put_le16(&reply[diag::kItemStatusOffset], status);
  return reply;
}

// ---------------------------------------------------------------------------------------
// Roaming list blocks (0x49 read, 0x48 write): 120 list bytes (960 bits) per block.

std::vector<uint8_t> ModemCore::PrlBlockRead(const uint8_t* packet, size_t size) {
  if (size < 3) return answer(diag::kAnswerBadLength, packet, size);
  std::vector<uint8_t> reply(128, 0);
  reply[0] = 0x49;
  uint8_t seq = packet[1];
  reply[4] = seq;
  std::vector<uint8_t> list;
  store_->GetPrl(&list);
  size_t offset = static_cast<size_t>(seq) * 120;
  if (offset > list.size() || (offset == list.size() && !list.empty())) {
    reply[2] = 1;  // no such block
    return reply;
  }
  size_t n = list.size() - offset < 120 ? list.size() - offset : 120;
  std::memcpy(&reply[8], list.data() + offset, n);
  reply[5] = offset + n < list.size() ? 1 : 0;
  plat::put_le16(&reply[6], static_cast<uint16_t>(n * 8));
  return reply;
}

// Request: [0x48, seq, more, nam, bits (LE16), 120 bytes]. Answer byte 1: 0 block taken,
// 1 list complete and stored, 2 out-of-sequence block, 3 bad block or list.
std::vector<uint8_t> ModemCore::PrlBlockWrite(const uint8_t* packet, size_t size) {
  if (size < 126) return answer(diag::kAnswerBadLength, packet, size);
  std::vector<uint8_t> reply{0x48, 0, 0, 0};
  uint8_t seq = packet[1];
  bool more = packet[2] != 0;
  size_t bits = plat::get_le16(packet + 4);
  if (seq == 0) {
    block_stage_.clear();
    block_next_seq_ = 0;
  }
  if (seq != block_next_seq_) {
    reply[1] = 2;
    return reply;
  }
  if (bits % 8 != 0 || bits > 960) {
    reply[1] = 3;
    block_next_seq_ = -1;
    return reply;
  }
  block_stage_.insert(block_stage_.end(), packet + 6, packet + 6 + bits / 8);
  ++block_next_seq_;
  if (more) return reply;
  block_next_seq_ = -1;
  if (prl_declared_size(block_stage_) != block_stage_.size() || !store_->PutPrl(block_stage_)) {
    reply[1] = 3;
    return reply;
  }
  reply[1] = 1;
  return reply;
}

// ---------------------------------------------------------------------------------------
// The IS-683 tunnel (0xDA): [0xDA, 0x00, 0x01, length (LE16), message...] answered by
// [0xDA, 0x01, 0x01, status, length (LE16), answer...] in 249 bytes; status 1 = malformed.

std::vector<uint8_t> ModemCore::Tunnel(const uint8_t* packet, size_t size) {
  std::vector<uint8_t> reply(249, 0);
  reply[0] = 0xDA;
  reply[1] = 0x01;
  reply[2] = 0x01;
  if (size < 5) {
    reply[3] = 1;
    return reply;
  }
  size_t length = plat::get_le16(packet + 3);
  if (length == 0 || length > 243 || length > size - 5) {
    reply[3] = 1;
    return reply;
  }
  Is683Outcome out = ProcessIs683(packet + 5, length);
  if (!out.ok || out.answer.size() > 243) {
    reply[3] = 1;
    return reply;
  }
  plat::put_le16(&reply[4], static_cast<uint16_t>(out.answer.size()));
  std::memcpy(&reply[6], out.answer.data(), out.answer.size());
  return reply;
}

namespace {

// IS-683-A result codes.
constexpr uint8_t kAccepted = 0x00;
constexpr uint8_t kRejectedSizeMismatch = 0x02;
constexpr uint8_t kRejectedInvalidParameter = 0x04;
constexpr uint8_t kRejectedBlockId = 0x07;
constexpr uint8_t kRejectedPrlLength = 0x08;

}  // namespace

// SSPR Download Request: [0x08, block id, block length, last, offset (BE16), size, data].
// Answer: SSPR Download Response [0x08, block id, result, offset (BE16), size].
Is683Outcome ModemCore::SsprDownload(const uint8_t* m, size_t size) {
  Is683Outcome out;
  if (size < 3) return out;
  uint8_t block = m[1];
  size_t block_len = m[2];
  if (size < 3 + block_len) return out;
  if (block != 0x00) {
    out.ok = true;
    out.answer = {0x08, block, kRejectedBlockId, 0, 0, 0};
    return out;
  }
  if (block_len < 4) return out;
  bool last = (m[3] & 1) != 0;
  size_t offset = plat::get_be16(m + 4);
  size_t seg = m[6];
  if (seg > block_len - 4) return out;  // segment runs past its block: malformed
  out.ok = true;
  out.answer = {0x08, block, kAccepted, m[4], m[5], m[6]};
  if (offset == 0) sspr_stage_.clear();
  if (seg == 0 || offset != sspr_stage_.size()) {
    out.answer[2] = kRejectedInvalidParameter;
    sspr_stage_.clear();
    return out;
  }
  sspr_stage_.insert(sspr_stage_.end(), m + 7, m + 7 + seg);
  if (sspr_stage_.size() > 32768) {
    out.answer[2] = kRejectedSizeMismatch;
    sspr_stage_.clear();
    return out;
  }
  if (!last) return out;
  // The list replaces the stored one only when it is whole: its size field must agree.
  if (prl_declared_size(sspr_stage_) != sspr_stage_.size() || !store_->PutPrl(sspr_stage_))
    out.answer[2] = kRejectedPrlLength;
  sspr_stage_.clear();
  return out;
}

// SSPR Configuration Request: [0x07, block id, (block 1: offset BE16, max size)].
Is683Outcome ModemCore::SsprConfiguration(const uint8_t* m, size_t size) {
  Is683Outcome out;
  if (size < 2) return out;
  std::vector<uint8_t> list;
  store_->GetPrl(&list);
  uint8_t block = m[1];
  if (block == 0x00) {  // roaming list dimensions
    out.ok = true;
    uint16_t cur = static_cast<uint16_t>(list.size());
    uint16_t id = list.size() >= 4 ? static_cast<uint16_t>(list[2] << 8 | list[3]) : 0;
    out.answer = {0x07, 0x00, kAccepted, 6, 0x40, 0x00, static_cast<uint8_t>(cur >> 8), static_cast<uint8_t>(cur),
                  static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
    return out;
  }
  if (block == 0x01) {  // the list itself, one segment
    if (size < 5) return out;
    size_t offset = plat::get_be16(m + 2);
    size_t max = m[4] < 200 ? m[4] : 200;
    out.ok = true;
    if (offset > list.size()) {
      out.answer = {0x07, 0x01, kRejectedInvalidParameter, 0};
      return out;
    }
    size_t n = list.size() - offset < max ? list.size() - offset : max;
    bool last = offset + n >= list.size();
    out.answer = {0x07, 0x01, kAccepted, static_cast<uint8_t>(4 + n), static_cast<uint8_t>(last ? 1 : 0),
                  static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset), static_cast<uint8_t>(n)};
    out.answer.insert(out.answer.end(), list.begin() + static_cast<std::ptrdiff_t>(offset),
                      list.begin() + static_cast<std::ptrdiff_t>(offset + n));
    return out;
  }
  out.ok = true;
  out.answer = {0x07, block, kRejectedBlockId, 0};
  return out;
}

Is683Outcome ModemCore::ProcessIs683(const uint8_t* m, size_t size) {
  Is683Outcome out;
  if (size == 0) return out;
  switch (m[0]) {
    case 0x00: {  // Configuration Request: [0x00, count, block ids...]
      if (size < 2 || m[1] == 0 || size < 2u + m[1]) return out;
      out.ok = true;
      out.answer = {0x00, m[1]};
      std::vector<uint8_t> results;
      for (size_t i = 0; i < m[1]; ++i) {
        uint8_t id = m[2 + i];
        if (id == 0x00) {  // CDMA/analog NAM: a fixed home system
          out.answer.insert(out.answer.end(), {0x00, 4, 0x12, 0x34, 0x00, 0x01});
          results.push_back(kAccepted);
        } else {
          out.answer.insert(out.answer.end(), {id, 0});
          results.push_back(kRejectedBlockId);
        }
      }
      out.answer.insert(out.answer.end(), results.begin(), results.end());
      if (out.answer.size() > 243) return Is683Outcome{};
      return out;
    }
    case 0x05:  // Commit Request
      out.ok = true;
      out.answer = {0x05, kAccepted};
      return out;
    case 0x06:  // Protocol Capability Request: firmware, model, two features
      out.ok = true;
      out.answer = {0x06, 0x01, 0x00, 0x50, 2, 0x00, 0x02, 0x03, 0x02, 0};
      return out;
    case 0x07: return SsprConfiguration(m, size);
    case 0x08: return SsprDownload(m, size);
    default: return out;
  }
}

// ---------------------------------------------------------------------------------------
// Packet dispatch

std::vector<uint8_t> ModemCore::HandlePacket(const uint8_t* p, size_t size) {
  if (size == 0) return {diag::kAnswerBadCommand};
  auto fixed = [&](size_t n, std::initializer_list<uint8_t> head) {
    std::vector<uint8_t> r(n, 0);
    size_t i = 0;
    for (uint8_t b : head) r[i++] = b;
    return r;
  };
  switch (p[0]) {
    case diag::kCmdVersion: {
      std::vector<uint8_t> r{0x00};
      const char* texts[] = {"Dec 08 2026", "12:00:00", "Dec 08 2026", "12:00:00", "VYRASIM1"};
      for (const char* t : texts) r.insert(r.end(), t, t + std::strlen(t));
      r.insert(r.end(), {1, 6, 0x50, 0x00, 0x01, 2, 1, 0});
      return r;
    }
    case diag::kCmdSerialNumber: return {0x01, 0x56, 0x34, 0x12, 0x9F};  // serial number (ESN)
    case diag::kCmdStatus: return fixed(48, {0x0C, 0x56, 0x34, 0x12, 0x9F, 0x02});
    case diag::kCmdItemRead:
    case diag::kCmdItemWrite: return DataItem(p, size);
    case diag::kCmdModeControl:
      if (size < 3) return answer(diag::kAnswerBadLength, p, size);
      return {0x29, p[1], p[2]};
    case diag::kCmdQuery3F: return fixed(4, {0x3F});
    case diag::kCmdQuery40: return fixed(214, {0x40});
    case diag::kCmdSpc: {  // service programming code check: "000000" unlocks
      if (size < 7) return answer(diag::kAnswerBadLength, p, size);
      bool ok = std::memcmp(p + 1, "000000", 6) == 0;
      return {0x41, static_cast<uint8_t>(ok ? 1 : 0)};
    }
    case diag::kCmdPrlWrite: return PrlBlockWrite(p, size);
    case diag::kCmdPrlRead: return PrlBlockRead(p, size);
    case diag::kCmdFile: {  // file system: every operation succeeds on an empty file system
      if (size < 3) return answer(diag::kAnswerBadLength, p, size);
      if (p[1] == 0x04) return fixed(267, {0x59, 0x04, 0x00, p[2]});
      return {0x59, p[1], 0x00};
    }
    case diag::kCmdQuery63: return fixed(32, {0x63});
    case diag::kCmdQueryCD: return fixed(8, {0xCD});
    case diag::kCmdQueryCE: return fixed(40, {0xCE});
    case diag::kCmdTunnel: return Tunnel(p, size);
    default:
      // Two-byte control requests are acknowledged (second byte 1); anything else is unknown.
      if (size == 2) return {p[0], 1};
      return answer(diag::kAnswerBadCommand, p, size > 16 ? 16 : size);
  }
}

std::string ModemCore::Describe() {
  std::string s;
  char line[256];
  std::vector<uint8_t> v;
  s += "radio: ";
  s += radio_on_ ? "on\n" : "off\n";
  const char* states[] = {"none", "active", "dormant"};
  std::snprintf(line, sizeof line, "data session: %s\n", data_state_ < 3 ? states[data_state_] : "?");
  s += line;
  if (store_->GetItem(kItemActiveProfile, 0, &v) && !v.empty()) {
    std::snprintf(line, sizeof line, "item 464 (active profile): %02X\n", v[0]);
    s += line;
  }
  for (uint32_t item : {kItemMipProfile, kItemMipSecrets}) {
    for (uint32_t i = 0; i < kProfiles; ++i) {
      if (!store_->GetItem(item, i, &v)) continue;
      std::snprintf(line, sizeof line, "item %u profile %u: %s\n", item, i, hex_encode(v.data(), v.size()).c_str());
      s += line;
    }
  }
  store_->GetPrl(&v);
  std::snprintf(line, sizeof line, "roaming list: %zu bytes, size field %zu\n", v.size(), prl_declared_size(v));
  s += line;
  std::snprintf(line, sizeof line, "messages waiting for a client: %d\n", store_->CountMessages());
  s += line;
  return s;
}

}  // namespace sim
