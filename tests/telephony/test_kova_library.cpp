// libkova.so as the client sees it: loaded with dlopen, driven through its exports, with a
// real vyra-modem behind it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>

#include "platform/named_event.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "telephony/include/kova.h"
#include "tests/sim/modem_process.h"
#include "tests/support/test_support.h"

namespace {

// The library has its own copy of the clock, read once: the scale goes in the environment
// before the library is loaded. One second is 50 ms here.
const int g_scale_set = [] { return setenv("VYRA_TIME_SCALE", "0.05", 1); }();

struct Calls {
  std::mutex mu;
  std::vector<uint32_t> codes;
  std::vector<std::string> messages;
};
Calls g_calls;

int32_t on_client(uint32_t code, const void* data, uint32_t size, uint32_t user) {
  (void)user;
  std::lock_guard<std::mutex> lock(g_calls.mu);
  g_calls.codes.push_back(code);
  if (code == KOVA_NOTIFY_MESSAGE && size == sizeof(KovaMessageRecord)) {
    const auto* r = static_cast<const KovaMessageRecord*>(data);
    g_calls.messages.emplace_back(reinterpret_cast<const char*>(r->data), r->length);
  }
  return 0;
}

int count_threads() {
  int n = 0;
  DIR* d = opendir("/proc/self/task");
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

class KovaLibrary : public ::testing::Test {
 protected:
  using InitFn = int32_t (*)(KOVA_CALLBACK, uint32_t, uint32_t, KOVA_HANDLE*);
  using DeinitFn = int32_t (*)(KOVA_HANDLE);
  using GetIdFn = int32_t (*)(KOVA_HANDLE, uint8_t*);
  using SetIdFn = int32_t (*)(KOVA_HANDLE, uint8_t);

  void SetUp() override {
    ASSERT_EQ(g_scale_set, 0);
    {
      std::lock_guard<std::mutex> lock(g_calls.mu);
      g_calls.codes.clear();
      g_calls.messages.clear();
    }
    lib_ = dlopen(VYRA_LIB_DIR "/libkova.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib_, nullptr) << dlerror();
    init_ = reinterpret_cast<InitFn>(dlsym(lib_, "KovaInitialize"));
    deinit_ = reinterpret_cast<DeinitFn>(dlsym(lib_, "KovaDeinitialize"));
    get_id_ = reinterpret_cast<GetIdFn>(dlsym(lib_, "KovaMMCGetCurrentNAIID"));
    set_id_ = reinterpret_cast<SetIdFn>(dlsym(lib_, "KovaMMCSetCurrentNAIID"));
    ASSERT_TRUE(init_ && deinit_ && get_id_ && set_id_);
    // A library that a thread-local of an earlier test's threads keeps mapped is not loaded
    // anew (its threads still serve that test's device): each test wants a fresh process,
    // as ctest runs them.
    if (DebugLog().find("KovaDll.dll Start!!!") == std::string::npos)
      GTEST_SKIP() << "libkova.so stayed loaded from an earlier test in this process";
  }
  void TearDown() override {
    if (handle_ != nullptr) deinit_(handle_);
    if (lib_ != nullptr) dlclose(lib_);
  }
  std::vector<uint32_t> Codes() {
    std::lock_guard<std::mutex> lock(g_calls.mu);
    return g_calls.codes;
  }
  bool WaitCodes(size_t n) {
    for (int i = 0; i < 500; ++i) {
      if (Codes().size() >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  void Signal(const char* name) {
    vyra_test::RunResult r = vyra_test::run({vyra_test::bin("vyra-sim"), "--device", dev_.root(), "signal", name});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  std::string DebugLog() { return vyra_test::read_file(dev_.root() + "/run/debug.log"); }

  vyra_test::TempDevice dev_;
  void* lib_ = nullptr;
  InitFn init_ = nullptr;
  DeinitFn deinit_ = nullptr;
  GetIdFn get_id_ = nullptr;
  SetIdFn set_id_ = nullptr;
  KOVA_HANDLE handle_ = nullptr;
};

TEST_F(KovaLibrary, LoadAndUnloadWriteTheirLines) {
  EXPECT_NE(DebugLog().find("\r\n KovaDll.dll Start!!!\r\n"), std::string::npos);
  EXPECT_EQ(DebugLog().find("End!!!"), std::string::npos);
  // The unload runs when a process that opened the bridge ends normally, threads running.
  pid_t child = fork();
  if (child == 0) {
    static KOVA_HANDLE open_handle = nullptr;  // still open at exit, and reachable
    _exit(init_(&on_client, 0x70000, 0, &open_handle) == 0 ? (std::exit(0), 0) : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(DebugLog().find("\r\n KovaDll.dll End!!!\r\n"), std::string::npos);
}

TEST_F(KovaLibrary, EachNamedEventGivesOneCallbackAndNoneAfterDeinitialize) {
  EXPECT_EQ(init_(&on_client, 0x70000, 0, nullptr), -1);
  EXPECT_EQ(deinit_(nullptr), -1);
  int before = count_threads();
  ASSERT_EQ(init_(&on_client, 0x70000, 0, &handle_), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Signal("ZEM_NOTIFY_VYRASTOP");
  ASSERT_TRUE(WaitCodes(1));
  Signal("ZEM_NOTIFY_VYRAACTIVATE");
  ASSERT_TRUE(WaitCodes(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{KOVA_NOTIFY_VYRASTOP, KOVA_NOTIFY_VYRAACTIVATE}));

  // A second initialise reattaches; it starts no second notification thread.
  int after_first = count_threads();
  KOVA_HANDLE second = nullptr;
  ASSERT_EQ(init_(&on_client, 0x70000, 0, &second), 0);
  EXPECT_EQ(count_threads(), after_first);
  EXPECT_GT(after_first, before);
  Signal("ZEM_NOTIFY_VYRASTOP");
  ASSERT_TRUE(WaitCodes(3));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Codes().size(), 3u);  // still one callback per signal

  ASSERT_EQ(deinit_(second), 0);
  ASSERT_EQ(deinit_(handle_), 0);
  handle_ = nullptr;
  Signal("ZEM_NOTIFY_VYRASTOP");
  Signal("ZEM_NOTIFY_VYRAACTIVATE");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(Codes().size(), 3u);
}

TEST_F(KovaLibrary, InitializeStartsTheConnectionProgramWithN) {
  std::string script = dev_.root() + "/cdmaconn.sh";
  vyra_test::write_file(script, "#!/bin/sh\necho \"$@\" >> \"$VYRA_DEVICE/cdmaconn.args\"\n");
  chmod(script.c_str(), 0755);
  ASSERT_EQ(plat::reg_set_sz(plat::RegRoot::HKLM, plat::kProgramMapKey, u"\\Windows\\CDMAConn.exe",
                             plat::utf8_to_utf16(script)),
            plat::kRegOk);
  ASSERT_EQ(init_(&on_client, 0x70000, 0, &handle_), 0);
  for (int i = 0; i < 300 && vyra_test::read_file(dev_.root() + "/cdmaconn.args").empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(vyra_test::read_file(dev_.root() + "/cdmaconn.args"), "/n\n");
}

TEST_F(KovaLibrary, ActiveProfileReadAndWrittenThroughTheModem) {
  // No daemon: initialise still succeeds, the modem operations fail.
  ASSERT_EQ(init_(&on_client, 0x70000, 0, &handle_), 0);
  uint8_t index = 9;
  EXPECT_EQ(get_id_(handle_, &index), -1);
  EXPECT_EQ(index, 9);
  EXPECT_EQ(get_id_(handle_, nullptr), -1);
  ASSERT_EQ(deinit_(handle_), 0);
  handle_ = nullptr;

  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  ASSERT_EQ(init_(&on_client, 0x70000, 0, &handle_), 0);
  ASSERT_EQ(get_id_(handle_, &index), 0);
  EXPECT_EQ(index, 0);
  ASSERT_EQ(set_id_(handle_, 2), 0);
  ASSERT_EQ(get_id_(handle_, &index), 0);
  EXPECT_EQ(index, 2);
  vyra_test::RunResult r = vyra_test::run({vyra_test::bin("vyra-sim"), "--device", dev_.root(), "nv", "get", "464"});
  EXPECT_EQ(r.out, "02\n");
  EXPECT_EQ(set_id_(handle_, 9), -1);  // the modem refuses a profile it does not have

  // The daemon dies: the next call fails on its own, the library keeps going.
  modem.Kill();
  EXPECT_EQ(get_id_(handle_, &index), -1);
  ASSERT_TRUE(modem.Start());
  KOVA_HANDLE again = nullptr;
  ASSERT_EQ(init_(&on_client, 0x70000, 0, &again), 0);  // reattach
  ASSERT_EQ(get_id_(again, &index), 0);
  EXPECT_EQ(index, 2);
  ASSERT_EQ(deinit_(again), 0);
  ASSERT_EQ(deinit_(handle_), 0);
  handle_ = nullptr;
  EXPECT_EQ(get_id_(nullptr, &index), -1);  // closed channel
}

TEST_F(KovaLibrary, AMessageKeptByTheDaemonReachesTheClientWhenItOpens) {
  vyra_test::ModemProcess modem(dev_.root());
  ASSERT_TRUE(modem.running());
  vyra_test::RunResult r =
      vyra_test::run({vyra_test::bin("vyra-sim"), "--device", dev_.root(), "message", "--hex", "707573680A"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_EQ(init_(&on_client, 0x70000, 0, &handle_), 0);
  ASSERT_TRUE(WaitCodes(1));
  EXPECT_EQ(Codes()[0], KOVA_NOTIFY_MESSAGE);
  std::lock_guard<std::mutex> lock(g_calls.mu);
  ASSERT_EQ(g_calls.messages.size(), 1u);
  EXPECT_EQ(g_calls.messages[0], "push\n");
}

}  // namespace
