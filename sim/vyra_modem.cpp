// vyra-modem: the radio daemon of a device. Serves <device>/run/ril.sock (frames of
// docs/radio-socket.md), answers device-specific requests from the simulated modem and
// keeps its state in <device>/modem.db. Runs in the foreground, logs to standard error,
// ends on SIGTERM/SIGINT. One daemon per device (<device>/run/modem.lock). The usage text
// below is the manual (files, environment, exit codes).
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "platform/paths.h"
#include "platform/ras.h"
#include "platform/registry.h"
#include "platform/ril_client.h"
#include "platform/status.h"
#include "platform/tool_args.h"
#include "sim/diag_text.h"
#include "sim/modem_core.h"

namespace {

constexpr const char* kName = "vyra-modem";

constexpr const char* kUsage =
    "usage: vyra-modem [--device DIR]\n"
    "Runs the radio daemon of a device with its simulated CDMA modem, in the foreground\n"
    "until SIGTERM or SIGINT. vyrad's telephony bridge and vyra-sim talk to it; it keeps\n"
    "incoming messages until a client acknowledges them. Logs to the standard error.\n"
    "\n"
    "Options:\n"
    "  --device DIR   the device (else $VYRA_DEVICE); a missing directory is made (a fresh\n"
    "                 device); a file or a directory it cannot write is refused\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "\n"
    "Files (in DIR):\n"
    "  run/ril.sock      the radio interface socket (docs/radio-socket.md)\n"
    "  run/modem.lock    held while the daemon runs: one daemon per device\n"
    "  modem.db          the modem's non-volatile state (data items, roaming lists)\n"
    "  registry.db       the phone state and status values it keeps for the handset\n"
    "\n"
    "Environment: VYRA_DEVICE (the device when --device is not given), VYRA_TIME_SCALE\n"
    "(scales the system's waits).\n"
    "\n"
    "Exit status:\n"
    "  0  stopped by SIGTERM or SIGINT\n"
    "  1  cannot start: the device is unusable or held by another vyra-modem, or the\n"
    "     socket or modem.db cannot be opened\n"
    "  2  bad usage\n"
    "\n"
    "Example:\n"
    "  vyra-modem --device /tmp/d &   vyra-sim --device /tmp/d status\n";

int g_signal_pipe[2] = {-1, -1};

void on_signal(int) {
  char c = 1;
  ssize_t ignored = write(g_signal_pipe[1], &c, 1);
  (void)ignored;
}

void log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::fprintf(stderr, "vyra-modem: ");
  std::vfprintf(stderr, format, ap);
  std::fprintf(stderr, "\n");
  va_end(ap);
}

struct Client {
  int fd;
  std::vector<uint8_t> in;
  bool registered = false;
  uint32_t classes = 0;
  bool broken = false;  // a frame could not be written whole: the stream is lost
  std::set<uint32_t> offered;  // stored messages sent to this client and not yet acknowledged
};

// A client that stops reading must not stall the daemon: sends give up after 2 s, and a
// frame that could not be written whole ends that client's connection.
bool send_whole(Client& c, const std::vector<uint8_t>& bytes) {
  if (c.broken) return false;
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = send(c.fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      c.broken = true;
      return false;
    }
    off += static_cast<size_t>(n);
  }
  return true;
}

class Daemon {
 public:
  Daemon(sim::ModemStore* store) : store_(store), core_(store) {}
  bool Start(std::string* why);
  int Run();

 private:
  void Accept();
  bool Read(Client& c);  // false: drop the client
  void Handle(Client& c, const plat::RilFrame& f);
  void SimControl(Client& c, const plat::RilFrame& f);
  void DevSpecific(Client& c, const plat::RilFrame& f);
  void Reply(Client& c, uint32_t id, uint32_t code, const std::vector<uint8_t>& data);
  void Notify(uint32_t code, const std::vector<uint8_t>& data);
  // The client that takes incoming messages: the oldest registered for device-specific
  // notifications whose connection works; NULL when there is none.
  Client* MessageClient();
  // Sends c every stored message that no client holds unacknowledged, oldest first.
  void OfferStored(Client& c);
  bool Offer(Client& c, uint32_t id, const std::vector<uint8_t>& message);
  void Acknowledge(Client& c, const plat::RilFrame& f);
  // The phone state is composed from its sources, so no writer undoes another's part.
  void ApplyPhoneState();
  void SetPhone(uint32_t state);
  void EndVoiceCall();
  void SetClientDataCall(bool up);

  sim::ModemStore* store_;
  sim::ModemCore core_;
  int listen_fd_ = -1;
  std::vector<Client> clients_;
  // Sources of the phone state: a voice call and a packet-data session set with vyra-sim
  // (kept in modem.db), the client's own data call (kept while this daemon runs), and the
  // other bits of "Status" that nothing here owns.
  bool voice_call_ = false;
  uint32_t sim_data_ = sim::kDataStateNone;
  bool client_data_call_ = false;
  uint32_t other_status_bits_ = 0;
  uint32_t phone_status_ = 0;  // as last written
  uint32_t conn_flags_ = 0;
};

// The client's data call appears among the active dial-up connections under this name.
constexpr char16_t kDataCallName[] = u"Data Call";
constexpr uint32_t kDataCallHandle = 0xDA7A;

bool Daemon::Start(std::string* why) {
  uint32_t status = 0, data = 0, radio = 1;
  store_->GetValue("phone_status", &status);
  store_->GetValue("data_state", &data);
  store_->GetValue("radio", &radio);
  voice_call_ = (status & plat::kPhoneStatusCallTalking) != 0;
  other_status_bits_ = status & ~plat::kPhoneStatusCallTalking;
  sim_data_ = data;
  core_.set_radio_on(radio != 0);
  ApplyPhoneState();

  std::string path = plat::ril_socket_path();
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    *why = "socket path too long: " + path;
    return false;
  }
  unlink(path.c_str());  // a stale socket of a dead daemon; the lock says we are alone
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listen_fd_, 16) != 0) {
    *why = "cannot listen on " + path + ": " + std::strerror(errno);
    return false;
  }
  log("listening on %s", path.c_str());
  return true;
}

// Writes the composed state: "Status" (call bit and the bits nobody here owns), item
// 0x60013 (voice call, packet data), and the data-session state of request 3019; tells the
// clients when the data-session state changed.
void Daemon::ApplyPhoneState() {
  uint32_t before = core_.data_state();
  uint32_t data = sim_data_ != sim::kDataStateNone ? sim_data_
                  : client_data_call_          ? sim::kDataStateActive
                                               : sim::kDataStateNone;
  phone_status_ = other_status_bits_ | (voice_call_ ? plat::kPhoneStatusCallTalking : 0);
  conn_flags_ = (voice_call_ ? plat::kConnFlagVoiceCall : 0) |
                (data != sim::kDataStateNone ? plat::kConnFlagDataConnected : 0);
  core_.set_data_state(data);
  plat::reg_set_dword(plat::RegRoot::HKLM, plat::kPhoneStateKey, plat::kPhoneStateValue, phone_status_);
  plat::status_set(plat::kStatusItemConnections, conn_flags_);
  store_->PutValue("phone_status", phone_status_);
  store_->PutValue("conn_flags", conn_flags_);
  store_->PutValue("data_state", sim_data_);  // the client's data call does not outlive us
  if (data != before) {
    std::vector<uint8_t> word;
    plat::ril_put_u32(&word, data);
    Notify(sim::kNotifyDataState, word);
  }
}

void Daemon::SetPhone(uint32_t state) {
  switch (state) {
    case sim::kPhoneIdle: {
      bool had_call = voice_call_;
      voice_call_ = false;
      sim_data_ = sim::kDataStateNone;
      ApplyPhoneState();
      if (had_call) Notify(sim::kNotifyCallDisconnected, {});
      break;
    }
    case sim::kPhoneCall:
      voice_call_ = true;
      ApplyPhoneState();
      break;
    case sim::kPhoneDataActive:
    case sim::kPhoneDataDormant:
      sim_data_ = state == sim::kPhoneDataActive ? sim::kDataStateActive : sim::kDataStateDormant;
      ApplyPhoneState();
      break;
  }
}

void Daemon::EndVoiceCall() {
  voice_call_ = false;
  ApplyPhoneState();
  Notify(sim::kNotifyCallDisconnected, {});
}

// The client's own packet-data connection, as its radio would show it: the data bits of the
// phone state and an active dial-up connection while it is up; when it ends, the call is
// disconnected (so messages held back for it get their delivery check).
void Daemon::SetClientDataCall(bool up) {
  if (up == client_data_call_) return;
  client_data_call_ = up;
  if (up)
    plat::ras_add_connection(kDataCallName, kDataCallHandle);
  else
    plat::ras_hang_up(kDataCallHandle);  // may be gone already (a session's close-out)
  ApplyPhoneState();
  if (!up) Notify(sim::kNotifyCallDisconnected, {});
  log("the client's data call is %s", up ? "up" : "down");
}

void Daemon::Reply(Client& c, uint32_t id, uint32_t code, const std::vector<uint8_t>& data) {
  plat::RilFrame f;
  f.type = plat::kRilFrameResult;
  f.id = id;
  f.code = code;
  f.payload = data;
  std::vector<uint8_t> bytes;
  plat::ril_encode_frame(f, &bytes);
  if (!send_whole(c, bytes)) log("result for client %d could not be written, dropping it", c.fd);
}

void Daemon::Notify(uint32_t code, const std::vector<uint8_t>& data) {
  plat::RilFrame f;
  f.type = plat::kRilFrameNotify;
  f.code = code;
  f.payload = data;
  std::vector<uint8_t> bytes;
  plat::ril_encode_frame(f, &bytes);
  uint32_t cls = plat::ril_notification_class(code);
  for (Client& c : clients_) {
    if (!c.registered || (c.classes & cls) == 0) continue;
    if (!send_whole(c, bytes)) log("notification 0x%X for client %d could not be written, dropping it", code, c.fd);
  }
  log("notification 0x%X (%zu bytes)", code, data.size());
}

Client* Daemon::MessageClient() {
  for (Client& c : clients_)
    if (c.registered && !c.broken && (c.classes & plat::kRilClassDevSpecific)) return &c;
  return nullptr;
}

bool Daemon::Offer(Client& c, uint32_t id, const std::vector<uint8_t>& message) {
  std::vector<uint8_t> payload;
  plat::ril_put_u32(&payload, static_cast<uint32_t>(message.size()));
  payload.insert(payload.end(), message.begin(), message.end());
  plat::RilFrame f;
  f.type = plat::kRilFrameNotify;
  f.id = id;  // the client acknowledges the message by this number
  f.code = sim::kNotifyIncomingMessage;
  f.payload = payload;
  std::vector<uint8_t> bytes;
  plat::ril_encode_frame(f, &bytes);
  if (!send_whole(c, bytes)) return false;
  c.offered.insert(id);
  return true;
}

void Daemon::OfferStored(Client& c) {
  std::vector<sim::ModemStore::StoredMessage> messages;
  if (!store_->ListMessages(&messages)) return;
  for (const auto& m : messages) {
    bool held = false;
    for (const Client& other : clients_) held = held || other.offered.count(m.id) > 0;
    if (held) continue;
    // A message that cannot be written stays stored for the next client.
    if (!Offer(c, m.id, m.data)) return;
    log("offered stored message %u (%zu bytes)", m.id, m.data.size());
  }
}

void Daemon::Acknowledge(Client& c, const plat::RilFrame& f) {
  uint32_t id = f.payload.size() >= 4 ? plat::ril_get_u32(f.payload.data()) : 0;
  if (c.offered.erase(id) == 0) {
    log("acknowledgement of message %u, which this client does not hold, refused", id);
    Reply(c, f.id, plat::kRilResultError, {});
    return;
  }
  bool removed = store_->RemoveMessage(id);
  log("message %u taken by the client%s", id, removed ? "" : " (it was no longer stored)");
  Reply(c, f.id, plat::kRilResultOk, {});
}

void Daemon::DevSpecific(Client& c, const plat::RilFrame& f) {
  if (f.payload.size() < 4) {
    log("device-specific request of %zu bytes refused", f.payload.size());
    Reply(c, f.id, plat::kRilResultError, {});
    return;
  }
  uint32_t code = plat::ril_get_u32(f.payload.data());
  if (code == sim::kDevRequestDataState) {
    std::vector<uint8_t> data;
    plat::ril_put_u32(&data, sim::kDevRequestDataState);
    plat::ril_put_u32(&data, core_.data_state());
    Reply(c, f.id, plat::kRilResultOk, data);
    return;
  }
  if (code != sim::kDevRequestDiag) {
    log("device-specific request %u is not supported", code);
    Reply(c, f.id, plat::kRilResultUnsupported, {});
    return;
  }
  if (!core_.radio_on()) {
    Reply(c, f.id, plat::kRilResultRadioOff, {});
    return;
  }
  std::vector<uint8_t> packet;
  std::string why;
  if (!sim::diag_parse_request(f.payload.data(), f.payload.size(), &packet, &why)) {
    log("request 3100 refused: %s", why.c_str());
    Reply(c, f.id, plat::kRilResultError, {});
    return;
  }
  std::vector<uint8_t> reply = core_.HandlePacket(packet.data(), packet.size());
  Reply(c, f.id, plat::kRilResultOk, sim::diag_result_data(reply));
}

void Daemon::SimControl(Client& c, const plat::RilFrame& f) {
  if (f.payload.size() < 4) {
    Reply(c, f.id, plat::kRilResultError, {});
    return;
  }
  uint32_t op = plat::ril_get_u32(f.payload.data());
  const uint8_t* data = f.payload.data() + 4;
  size_t n = f.payload.size() - 4;
  auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  switch (op) {
    case sim::kSimMessage: {
      if (n == 0 || n > sim::kMaxMessage) {
        Reply(c, f.id, plat::kRilResultError, text("a message has 1 to 1024 bytes"));
        return;
      }
      // Stored first: a message leaves the store only when a client acknowledges it, so
      // neither a client that dies nor a daemon that is killed loses it.
      std::vector<uint8_t> message(data, data + n);
      uint32_t id = store_->AddMessage(message);
      if (id == 0) {
        Reply(c, f.id, plat::kRilResultError, text("the message could not be stored"));
        return;
      }
      Client* taker = MessageClient();
      if (taker != nullptr && Offer(*taker, id, message)) {
        log("message %u (%zu bytes) offered to client %d", id, n, taker->fd);
        Reply(c, f.id, plat::kRilResultOk, text("delivered"));
        return;
      }
      log("message %u (%zu bytes) kept until a client takes it", id, n);
      Reply(c, f.id, plat::kRilResultOk, text("stored"));
      return;
    }
    case sim::kSimState:
      if (n < 4 || plat::ril_get_u32(data) > sim::kPhoneDataDormant) break;
      SetPhone(plat::ril_get_u32(data));
      Reply(c, f.id, plat::kRilResultOk, {});
      return;
    case sim::kSimCallEnd:
      EndVoiceCall();
      Reply(c, f.id, plat::kRilResultOk, {});
      return;
    case sim::kSimDataCall:
      if (n < 4) break;
      SetClientDataCall(plat::ril_get_u32(data) != 0);
      Reply(c, f.id, plat::kRilResultOk, {});
      return;
    case sim::kSimStatus: {
      char line[128];
      std::snprintf(line, sizeof line, "phone status: 0x%X\nconnection flags: 0x%X\n", phone_status_, conn_flags_);
      Reply(c, f.id, plat::kRilResultOk, text(line + core_.Describe()));
      return;
    }
    case sim::kSimRadio: {
      if (n < 4) break;
      bool on = plat::ril_get_u32(data) != 0;
      core_.set_radio_on(on);
      store_->PutValue("radio", on ? 1 : 0);
      std::vector<uint8_t> word;
      plat::ril_put_u32(&word, on ? 1 : 0);
      Notify(sim::kNotifyRadioState, word);
      Reply(c, f.id, plat::kRilResultOk, {});
      return;
    }
  }
  Reply(c, f.id, plat::kRilResultError, text("bad simulator command"));
}

void Daemon::Handle(Client& c, const plat::RilFrame& f) {
  if (f.type != plat::kRilFrameRequest) {
    log("frame of type %u from a client dropped", f.type);
    return;
  }
  switch (f.code) {
    case plat::kRilRequestRegister: {
      if (f.payload.size() < 4) {
        Reply(c, f.id, plat::kRilResultError, {});
        return;
      }
      c.registered = true;
      c.classes = plat::ril_get_u32(f.payload.data());
      Reply(c, f.id, plat::kRilResultOk, {});
      if (MessageClient() == &c) OfferStored(c);
      return;
    }
    case plat::kRilRequestAckMessage: Acknowledge(c, f); return;
    case plat::kRilRequestRadioState: {
      std::vector<uint8_t> data;
      plat::ril_put_u32(&data, core_.radio_on() ? 1 : 0);
      Reply(c, f.id, plat::kRilResultOk, data);
      return;
    }
    case plat::kRilRequestDevSpecific: DevSpecific(c, f); return;
    case plat::kRilRequestSimControl: SimControl(c, f); return;
    default: Reply(c, f.id, plat::kRilResultUnsupported, {}); return;
  }
}

bool Daemon::Read(Client& c) {
  uint8_t chunk[4096];
  ssize_t n = recv(c.fd, chunk, sizeof chunk, 0);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) {
    if (!c.in.empty()) log("client %d closed inside a frame (%zu bytes dropped)", c.fd, c.in.size());
    return false;
  }
  c.in.insert(c.in.end(), chunk, chunk + n);
  size_t off = 0;
  for (;;) {
    plat::RilFrame f;
    size_t used = 0;
    int rc = plat::ril_decode_frame(c.in.data() + off, c.in.size() - off, &f, &used);
    if (rc == 0) break;
    if (rc < 0) {
      log("client %d sent an impossible frame length, dropped", c.fd);
      return false;
    }
    off += used;
    Handle(c, f);
  }
  c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(off));
  return true;
}

int Daemon::Run() {
  for (;;) {
    std::vector<pollfd> fds{{g_signal_pipe[0], POLLIN, 0}, {listen_fd_, POLLIN, 0}};
    for (const Client& c : clients_) fds.push_back({c.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      log("poll: %s", std::strerror(errno));
      return 1;
    }
    if (fds[0].revents) break;
    if (fds[1].revents & POLLIN) {
      int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        timeval limit{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        clients_.push_back(Client{fd, {}, false, 0, false, {}});
      }
    }
    // Walk the clients that were polled; new ones wait for the next round.
    std::vector<int> drop;
    for (size_t i = 2; i < fds.size(); ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      for (Client& c : clients_) {
        if (c.fd != fds[i].fd) continue;
        if (!Read(c)) drop.push_back(c.fd);
        break;
      }
    }
    for (const Client& c : clients_)
      if (c.broken && std::find(drop.begin(), drop.end(), c.fd) == drop.end()) drop.push_back(c.fd);
    bool released = false;
    for (int fd : drop) {
      for (size_t i = 0; i < clients_.size(); ++i) {
        if (clients_[i].fd != fd) continue;
        if (!clients_[i].offered.empty()) {
          log("client %d left %zu message(s) unacknowledged: kept for the next client", fd,
              clients_[i].offered.size());
          released = true;
        }
        close(fd);
        clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
    // What the dropped clients held goes to the client that takes messages now, if any.
    if (released)
      if (Client* taker = MessageClient()) OfferStored(*taker);
  }
  for (Client& c : clients_) close(c.fd);
  close(listen_fd_);
  unlink(plat::ril_socket_path().c_str());
  log("stopped");
  return 0;
}

// Nothing but --device (taken out before) is an argument of the daemon.
int check_usage(int argc, char** argv) {
  if (argc < 2) return plat::kToolContinue;
  std::string a = argv[1];
  if (a.size() > 1 && a[0] == '-') return plat::tool_usage_error(kName, "unknown option '" + a + "'");
  return plat::tool_usage_error(kName, "unexpected argument '" + a + "'");
}

}  // namespace

int main(int argc, char** argv) {
  plat::ToolSpec program{kName, kUsage, plat::DeviceUse::kCreate};
  program.check_usage = check_usage;
  if (int rc = plat::tool_start(program, argc, argv); rc != plat::kToolContinue) return rc;
  if (!plat::make_parent_dirs(plat::device_file("run") + "/")) {
    log("cannot make the device %s: %s", plat::device_root().c_str(), std::strerror(errno));
    return 1;
  }
  std::string lock_path = plat::run_path("modem.lock");
  int lock_fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
  if (lock_fd < 0) {
    log("cannot open %s: %s", lock_path.c_str(), std::strerror(errno));
    return 1;
  }
  if (flock(lock_fd, LOCK_EX | LOCK_NB) != 0) {
    log("another vyra-modem holds the device %s", plat::device_root().c_str());
    return 1;
  }
  plat::ensure_program_folder();
  if (pipe2(g_signal_pipe, O_CLOEXEC) != 0) return 1;
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  sim::ModemStore store;
  std::string why;
  if (!store.Open(plat::device_file("modem.db"), &why)) {
    log("cannot open modem.db: %s", why.c_str());
    return 1;
  }
  Daemon daemon(&store);
  if (!daemon.Start(&why)) {
    log("%s", why.c_str());
    return 1;
  }
  int rc = daemon.Run();
  plat::reg_close();
  return rc;
}
