// The event queue in-process: order, empty events, allocation failures, the callback's
// rules, and shutdown run twice.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/listener.h"
#include "client/support/utils.h"
#include "client/vyraevent.h"
#include "common/tracked_memory.h"
#include "platform/registry.h"
#include "telephony/include/kova.h"
#include "tests/support/test_support.h"

namespace {

class EventQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::reg_set_dword(plat::RegRoot::HKLM, u"Software\\ZEM\\VYRA", u"Logging", 1);
    log_open();
    live_before = mem_test_live_blocks();
  }
  void TearDown() override {
    while (vyra_event* e = get_event()) free_event(e);
    log_close();
    provisioning_active = 0;
    cancel_requested = 0;
    EXPECT_EQ(mem_test_live_blocks(), live_before);
  }
  std::string log() { return vyra_test::read_file(dev.fs("Program Files/vyra/vyralog.txt")); }
  vyra_test::TempDevice dev;
  int64_t live_before = 0;
};

TEST_F(EventQueue, FirstInFirstOutWithPrivateCopies) {
  unsigned char a[3] = {1, 2, 3};
  vyra_event first{EVENT_WAP_PUSH, 3, a};
  vyra_event second{EVENT_KOVA_NOTIFY_CIIP, 0, nullptr};
  ASSERT_EQ(insert_event(&first), 0);
  a[0] = 99;  // the queue kept its own copy
  ASSERT_EQ(insert_event(&second), 0);
  EXPECT_EQ(queued_event_count(), 2);
  vyra_event* e = get_event();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->type, EVENT_WAP_PUSH);
  ASSERT_EQ(e->length, 3);
  EXPECT_EQ(e->data[0], 1);
  free_event(e);
  e = get_event();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->type, EVENT_KOVA_NOTIFY_CIIP);
  EXPECT_EQ(e->length, 0);
  EXPECT_NE(e->data, nullptr);  // a valid, empty buffer
  free_event(e);
  EXPECT_EQ(get_event(), nullptr);
  EXPECT_EQ(insert_event(nullptr), -2007);
  EXPECT_NE(log().find("insert_event is NULL"), std::string::npos);
}

TEST_F(EventQueue, AllocationFailuresLoseNothing) {
  unsigned char bytes[2] = {7, 8};
  vyra_event ev{EVENT_WAP_PUSH, 2, bytes};
  mem_test_fail_nth(1);  // the node
  EXPECT_EQ(insert_event(&ev), -2000);
  EXPECT_NE(log().find("eventlistsizeMEMALLOCfail"), std::string::npos);
  mem_test_fail_nth(2);  // the node's copy of the bytes
  EXPECT_EQ(insert_event(&ev), -2000);
  EXPECT_EQ(queued_event_count(), 0);
  ASSERT_EQ(insert_event(&ev), 0);
  for (int nth = 1; nth <= 2; ++nth) {  // the record, then its data buffer
    mem_test_fail_nth(nth);
    EXPECT_EQ(get_event(), nullptr);
    EXPECT_EQ(queued_event_count(), 1);  // the event stays at the head
  }
  vyra_event* e = get_event();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->data[1], 8);
  free_event(e);
}

// The message record as the bridge hands it over: 32-bit length, then the bytes.
std::string record(const std::string& payload, uint32_t declared) {
  std::string r(4 + payload.size(), '\0');
  r[0] = static_cast<char>(declared);
  r[1] = static_cast<char>(declared >> 8);
  r[2] = static_cast<char>(declared >> 16);
  r[3] = static_cast<char>(declared >> 24);
  std::memcpy(r.data() + 4, payload.data(), payload.size());
  return r;
}

TEST_F(EventQueue, CallbackQueuesPushesAndActivations) {
  std::string msg = record("\x01\x02\x03", 3);
  EXPECT_EQ(handle_notification(KOVA_NOTIFY_MESSAGE, msg.data(), 1028), 0);
  EXPECT_EQ(handle_notification(KOVA_NOTIFY_VYRAACTIVATE, nullptr, 0), 0);
  EXPECT_EQ(handle_notification(0x12345, nullptr, 0), 0);
  EXPECT_EQ(queued_event_count(), 2);
  std::string text = log();
  EXPECT_NE(text.find("DwCode value : [131073]"), std::string::npos);
  EXPECT_NE(text.find("inserted into event queue element of size [3] and signalling event queue"), std::string::npos);
  EXPECT_NE(text.find("vyra activate received"), std::string::npos);
  EXPECT_NE(text.find("notification not for VYRA"), std::string::npos);
}

TEST_F(EventQueue, CallbackRefusesBadRecordsAndDropsDuringASession) {
  std::string oversized = record(std::string(1024, 'x'), 1025);
  EXPECT_EQ(handle_notification(KOVA_NOTIFY_MESSAGE, oversized.data(), 1028), -1);
  EXPECT_EQ(handle_notification(KOVA_NOTIFY_MESSAGE, nullptr, 0), -2007);
  std::string full = record(std::string(1024, 'y'), 1024);
  mem_test_fail_nth(2);  // the queue node, after the callback's own copy
  EXPECT_EQ(handle_notification(KOVA_NOTIFY_MESSAGE, full.data(), 1028), -2000);
  EXPECT_EQ(queued_event_count(), 0);

  provisioning_active = 1;
  std::string msg = record("\x05", 1);
  EXPECT_EQ(handle_notification(KOVA_NOTIFY_MESSAGE, msg.data(), 1028), 0);
  EXPECT_EQ(handle_notification(KOVA_NOTIFY_VYRAACTIVATE, nullptr, 0), 0);
  EXPECT_EQ(handle_notification(KOVA_NOTIFY_VYRASTOP, nullptr, 0), 0);  // does not end the process
  EXPECT_EQ(cancel_requested, 1);
  EXPECT_EQ(queued_event_count(), 0);
  std::string text = log();
  EXPECT_NE(text.find("proisioning is going on"), std::string::npos);
  EXPECT_NE(text.find("provisioning is going on\r\n"), std::string::npos);
  EXPECT_NE(text.find("provisioning is going on when  vyra received"), std::string::npos);
  provisioning_active = 0;
  EXPECT_EQ(handle_notification(KOVA_NOTIFY_VYRAACTIVATE, nullptr, 0), 0);
  EXPECT_EQ(cancel_requested, 0);  // an activation clears a stale cancel
}

TEST_F(EventQueue, FloodOfPushesIsQueuedInOrder) {
  log_close();  // keep the flood out of the log file
  constexpr int kFlood = 100001;
  for (int i = 0; i < kFlood; ++i) {
    std::string msg = record(std::string(1, static_cast<char>(i & 0x7f)), 1);
    ASSERT_EQ(handle_notification(KOVA_NOTIFY_MESSAGE, msg.data(), 1028), 0);
  }
  EXPECT_EQ(queued_event_count(), kFlood);
  for (int i = 0; i < kFlood; ++i) {
    vyra_event* e = get_event();
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->data[0], i & 0x7f);
    free_event(e);
  }
}

TEST_F(EventQueue, TerminateTwice) {
  ASSERT_EQ(listener_init(), 0);
  EXPECT_EQ(listener_terminate(), 0);
  EXPECT_EQ(listener_terminate(), -1);
  std::string text = log();
  EXPECT_NE(text.find("DeInitialized Kova"), std::string::npos);
  EXPECT_NE(text.find("Terminated vYRAListener"), std::string::npos);
  EXPECT_NE(text.find("vYRAListener already terminated"), std::string::npos);
}

}  // namespace
