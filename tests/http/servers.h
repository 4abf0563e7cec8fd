// Real servers from Debian, started by the tests as foreground processes on free loopback
// ports with their configuration, pid and log files in a private temporary directory, and
// stopped (process group, by id) when the object goes, also after a failed assertion. A
// missing server binary is a test failure, never a skip.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace http_test {

// A private directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& data) const;

 private:
  std::string path_;
};

// A test certificate authority and certificates it issued, as PEM files in dir:
// ca.pem; server.pem + server.key (CN localhost, SAN localhost and 127.0.0.1);
// expired.pem + expired.key (same names, validity ended yesterday); other_ca.pem.
struct TestPki {
  std::string ca_pem, server_pem, server_key, expired_pem, expired_key, other_ca_pem;
  std::string ca_der;  // the CA certificate in DER, for qn_add_x509_trusted_certificate
  std::string other_ca_der;
  bool make(const TempDir& dir);
  // A further server certificate of the test CA with the subjectAltName san (OpenSSL's
  // text form, "DNS:a.example,IP:127.0.0.1"), as dir/<name>.pem and dir/<name>.key.
  bool issue(const TempDir& dir, const std::string& name, const std::string& san) const;

 private:
  std::string ca_key_pem_;
};

class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess() { stop(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  // Starts argv (argv[0] an absolute path) with output to log, and waits until every port
  // accepts connections. False (with *why) when the binary is missing or it never listens.
  bool start(const std::vector<std::string>& argv, const std::string& log, const std::vector<int>& ports,
             std::string* why);
  void stop();

 private:
  pid_t pid_ = -1;
};

// nginx serving dir/www over HTTP on http_port and HTTPS on https_port (server.pem) and
// expired_port (expired.pem); /post answers any method with "posted\n", /ssi/ pages are
// sent chunked.
bool start_nginx(ServerProcess* p, const TempDir& dir, const TestPki& pki, int http_port, int https_port,
                 int expired_port, std::string* why);
// lighttpd serving dir/www with Digest auth below /digest/ and Basic auth below /basic/
// (realm "vyra", user alice, password wonder).
bool start_lighttpd(ServerProcess* p, const TempDir& dir, int port, std::string* why);
// squid on port, allowing CONNECT to any loopback port, caching nothing; with proxy
// authentication by Debian's helpers when auth asks for it (realm "vyra-proxy", user
// carrier, password handset), through password files it writes into dir.
enum class ProxyAuth { none, basic, digest };
bool start_squid(ServerProcess* p, const TempDir& dir, int port, std::string* why,
                 ProxyAuth auth = ProxyAuth::none);

}  // namespace http_test
