#include "ril_client.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "byte_order.h"
#include "clock.h"
#include "debug_output.h"
#include "paths.h"

namespace plat {

// ---------------------------------------------------------------------------------------
// Wire format

uint32_t ril_get_u32(const uint8_t* p) { return plat::get_le32(p); }

void ril_put_u32(std::vector<uint8_t>* out, uint32_t v) {
  uint8_t word[4];
  plat::put_le32(word, v);
  out->insert(out->end(), word, word + 4);
}

bool ril_encode_frame(const RilFrame& frame, std::vector<uint8_t>* out) {
  if (frame.payload.size() > kRilMaxPayload) return false;
  ril_put_u32(out, static_cast<uint32_t>(kRilFrameHeader + frame.payload.size()));
  ril_put_u32(out, frame.type);
  ril_put_u32(out, frame.id);
  ril_put_u32(out, frame.code);
  out->insert(out->end(), frame.payload.begin(), frame.payload.end());
  return true;
}

int ril_decode_frame(const uint8_t* data, size_t size, RilFrame* out, size_t* used) {
  if (size < 4) return 0;
  uint32_t length = ril_get_u32(data);
  if (length < kRilFrameHeader || length > kRilFrameHeader + kRilMaxPayload) return -1;
  if (size - 4 < length) return 0;
  out->type = ril_get_u32(data + 4);
  out->id = ril_get_u32(data + 8);
  out->code = ril_get_u32(data + 12);
  out->payload.assign(data + 4 + kRilFrameHeader, data + 4 + length);
  *used = 4 + static_cast<size_t>(length);
  return 1;
}

uint32_t ril_notification_class(uint32_t code) {
  if ((code & 0xFFFF0000u) == kRilClassDevSpecific) return kRilClassDevSpecific;
  return code & 0x00FF0000u;
}

std::string ril_socket_path() { return run_path("ril.sock"); }

bool ril_daemon_answers() {
  std::string path = ril_socket_path();
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  bool answers = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return answers;
}

// ---------------------------------------------------------------------------------------
// The client

// A synchronous call waiting for its result (ril_call, radio state, registration).
struct SyncWait {
  bool done = false;
  uint32_t code = kRilResultDisconnected;
  std::vector<uint8_t> data;
};

struct RilClient {
  int fd = -1;
  RilResultCallback on_result = nullptr;
  RilNotifyCallback on_notify = nullptr;
  void* user = nullptr;

  std::mutex write_mu;  // one frame on the socket at a time
  std::atomic<uint32_t> next_id{1};

  std::mutex mu;  // everything below
  std::condition_variable cv;
  bool dead = false;          // the connection is gone (EOF, error, deinitialise)
  bool dispatch_open = false; // notifications wait until ril_initialize handed out *out
  std::atomic<bool> stopping{false};
  std::map<uint32_t, SyncWait*> sync_waits;
  std::set<uint32_t> async_ids;  // device-specific requests without a result yet
  std::deque<RilFrame> notifications;

  std::thread reader;
  std::thread notifier;
  std::atomic<int> threads_alive{0};
  std::atomic<bool> orphaned{false};  // deinitialised from its own thread: last thread frees it
};

namespace {

thread_local RilClient* t_own_client = nullptr;  // the client whose thread this is

bool send_all(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool send_frame(RilClient* c, const RilFrame& frame) {
  std::vector<uint8_t> bytes;
  if (!ril_encode_frame(frame, &bytes)) return false;
  std::lock_guard<std::mutex> lock(c->write_mu);
  return send_all(c->fd, bytes.data(), bytes.size());
}

void thread_exit(RilClient* c) {
  if (c->threads_alive.fetch_sub(1) == 1 && c->orphaned.load()) {
    if (c->fd >= 0) close(c->fd);
    delete c;
  }
}

// Marks the connection dead, fails every synchronous waiter and completes every
// outstanding asynchronous request with kRilResultDisconnected.
void connection_lost(RilClient* c) {
  std::set<uint32_t> orphans;
  {
    std::lock_guard<std::mutex> lock(c->mu);
    if (c->dead && c->async_ids.empty()) return;
    c->dead = true;
    for (auto& [id, wait] : c->sync_waits) {
      wait->done = true;
      wait->code = kRilResultDisconnected;
    }
    orphans.swap(c->async_ids);
    c->cv.notify_all();
  }
  if (c->on_result && !c->stopping)
    for (uint32_t id : orphans) c->on_result(kRilResultDisconnected, id, nullptr, 0, c->user);
}

void handle_frame(RilClient* c, RilFrame& frame) {
  if (frame.type == kRilFrameNotify) {
    std::lock_guard<std::mutex> lock(c->mu);
    c->notifications.push_back(std::move(frame));
    c->cv.notify_all();
    return;
  }
  if (frame.type != kRilFrameResult) {
    debug_printf("ril: frame of unknown type %u dropped\r\n", frame.type);
    return;
  }
  bool async = false;
  {
    std::lock_guard<std::mutex> lock(c->mu);
    auto it = c->sync_waits.find(frame.id);
    if (it != c->sync_waits.end()) {
      it->second->done = true;
      it->second->code = frame.code;
      it->second->data = std::move(frame.payload);
      c->cv.notify_all();
      return;
    }
    async = c->async_ids.erase(frame.id) > 0;
  }
  if (!async) {
    debug_printf("ril: result for unknown command id %u dropped\r\n", frame.id);
    return;
  }
  if (c->on_result) c->on_result(frame.code, frame.id, frame.payload.data(), frame.payload.size(), c->user);
}

void reader_main(RilClient* c) {
  t_own_client = c;
  std::vector<uint8_t> buf;
  uint8_t chunk[4096];
  for (;;) {
    ssize_t n = recv(c->fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    buf.insert(buf.end(), chunk, chunk + n);
    size_t off = 0;
    bool broken = false;
    for (;;) {
      RilFrame frame;
      size_t used = 0;
      int rc = ril_decode_frame(buf.data() + off, buf.size() - off, &frame, &used);
      if (rc == 0) break;
      if (rc < 0) {
        debug_output("ril: impossible frame length from the daemon, connection dropped\r\n");
        broken = true;
        break;
      }
      off += used;
      handle_frame(c, frame);
    }
    if (broken) break;
    buf.erase(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(off));
  }
  if (!c->stopping && !buf.empty()) debug_output("ril: connection closed inside a frame\r\n");
  connection_lost(c);
  thread_exit(c);
}

void notifier_main(RilClient* c) {
  t_own_client = c;
  for (;;) {
    RilFrame frame;
    {
      std::unique_lock<std::mutex> lock(c->mu);
      c->cv.wait(lock, [c] {
        return c->stopping || (c->dispatch_open && !c->notifications.empty());
      });
      if (c->stopping) break;
      frame = std::move(c->notifications.front());
      c->notifications.pop_front();
    }
    if (c->on_notify) c->on_notify(frame.code, frame.id, frame.payload.data(), frame.payload.size(), c->user);
  }
  thread_exit(c);
}

uint32_t call_locked_wait(RilClient* c, uint32_t kind, const void* data, size_t size, std::vector<uint8_t>* reply,
                          uint32_t timeout_ms) {
  if (c == nullptr || size > kRilMaxPayload) return kRilResultDisconnected;
  SyncWait wait;
  uint32_t id = c->next_id.fetch_add(1);
  if (id == 0) id = c->next_id.fetch_add(1);
  {
    std::lock_guard<std::mutex> lock(c->mu);
    if (c->dead) return kRilResultDisconnected;
    c->sync_waits[id] = &wait;
  }
  RilFrame frame;
  frame.type = kRilFrameRequest;
  frame.id = id;
  frame.code = kind;
  if (size > 0) frame.payload.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  bool sent = send_frame(c, frame);
  std::unique_lock<std::mutex> lock(c->mu);
  if (sent)
    c->cv.wait_for(lock, std::chrono::milliseconds(scale_ms(timeout_ms)), [&wait] { return wait.done; });
  c->sync_waits.erase(id);
  if (!wait.done) {
    debug_printf("ril: no answer to request kind %u (id %u)\r\n", kind, id);
    return kRilResultDisconnected;
  }
  if (reply) *reply = std::move(wait.data);
  return wait.code;
}

}  // namespace

int ril_initialize(RilResultCallback on_result, RilNotifyCallback on_notify, uint32_t classes, void* user,
                   RilClient** out) {
  if (out == nullptr) return -1;
  *out = nullptr;
  std::string path = ril_socket_path();
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof addr.sun_path) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  auto* c = new RilClient;
  c->fd = fd;
  c->on_result = on_result;
  c->on_notify = on_notify;
  c->user = user;
  c->threads_alive = 2;
  c->reader = std::thread(reader_main, c);
  c->notifier = std::thread(notifier_main, c);

  std::vector<uint8_t> payload;
  ril_put_u32(&payload, classes);
  uint32_t rc = call_locked_wait(c, kRilRequestRegister, payload.data(), payload.size(), nullptr, 5000);
  if (rc != kRilResultOk) {
    debug_output("ril: the radio daemon did not accept the registration\r\n");
    ril_deinitialize(c);
    return -1;
  }
  *out = c;
  std::lock_guard<std::mutex> lock(c->mu);
  c->dispatch_open = true;
  c->cv.notify_all();
  return 0;
}

void ril_deinitialize(RilClient* client) {
  if (client == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(client->mu);
    client->stopping = true;
    client->cv.notify_all();
  }
  shutdown(client->fd, SHUT_RDWR);
  if (t_own_client == client) {
    // Joining ourselves would hang: let the threads finish and free the client.
    client->reader.detach();
    client->notifier.detach();
    client->orphaned = true;
    if (client->threads_alive.load() == 0) {
      close(client->fd);
      delete client;
    }
    return;
  }
  client->reader.join();
  client->notifier.join();
  close(client->fd);
  delete client;
}

int ril_devspecific(RilClient* client, const void* data, size_t size, uint32_t* command_id) {
  if (client == nullptr || command_id == nullptr || size > kRilMaxPayload) return -1;
  uint32_t id = client->next_id.fetch_add(1);
  if (id == 0) id = client->next_id.fetch_add(1);
  {
    std::lock_guard<std::mutex> lock(client->mu);
    if (client->dead) return -1;
    client->async_ids.insert(id);
  }
  RilFrame frame;
  frame.type = kRilFrameRequest;
  frame.id = id;
  frame.code = kRilRequestDevSpecific;
  if (size > 0) frame.payload.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  if (!send_frame(client, frame)) {
    std::lock_guard<std::mutex> lock(client->mu);
    client->async_ids.erase(id);
    return -1;
  }
  *command_id = id;
  return 0;
}

int ril_get_radio_state(RilClient* client, uint32_t* state) {
  if (client == nullptr || state == nullptr) return -1;
  std::vector<uint8_t> reply;
  if (call_locked_wait(client, kRilRequestRadioState, nullptr, 0, &reply, 5000) != kRilResultOk) return -1;
  if (reply.size() < 4) return -1;
  *state = ril_get_u32(reply.data());
  return 0;
}

int ril_ack_message(RilClient* client, uint32_t message_id) {
  if (client == nullptr || message_id == 0) return -1;
  std::vector<uint8_t> payload;
  ril_put_u32(&payload, message_id);
  return call_locked_wait(client, kRilRequestAckMessage, payload.data(), payload.size(), nullptr, 5000) ==
                 kRilResultOk
             ? 0
             : -1;
}

uint32_t ril_call(RilClient* client, uint32_t kind, const void* data, size_t size, std::vector<uint8_t>* reply,
                  uint32_t timeout_ms) {
  return call_locked_wait(client, kind, data, size, reply, timeout_ms);
}

}  // namespace plat
