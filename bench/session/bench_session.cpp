// A 100-method session (one open, 49 reads, 49 deferred writes, one commit) against a local
// provisioning server, with VYRA_TIME_SCALE=0.001 and a real vyra-modem behind libkova.so.
//
//   build/bin/bench/bench_session --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// BM_Session100Methods runs process_mmc_file in this process with the data connection
// already up, so no fixed pause of the system falls inside it: its time is the session's
// own (parse, execution against the bridge, reply, the HTTP exchange). Target: under 50 ms.
//
// BM_Vyrad100Methods runs the whole road as the handset does (vyra-sim browser, vyrad as a
// process) and reports, per run, the wall time of vyrad, the fixed pauses inside it at this
// scale (the connection's one poll of 1000 system ms), the time beyond them, and vyrad's
// peak resident memory (ru_maxrss). Target: under 8 MiB.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "client/session/MMCP.h"
#include "client/session/mmcp_services.h"
#include "client/support/connect.h"
#include "platform/clock.h"
#include "tests/client/provisioning_server.h"
#include "tests/sim/modem_process.h"
#include "tests/support/test_support.h"

namespace {

constexpr double kTimeScale = 0.001;
constexpr double kPausesSystemMs = 1000;  // DoConnect sleeps once before it sees "connected"
const int g_scale_set = setenv("VYRA_TIME_SCALE", "0.001", 1);

constexpr char kPhoneKey[] = "ControlPanel\\PhoneExtendFunction\\VYRA\\Phone";

std::string hundred_methods(const std::string& server) {
  static const char* reads[] = {"phone:model", "phone:boot.url", "phone:boot.naiurl", "phone:nai.current",
                                "phone:nai..0.sip.edgeproxy..0", "browser:domain.trusted", "phone:cdma.vyra.level"};
  struct Write {
    const char* object;
    std::string value;
  } writes[] = {{"phone:boot.url", server + "/boot"},
                {"browser:domain.trusted", "127.0.0.1"},
                {"phone:boot.naiurl", "http://nai.bench/"},
                {"phone:nai..0.sip.edgeproxy..0", "edge.bench"},
                {"phone:nai..1.sip.dataexchange..1", "exchange.bench"},
                {"phone:nai..2.sip.retrycount..0", "3"}};
  std::string doc = "<mmc status-uri=\"" + server + "/bench\"><method id=\"0\" name=\"open\"/>";
  for (int i = 1; i <= 49; ++i)
    doc += "<method id=\"" + std::to_string(i) + "\" name=\"read\" object=\"" + reads[i % 7] + "\"/>";
  for (int i = 50; i <= 98; ++i) {
    const Write& w = writes[i % 6];
    doc += "<method id=\"" + std::to_string(i) + "\" name=\"write\" object=\"" + w.object + "\" value=\"" + w.value +
           "\" reportstatus=\"true\"/>";
  }
  return doc + "<method id=\"99\" name=\"commit\" reportstatus=\"true\"/></mmc>";
}

// The window services say nothing during the measurement (the platform's echo them).
int quiet_text(const char16_t*) { return 0; }
bool quiet_question(const char16_t*) { return false; }
const MmcpWindowCalls kQuietWindow = {quiet_text, quiet_question};

struct Bench {
  vyra_test::TempDevice dev;
  vyra_test::ModemProcess modem{dev.root()};
  session_test::ProvisioningServer server{[](const session_test::SeenRequest&, int) {
    session_test::Answer a;
    a.content_type = "text/plain";
    a.body = "recorded";
    return a;
  }};
  std::string document;
  bool ok = false;

  Bench() {
    if (g_scale_set != 0 || !modem.running()) return;
    auto reg = [&](const char* key, const char* name, const std::string& value) {
      return vyra_test::run({vyra_test::bin("vyra-reg"), "--device", dev.root(), "set", "HKCU", key, name, "--sz", value})
                 .exit_code == 0;
    };
    ok = reg(kPhoneKey, "Model", "Fennick 3") && reg(kPhoneKey, "BootUrl", server.url("/boot")) &&
         reg(kPhoneKey, "naiURL", "http://nai.bench/") && reg(kPhoneKey, "DomainTrusted", "127.0.0.1") &&
         reg("ControlPanel\\PhoneExtendFunction\\VYRA\\SIP", "EdgeProxy0", "edge.bench");
    document = hundred_methods("http://127.0.0.1:" + std::to_string(server.port()));
    vyra_test::write_file(dev.root() + "/doc.xml", document);
  }
};

Bench& bench() {
  static Bench b;
  return b;
}

void BM_Session100Methods(benchmark::State& state) {
  Bench& b = bench();
  if (!b.ok) return state.SkipWithError("no device, modem or server");
  KOVA_HANDLE handle = nullptr;
  if (KovaInitialize(nullptr, 0x70000, 0, &handle) != 0) return state.SkipWithError("KovaInitialize failed");
  mmcp_use_bridge(handle);
  connect_use_bridge(handle);
  mmcp_set_window_calls(&kQuietWindow);
  size_t requests = b.server.requests().size();
  int failures = 0;
  for (auto _ : state) {
    int rc = process_mmc_file(b.document.data(), static_cast<int>(b.document.size()), session_test::kMmcType);
    if (rc != 1) ++failures;
  }
  state.counters["failures"] = failures;
  state.counters["replies"] = static_cast<double>(b.server.requests().size() - requests);
  HangupConnection();
  connect_reset_for_test();
  mmcp_use_bridge(nullptr);
  mmcp_set_window_calls(nullptr);
  KovaDeinitialize(handle);
}
BENCHMARK(BM_Session100Methods)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Vyrad100Methods(benchmark::State& state) {
  Bench& b = bench();
  if (!b.ok) return state.SkipWithError("no device, modem or server");
  double wall_total = 0, rss_peak_kib = 0;
  int failures = 0;
  for (auto _ : state) {
    state.PauseTiming();
    vyra_test::run({vyra_test::bin("vyra-sim"), "--device", b.dev.root(), "browser", b.dev.root() + "/doc.xml"});
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
      std::string program = vyra_test::bin("vyrad");
      freopen("/dev/null", "r", stdin);
      freopen((b.dev.root() + "/vyrad.err").c_str(), "a", stderr);
      execl(program.c_str(), program.c_str(), "--device", b.dev.root().c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    wall_total += ms;
    if (usage.ru_maxrss > rss_peak_kib) rss_peak_kib = static_cast<double>(usage.ru_maxrss);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
  }
  double runs = static_cast<double>(state.iterations());
  double pauses = kPausesSystemMs * kTimeScale;
  state.counters["wall_ms"] = wall_total / runs;
  state.counters["pauses_ms"] = pauses;
  state.counters["beyond_pauses_ms"] = wall_total / runs - pauses;
  state.counters["vyrad_peak_rss_MiB"] = rss_peak_kib / 1024.0;
  state.counters["failures"] = failures;
}
BENCHMARK(BM_Vyrad100Methods)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
