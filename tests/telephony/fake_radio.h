// The test plays the radio daemon on the device's real socket: it registers clients,
// reports the radio on (unless told otherwise), records every device-specific request and
// lets the test answer it with a good frame, a late one, garbage, or nothing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/ril_client.h"

namespace vyra_test {

class FakeRadio {
 public:
  using Handler = std::function<void(FakeRadio&, const plat::RilFrame&)>;

  explicit FakeRadio(Handler on_devspecific) : on_devspecific_(std::move(on_devspecific)) {
    std::string path = plat::ril_socket_path();
    unlink(path.c_str());
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listen_fd_, 4);
    if (pipe(stop_pipe_) != 0) stop_pipe_[0] = stop_pipe_[1] = -1;
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeRadio() {
    char c = 1;
    ssize_t ignored = write(stop_pipe_[1], &c, 1);
    (void)ignored;
    thread_.join();
    DropClient();
    close(listen_fd_);
    close(stop_pipe_[0]);
    close(stop_pipe_[1]);
  }

  void set_radio_state(uint32_t state) { radio_state_ = state; }

  void Answer(uint32_t id, uint32_t code, const std::vector<uint8_t>& data) {
    plat::RilFrame f;
    f.type = plat::kRilFrameResult;
    f.id = id;
    f.code = code;
    f.payload = data;
    std::vector<uint8_t> bytes;
    plat::ril_encode_frame(f, &bytes);
    SendRaw(bytes);
  }
  // The reply text behind the 6-byte header, as the radio layer returns it.
  void AnswerText(uint32_t id, const std::string& text) {
    std::vector<uint8_t> data(6, 0);
    data.insert(data.end(), text.begin(), text.end());
    Answer(id, plat::kRilResultOk, data);
  }
  void SendRaw(const std::vector<uint8_t>& bytes) {
    if (client_fd_ >= 0) send(client_fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  void DropClient() {
    if (client_fd_ >= 0) close(client_fd_);
    client_fd_ = -1;
  }

  std::vector<plat::RilFrame> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }

 private:
  void Serve() {
    std::vector<uint8_t> buf;
    for (;;) {
      pollfd fds[3] = {{stop_pipe_[0], POLLIN, 0}, {listen_fd_, POLLIN, 0}, {client_fd_, POLLIN, 0}};
      if (poll(fds, client_fd_ >= 0 ? 3 : 2, -1) < 0) continue;
      if (fds[0].revents) return;
      if (fds[1].revents & POLLIN) {
        DropClient();
        client_fd_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        buf.clear();
        continue;
      }
      if (client_fd_ < 0 || !(fds[2].revents & (POLLIN | POLLHUP))) continue;
      uint8_t chunk[4096];
      ssize_t n = recv(client_fd_, chunk, sizeof chunk, 0);
      if (n <= 0) {
        DropClient();
        continue;
      }
      buf.insert(buf.end(), chunk, chunk + n);
      for (;;) {
        plat::RilFrame f;
        size_t used = 0;
        if (plat::ril_decode_frame(buf.data(), buf.size(), &f, &used) != 1) break;
        buf.erase(buf.begin(), buf.begin() + static_cast<long>(used));
        if (f.code == plat::kRilRequestRegister) {
          Answer(f.id, plat::kRilResultOk, {});
        } else if (f.code == plat::kRilRequestRadioState) {
          std::vector<uint8_t> state;
          plat::ril_put_u32(&state, radio_state_);
          Answer(f.id, plat::kRilResultOk, state);
        } else {
          {
            std::lock_guard<std::mutex> lock(mu_);
            requests_.push_back(f);
          }
          on_devspecific_(*this, f);
        }
        if (client_fd_ < 0) break;
      }
    }
  }

  Handler on_devspecific_;
  int listen_fd_ = -1;
  int client_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::atomic<uint32_t> radio_state_{1};
  std::mutex mu_;
  std::vector<plat::RilFrame> requests_;
  std::thread thread_;
};

}  // namespace vyra_test
