// The bridge's way to its client: no lock across the callback, and "no callback after the
// client is cleared" without a thread ever waiting for itself.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "telephony/client_notifier.h"

namespace {

using namespace std::chrono;

kova::ClientNotifier* g_notifier = nullptr;
std::atomic<int> g_calls{0};
std::atomic<bool> g_release{false};
std::atomic<bool> g_in_callback{false};

int32_t slow_callback(uint32_t code, const void*, uint32_t, uint32_t user) {
  ++g_calls;
  g_in_callback = true;
  while (!g_release) std::this_thread::sleep_for(milliseconds(1));
  g_in_callback = false;
  return static_cast<int32_t>(code + user);
}

// What the client's stop handling does: the callback clears the client from inside.
int32_t clearing_callback(uint32_t, const void*, uint32_t, uint32_t) {
  ++g_calls;
  g_notifier->SetClient(nullptr, 0);
  return -5;
}

TEST(ClientNotifier, ClearingWaitsForACallbackOnAnotherThreadAndNoneStartsAfter) {
  kova::ClientNotifier notifier;
  g_calls = 0;
  g_release = false;
  notifier.SetClient(slow_callback, 10);
  int32_t result = 0;
  std::thread caller([&] { EXPECT_TRUE(notifier.Notify(5, nullptr, 0, &result)); });
  while (!g_in_callback) std::this_thread::sleep_for(milliseconds(1));
  auto cleared = std::async(std::launch::async, [&] { notifier.SetClient(nullptr, 0); });
  // The callback still runs: the clear must not have returned.
  EXPECT_EQ(cleared.wait_for(milliseconds(200)), std::future_status::timeout);
  EXPECT_FALSE(notifier.has_client());  // but nothing new may start
  EXPECT_FALSE(notifier.Notify(6, nullptr, 0));
  g_release = true;
  caller.join();
  EXPECT_EQ(cleared.wait_for(seconds(5)), std::future_status::ready);
  EXPECT_EQ(result, 15);  // the callback's result reaches the caller
  EXPECT_EQ(g_calls.load(), 1);
}

TEST(ClientNotifier, AClientClearedFromInsideItsOwnCallbackDoesNotWaitForItself) {
  kova::ClientNotifier notifier;
  g_notifier = &notifier;
  g_calls = 0;
  notifier.SetClient(clearing_callback, 0);
  int32_t result = 0;
  auto done = std::async(std::launch::async, [&] { return notifier.Notify(1, nullptr, 0, &result); });
  ASSERT_EQ(done.wait_for(seconds(5)), std::future_status::ready) << "the callback waited for itself";
  EXPECT_TRUE(done.get());
  EXPECT_EQ(result, -5);
  EXPECT_FALSE(notifier.Notify(1, nullptr, 0));
  EXPECT_EQ(g_calls.load(), 1);
  g_notifier = nullptr;
}

}  // namespace
