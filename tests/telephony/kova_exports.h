// libkova.so loaded with dlopen, with the parameter exports looked up by name, as the client
// sees them. The library's clock scale is read once: it goes into the environment before
// the first load (one second is 50 ms here).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <string>

#include "telephony/include/kova.h"
#include "tests/support/test_support.h"

namespace vyra_test {

inline const int g_kova_scale_set = [] { return setenv("VYRA_TIME_SCALE", "0.05", 1); }();

#define KOVA_EXPORTS(X)                                                                     \
  X(KovaInitialize) X(KovaDeinitialize) X(KovaSendStatus) X(KovaMMCGetGenericParam) X(KovaMMCSetGenericParam) \
  X(KovaMMCGetCurrentNAIID) X(KovaMMCSetCurrentNAIID) X(KovaDSGetNAISignedState) X(KovaDSSetNAISignedState) \
  X(KovaMMCGetNAIUrl) X(KovaMMCSetNAIUrl) X(KovaMMCRestore) X(KovaMMCGetNAIMIPParam)          \
  X(KovaMMCSetNAIMIPParam) X(KovaMMCGetNAISIPParam) X(KovaMMCSetNAISIPParam)                 \
  X(KovaMMCSetRestoreDefaultNAI) X(KovaMMCGetNAIPPG) X(KovaMMCSetNAIPPG) X(DactMMCSetNAIPPG)  \
  X(KovaMMCGetCDMAParam) X(KovaMMCGetPRLDataSize) X(KovaMMCGetPRLData) X(KovaMMCSetPRLData)   \
  X(KovaMMCGetPUZLDataSize) X(KovaMMCGetPUZLData) X(KovaMMCSetPUZLData)                      \
  X(KovaMMCProcessIS683Data) X(KovaMMCGetIS683ResultSize) X(KovaMMCGetIS683Result)           \
  X(KovaMMCGetRootCertSize) X(KovaMMCGetRootCertDataSize) X(KovaMMCGetRootCert)              \
  X(KovaMMCSetRootCert)

class KovaExports : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g_kova_scale_set, 0);
    lib_ = dlopen(VYRA_LIB_DIR "/libkova.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib_, nullptr) << dlerror();
#define KOVA_LOOKUP(name)                                             \
  name = reinterpret_cast<decltype(&::name)>(dlsym(lib_, #name)); \
  ASSERT_NE(name, nullptr) << #name;
    KOVA_EXPORTS(KOVA_LOOKUP)
#undef KOVA_LOOKUP
  }
  void TearDown() override {
    if (handle_ != nullptr) KovaDeinitialize(handle_);
    if (lib_ != nullptr) dlclose(lib_);
  }
  void Open() {
    ASSERT_EQ(KovaInitialize(nullptr, 0x70000, 0, &handle_), 0);
  }
  // vyra-reg / vyra-sim on the test's device.
  RunResult Reg(const std::vector<std::string>& args) {
    std::vector<std::string> argv{bin("vyra-reg"), "--device", dev_.root()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
  }
  RunResult Sim(const std::vector<std::string>& args) {
    std::vector<std::string> argv{bin("vyra-sim"), "--device", dev_.root()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
  }
  std::string DebugLog() { return read_file(dev_.root() + "/run/debug.log"); }

  TempDevice dev_;
  void* lib_ = nullptr;
  KOVA_HANDLE handle_ = nullptr;
#define KOVA_MEMBER(name) decltype(&::name) name = nullptr;
  KOVA_EXPORTS(KOVA_MEMBER)
#undef KOVA_MEMBER
};

}  // namespace vyra_test
