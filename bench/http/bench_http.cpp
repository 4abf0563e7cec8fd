// Parsek and libcurl side by side against the same local nginx: 200 small POST exchanges
// on new connections, 1 MiB and 10 MiB downloads, and 200 HTTPS exchanges with fresh
// handshakes. Parsek's fixed one-second pause before each TLS set-up is switched off for
// the comparison and measured on its own (BM_Parsek_HttpsSetupPause).
//
//   build/bin/bench/bench_http --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// Run each client in its own process (--benchmark_filter=Parsek, then =Curl): glibc moves
// its mmap threshold as large blocks are freed, so the second client of one process
// inherits the first one's heap state and the download figures stop being comparable.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/tracked_memory.h"
#include "http/http_internal.h"
#include "tests/http/fake_server.h"
#include "tests/http/servers.h"

using namespace http_test;

namespace {

struct Site {
  TempDir dir;
  TestPki pki;
  ServerProcess nginx;
  int http_port = 0, https_port = 0, expired_port = 0;
  bool ok = false;
  Site() {
    if (!pki.make(dir)) return;
    dir.write("www/1m.bin", std::string(1 << 20, 'm'));
    dir.write("www/10m.bin", std::string(10 << 20, 't'));
    http_port = free_port();
    https_port = free_port();
    expired_port = free_port();
    std::string why;
    ok = start_nginx(&nginx, dir, pki, http_port, https_port, expired_port, &why);
    if (!ok) std::fprintf(stderr, "bench_http: %s\n", why.c_str());
  }
  std::string http(const std::string& p) const { return "http://127.0.0.1:" + std::to_string(http_port) + p; }
  std::string https(const std::string& p) const { return "https://localhost:" + std::to_string(https_port) + p; }
};

Site& site() {
  static Site s;
  return s;
}

// ------------------------------------------------------------------ Parsek

bool parsek_once(const std::string& url, const char* post, int post_len, const std::string* ca, size_t* got,
                 size_t) {
  int err = 0;
  http_init* h = qn_http_initialize(nullptr, 0, "bench/1", 0, &err);
  if (ca) qn_add_x509_trusted_certificate(h, reinterpret_cast<const unsigned char*>(ca->data()), static_cast<int>(ca->size()));
  qn_http_url(h, url.c_str(), post, post_len);
  char* body = nullptr;
  char* type = nullptr;
  char* block = nullptr;
  int len = 0, status = 0;
  int rc = qn_http_data(h, &body, &len, &type, &block, &status);
  *got = static_cast<size_t>(len);
  mem_free(body, __FILE__, __LINE__);
  mem_free(type, __FILE__, __LINE__);
  mem_free(block, __FILE__, __LINE__);
  qn_free_http_info(h);
  return rc == 1 && status == 200;
}

// ------------------------------------------------------------------ libcurl
// Used as well as its users use it: the body's announced length is reserved at its first
// piece (one allocation, no regrowth, as Parsek sizes its buffer once the length is
// known), and the receive buffer is as large as the one Parsek reads into for the row.

struct sink {
  CURL* curl;
  std::string body;
};

size_t collect(char* p, size_t size, size_t n, void* out) {
  auto* s = static_cast<sink*>(out);
  if (s->body.empty()) {
    curl_off_t length = -1;
    if (curl_easy_getinfo(s->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0)
      s->body.reserve(static_cast<size_t>(length));
  }
  s->body.append(p, size * n);
  return size * n;
}

// curl's default buffer, or the response's size when Parsek reads more at once (its
// buffer grows to the announced length), within curl's limit.
long curl_buffer_for(size_t expect) {
  size_t want = expect + 1024;
  if (want < 16384) want = 16384;
  if (want > CURL_MAX_READ_SIZE) want = CURL_MAX_READ_SIZE;
  return static_cast<long>(want);
}

bool curl_once(const std::string& url, const char* post, int post_len, const std::string* ca_file, size_t* got,
               size_t expect) {
  CURL* c = curl_easy_init();
  sink body{c, {}};
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_USERAGENT, "bench/1");
  curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE, curl_buffer_for(expect));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(c, CURLOPT_PROXY, "");
  if (post) {
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, post);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(post_len));
  }
  if (ca_file) curl_easy_setopt(c, CURLOPT_CAINFO, ca_file->c_str());
  CURLcode rc = curl_easy_perform(c);
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(c);
  *got = body.body.size();
  return rc == CURLE_OK && status == 200;
}

using Once = bool (*)(const std::string&, const char*, int, const std::string*, size_t*, size_t);

void run_set(benchmark::State& state, Once once, const std::string& url, const char* post, int n,
             const std::string* extra, size_t expect) {
  if (!site().ok) {
    state.SkipWithError("nginx did not start");
    return;
  }
  tls_set_setup_pause_for_test(false);
  for (auto _ : state) {
    for (int i = 0; i < n; ++i) {
      size_t got = 0;
      if (!once(url, post, post ? static_cast<int>(std::strlen(post)) : 0, extra, &got, expect) || got != expect) {
        state.SkipWithError("exchange failed");
        return;
      }
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n * static_cast<int64_t>(expect));
}

}  // namespace

static void BM_Parsek_Post200(benchmark::State& s) { run_set(s, parsek_once, site().http("/post"), "a=1&b=2", 200, nullptr, 7); }
static void BM_Curl_Post200(benchmark::State& s) { run_set(s, curl_once, site().http("/post"), "a=1&b=2", 200, nullptr, 7); }
static void BM_Parsek_Download1M(benchmark::State& s) { run_set(s, parsek_once, site().http("/1m.bin"), nullptr, 1, nullptr, 1 << 20); }
static void BM_Curl_Download1M(benchmark::State& s) { run_set(s, curl_once, site().http("/1m.bin"), nullptr, 1, nullptr, 1 << 20); }
static void BM_Parsek_Download10M(benchmark::State& s) { run_set(s, parsek_once, site().http("/10m.bin"), nullptr, 1, nullptr, 10 << 20); }
static void BM_Curl_Download10M(benchmark::State& s) { run_set(s, curl_once, site().http("/10m.bin"), nullptr, 1, nullptr, 10 << 20); }
static void BM_Parsek_Https200(benchmark::State& s) {
  run_set(s, parsek_once, site().https("/post"), "a=1", 200, &site().pki.ca_der, 7);
}
static void BM_Curl_Https200(benchmark::State& s) {
  run_set(s, curl_once, site().https("/post"), "a=1", 200, &site().pki.ca_pem, 7);
}
// One HTTPS exchange with the fixed pause in front of its TLS set-up.
static void BM_Parsek_HttpsSetupPause(benchmark::State& s) {
  if (!site().ok) return s.SkipWithError("nginx did not start");
  for (auto _ : s) {
    tls_set_setup_pause_for_test(true);
    size_t got = 0;
    bool ok = parsek_once(site().https("/post"), "a=1", 3, &site().pki.ca_der, &got, 7);
    tls_set_setup_pause_for_test(false);
    if (!ok) return s.SkipWithError("exchange failed");
  }
}

// The library's own work on a received response (scan as it arrives in 16 KiB pieces, then
// split with chunked decoding), without the network: linear in the body size.
static void BM_Parsek_ScanSplitChunked(benchmark::State& s) {
  size_t body = static_cast<size_t>(s.range(0));
  std::string raw = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  std::string chunk(8192, 'c');
  for (size_t done = 0; done < body; done += chunk.size()) raw += "2000\r\n" + chunk + "\r\n";
  raw += "0\r\n\r\n";
  for (auto _ : s) {
    response_scan scan;
    for (size_t len = 16384; len < raw.size(); len += 16384) http_scan_response(&scan, raw.data(), len, false);
    if (http_scan_response(&scan, raw.data(), raw.size(), false) != 1) return s.SkipWithError("scan");
    http_response r;
    if (http_split_response(raw.data(), raw.size(), false, false, &r) != 1) return s.SkipWithError("split");
    http_response_release(&r);
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations()) * static_cast<int64_t>(body));
}
BENCHMARK(BM_Parsek_ScanSplitChunked)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_Parsek_Post200)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Curl_Post200)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Parsek_Download1M)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Curl_Download1M)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Parsek_Download10M)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Curl_Download10M)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Parsek_Https200)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Curl_Https200)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Parsek_HttpsSetupPause)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
