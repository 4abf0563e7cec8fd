// A provisioning server of the tests' own: a loopback HTTP server on its own thread that
// answers each request with what the test's script says (an MMC document, a multipart
// body, a challenge, a redirect, silence) and records every request as it arrived, bytes
// and all. One request per connection (the client's direct connections close after each
// exchange). Stopped and joined by its destructor.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tests/http/fake_server.h"

namespace session_test {

inline constexpr char kMmcType[] = "application/vnd.zevorize.mmc-xml";

struct SeenRequest {
  std::string raw;      // the request as received: request line, headers, body
  std::string method;   // "GET", "POST"
  std::string target;   // "/mmc?x"
  std::string headers;  // the header lines (each ending CR LF), without the request line
  std::string body;
  // Value of the first header of that name (letter case ignored), "" when absent.
  std::string header(const std::string& name) const;
  bool has_header(const std::string& name) const;
};

struct Answer {
  int status = 200;
  std::string content_type = kMmcType;  // "" sends no Content-Type
  std::string body;
  std::vector<std::string> headers;     // further header lines, without line ends
  bool hang_up = false;                 // close the connection without answering
  bool reset = false;                   // reset the connection (RST) without answering
  int delay_ms = 0;                     // wait before answering
};

// An MMC document answer.
Answer mmc(const std::string& body);

class ProvisioningServer {
 public:
  using Script = std::function<Answer(const SeenRequest& request, int index)>;
  explicit ProvisioningServer(Script script);
  int port() const { return server_.port(); }
  std::string url(const std::string& path) const;
  std::vector<SeenRequest> requests();
  int connections() const { return server_.connections(); }

 private:
  void serve(http_test::Conn& conn, int index);
  Script script_;
  std::mutex mu_;
  std::vector<SeenRequest> seen_;
  http_test::FakeServer server_;  // last: its thread starts once the rest is ready
};

// Base64 of bytes (RFC 4648, with padding): how servers send binary parts.
std::string base64(const std::string& bytes);

// The MMC reply the client writes, for comparing with what the server saw:
// the declaration, the document type, <mmc>, the status line, the details, the end.
std::string reply_text(int mmc_id, const std::string& status_word, const std::vector<std::string>& details);

}  // namespace session_test
