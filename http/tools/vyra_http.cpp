// vyra-http: one HTTP or HTTPS exchange through the Parsek library, from the command line.
//
//   vyra-http [--device DIR] [-X GET|POST] [--data FILE] [-H 'Name: value']...
//             [--proxy HOST:PORT] [--user U:P [--digest]] [--cacert FILE]... URL
//
// Prints the status line, the response header block and the body. On failure prints the
// library's result code and exits with it (as the low byte of its absolute value).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <string>
#include <vector>

#include "common/tracked_memory.h"
#include "http/include/parsek.h"
#include "platform/paths.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: vyra-http [--device DIR] [-X GET|POST] [--data FILE] [-H 'Name: value']...\n"
               "                 [--proxy HOST:PORT] [--user U:P [--digest]] [--cacert FILE]... URL\n");
  return 2;
}

bool read_whole(const std::string& path, std::string* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
  std::fclose(f);
  return true;
}

// DER certificates from a PEM file (every certificate in it) or a DER file.
bool load_certificates(const std::string& path, std::vector<std::string>* out) {
  std::string data;
  if (!read_whole(path, &data)) return false;
  if (data.find("-----BEGIN") == std::string::npos) {
    out->push_back(data);
    return true;
  }
  BIO* bio = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
  bool any = false;
  while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
    unsigned char* der = nullptr;
    int n = i2d_X509(cert, &der);
    if (n > 0) {
      out->emplace_back(reinterpret_cast<char*>(der), static_cast<size_t>(n));
      any = true;
    }
    OPENSSL_free(der);
    X509_free(cert);
  }
  BIO_free(bio);
  return any;
}

int fail(const char* what, int code) {
  std::fprintf(stderr, "vyra-http: %s failed with %d\n", what, code);
  int status = (code < 0 ? -code : code) & 0xFF;
  return status == 0 ? 1 : status;
}

}  // namespace

int main(int argc, char** argv) {
  if (!plat::take_device_option(argc, argv)) return usage();
  std::string method, data_file, proxy, user, url;
  bool digest = false;
  std::vector<std::string> headers, cacerts;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* dst) {
      if (i + 1 >= argc) return false;
      *dst = argv[++i];
      return true;
    };
    std::string v;
    if (a == "-X") {
      if (!value(&method)) return usage();
    } else if (a == "--data") {
      if (!value(&data_file)) return usage();
    } else if (a == "-H") {
      if (!value(&v)) return usage();
      headers.push_back(v);
    } else if (a == "--proxy") {
      if (!value(&proxy)) return usage();
    } else if (a == "--user") {
      if (!value(&user)) return usage();
    } else if (a == "--digest") {
      digest = true;
    } else if (a == "--cacert") {
      if (!value(&v)) return usage();
      cacerts.push_back(v);
    } else if (!a.empty() && a[0] == '-') {
      return usage();
    } else if (url.empty()) {
      url = a;
    } else {
      return usage();
    }
  }
  if (url.empty() || (method != "" && method != "GET" && method != "POST")) return usage();

  std::string body;
  bool post = method == "POST" || !data_file.empty();
  if (!data_file.empty() && !read_whole(data_file, &body)) {
    std::fprintf(stderr, "vyra-http: cannot read %s\n", data_file.c_str());
    return 2;
  }
  std::string proxy_host;
  int proxy_port = 0;
  if (!proxy.empty()) {
    size_t colon = proxy.rfind(':');
    if (colon == std::string::npos) return usage();
    proxy_host = proxy.substr(0, colon);
    proxy_port = std::atoi(proxy.c_str() + colon + 1);
  }

  int err = 0;
  http_init* h = qn_http_initialize(proxy.empty() ? nullptr : proxy_host.c_str(), proxy_port, "vyra-http/1.0", 0, &err);
  if (h == nullptr) return fail("qn_http_initialize", err);
  int rc = qn_http_url(h, url.c_str(), post ? body.data() : nullptr, static_cast<int>(body.size()));
  if (rc != 1) {
    qn_free_http_info(h);
    return fail("qn_http_url", rc);
  }
  for (const std::string& line : headers) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) return usage();
    std::string name = line.substr(0, colon);
    size_t v0 = line.find_first_not_of(' ', colon + 1);
    std::string val = v0 == std::string::npos ? "" : line.substr(v0);
    qn_add_header(h, name.c_str(), val.c_str());
  }
  for (const std::string& file : cacerts) {
    std::vector<std::string> ders;
    if (!load_certificates(file, &ders)) {
      std::fprintf(stderr, "vyra-http: cannot read certificates from %s\n", file.c_str());
      qn_free_http_info(h);
      return 2;
    }
    for (const std::string& der : ders)
      qn_add_x509_trusted_certificate(h, reinterpret_cast<const unsigned char*>(der.data()),
                                      static_cast<int>(der.size()));
  }
  std::string u, p;
  if (!user.empty()) {
    size_t colon = user.find(':');
    u = user.substr(0, colon);
    p = colon == std::string::npos ? "" : user.substr(colon + 1);
    if (!digest) qn_add_authorization(h, u.c_str(), p.c_str());
  }

  char* out = nullptr;
  int out_len = 0;
  char* content_type = nullptr;
  char* block = nullptr;
  int status = 0;
  rc = qn_http_data(h, &out, &out_len, &content_type, &block, &status);
  if (rc == 1 && status == 401 && digest) {
    // Answer the Digest challenge once.
    http_header* list = nullptr;
    digest_info info{};
    if (qn_get_header_information(&list, block) == 1 && get_auth_type(list) == 2 &&
        get_digest_info(&info, list) == 1 && info.nonce != nullptr) {
      info.username = const_cast<char*>(u.c_str());
      info.password = const_cast<char*>(p.c_str());
      qn_add_digest_authorization(h, &info, url.c_str());
      mem_free(out, __FILE__, __LINE__);
      mem_free(content_type, __FILE__, __LINE__);
      mem_free(block, __FILE__, __LINE__);
      out = content_type = block = nullptr;
      out_len = 0;
      rc = qn_http_data(h, &out, &out_len, &content_type, &block, &status);
    }
    free_header(list);
    mem_free(info.realm, __FILE__, __LINE__);
    mem_free(info.nonce, __FILE__, __LINE__);
  }
  if (rc != 1) {
    qn_free_http_info(h);
    return fail("the exchange", rc);
  }
  std::printf("HTTP/1.1 %d\r\n%s\r\n", status, block ? block : "");
  if (out != nullptr) std::fwrite(out, 1, static_cast<size_t>(out_len), stdout);
  std::fflush(stdout);
  mem_free(out, __FILE__, __LINE__);
  mem_free(content_type, __FILE__, __LINE__);
  mem_free(block, __FILE__, __LINE__);
  qn_free_http_info(h);
  return 0;
}
