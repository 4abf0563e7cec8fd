#include "tests/client/provisioning_server.h"

#include <cctype>
#include <cstdint>
#include <sys/socket.h>
#include <thread>

namespace session_test {

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 407: return "Proxy Authentication Required";
    default: return "Status";
  }
}

}  // namespace

std::string SeenRequest::header(const std::string& name) const {
  std::string wanted = lower(name) + ":";
  size_t at = 0;
  while (at < headers.size()) {
    size_t end = headers.find("\r\n", at);
    if (end == std::string::npos) end = headers.size();
    std::string line = headers.substr(at, end - at);
    if (lower(line.substr(0, wanted.size())) == wanted) {
      std::string value = line.substr(wanted.size());
      while (!value.empty() && value[0] == ' ') value.erase(0, 1);
      return value;
    }
    at = end + 2;
  }
  return {};
}

bool SeenRequest::has_header(const std::string& name) const {
  std::string wanted = "\r\n" + lower(name) + ":";
  return lower("\r\n" + headers).find(wanted) != std::string::npos;
}

Answer mmc(const std::string& body) {
  Answer a;
  a.body = body;
  return a;
}

ProvisioningServer::ProvisioningServer(Script script)
    : script_(std::move(script)), server_([this](http_test::Conn& conn, int index) { serve(conn, index); }) {}

std::string ProvisioningServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port()) + path;
}

std::vector<SeenRequest> ProvisioningServer::requests() {
  std::lock_guard<std::mutex> lock(mu_);
  return seen_;
}

void ProvisioningServer::serve(http_test::Conn& conn, int index) {
  std::string raw = conn.read_request(10000);
  if (raw.empty()) return;
  SeenRequest r;
  r.raw = raw;
  size_t line_end = raw.find("\r\n");
  size_t head_end = raw.find("\r\n\r\n");
  std::string line = raw.substr(0, line_end);
  size_t sp1 = line.find(' ');
  size_t sp2 = line.find(' ', sp1 + 1);
  r.method = line.substr(0, sp1);
  r.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  r.headers = raw.substr(line_end + 2, head_end + 2 - (line_end + 2));
  r.body = raw.substr(head_end + 4);
  {
    std::lock_guard<std::mutex> lock(mu_);
    seen_.push_back(r);
  }
  Answer a = script_(r, index);
  if (a.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(a.delay_ms));
  if (a.reset) {
    linger hard{1, 0};  // close() then sends RST instead of FIN
    setsockopt(conn.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    return;
  }
  if (a.hang_up) return;
  std::string out = "HTTP/1.1 " + std::to_string(a.status) + " " + reason(a.status) + "\r\n";
  if (!a.content_type.empty()) out += "Content-Type: " + a.content_type + "\r\n";
  for (const std::string& h : a.headers) out += h + "\r\n";
  out += "Content-Length: " + std::to_string(a.body.size()) + "\r\nConnection: close\r\n\r\n" + a.body;
  conn.send(out);
}

std::string base64(const std::string& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
  }
  return out;
}

std::string reply_text(int mmc_id, const std::string& status_word, const std::vector<std::string>& details) {
  std::string text =
      "<?xml version=\"1.0\"?>\r\n"
      "<!DOCTYPE mmc PUBLIC \"-//Zevorize//DTD MMC 2.0//EN\" \"http://www.zevorize.com/DTD/mmc_2.0.dtd\" >\r\n"
      "<mmc>\r\n<status mmcID=\"" + std::to_string(mmc_id) + "\" mmc=\"" + status_word + "\">\r\n";
  for (const std::string& d : details) text += d + "\r\n";
  return text + "</status>\r\n</mmc>\r\n";
}

}  // namespace session_test
