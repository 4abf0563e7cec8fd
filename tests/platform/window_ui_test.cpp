// Windows and messages, the semaphore, the phone book and active connections, and the UI
// journal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/ras.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/ui.h"
#include "platform/window.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::chrono;

std::atomic<int> g_created{0};
std::atomic<int> g_destroyed{0};
std::thread::id g_proc_thread;

intptr_t test_proc(plat::Window* w, uint32_t msg, uintptr_t wp, intptr_t lp) {
  g_proc_thread = std::this_thread::get_id();
  switch (msg) {
    case plat::WM_CREATE: ++g_created; return 0;
    case plat::WM_DESTROY: ++g_destroyed; plat::post_quit_message(7); return 0;
    case plat::WM_USER + 5: return static_cast<intptr_t>(wp) + lp;
    default: return plat::default_window_proc(w, msg, wp, lp);
  }
}

TEST(Window, ClassIsSeenByOtherProcessesOfTheDevice) {
  vyra_test::TempDevice dev;
  EXPECT_FALSE(plat::find_window_class("vYRA"));
  ASSERT_TRUE(plat::register_window_class("vYRA", test_proc));
  EXPECT_TRUE(plat::find_window_class("vYRA"));
  EXPECT_FALSE(plat::register_window_class("vYRA", test_proc));
  pid_t child = fork();
  if (child == 0) _exit(plat::find_window_class("vYRA") && !plat::register_window_class("vYRA", test_proc) ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  plat::unregister_window_class("vYRA");
  EXPECT_FALSE(plat::find_window_class("vYRA"));
  EXPECT_FALSE(plat::register_window_class("", test_proc));
}

TEST(Window, SendFromAnotherThreadRunsOnTheWindowThreadAndCloseEndsTheLoop) {
  vyra_test::TempDevice dev;
  ASSERT_TRUE(plat::register_window_class("listener", test_proc));
  g_created = g_destroyed = 0;
  plat::Window* w = plat::create_window("listener", u"listener");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(g_created.load(), 1);
  EXPECT_EQ(plat::send_message(w, plat::WM_USER + 5, 2, 3), 5);  // same thread: direct call
  std::atomic<intptr_t> answer{0};
  std::thread sender([&] {
    answer = plat::send_message(w, plat::WM_USER + 5, 40, 2);
    plat::send_message(w, plat::WM_CLOSE, 0, 0);
    // The window is gone: sending and posting fail quietly.
    EXPECT_EQ(plat::send_message(w, plat::WM_USER + 5, 1, 1), 0);
    EXPECT_FALSE(plat::post_message(w, plat::WM_USER + 5, 1, 1));
  });
  int exit_code = -1;
  while (plat::pump_message(&exit_code)) {
  }
  sender.join();
  EXPECT_EQ(answer.load(), 42);
  EXPECT_EQ(g_proc_thread, std::this_thread::get_id());
  EXPECT_EQ(g_destroyed.load(), 1);
  EXPECT_EQ(exit_code, 7);
  plat::unregister_window_class("listener");
}

TEST(Semaphore, CountsMaximumAndClose) {
  plat::Semaphore s(0, 2);
  EXPECT_EQ(s.wait(0), 258);
  EXPECT_TRUE(s.release(2));
  EXPECT_FALSE(s.release(1));  // past the maximum: nothing released
  EXPECT_EQ(s.count(), 2u);
  EXPECT_EQ(s.wait(0), 0);
  EXPECT_EQ(s.wait(0), 0);
  std::atomic<int> waited{1};
  std::thread waiter([&] { waited = s.wait(0xFFFFFFFFu); });
  std::this_thread::sleep_for(milliseconds(50));
  s.close();
  waiter.join();
  EXPECT_EQ(waited.load(), -1);  // closing ends the wait with a failure
  EXPECT_FALSE(s.release(1));
}

TEST(Ras, PhoneBookEntriesFromTheRegistry) {
  vyra_test::TempDevice dev;
  plat::RasEntryName entries[4] = {};
  entries[0].size = sizeof(plat::RasEntryName);
  uint32_t bytes = sizeof entries, count = 9;
  ASSERT_EQ(plat::ras_enum_entries(entries, &bytes, &count), 0);
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(plat::reg_create_key(plat::RegRoot::HKCU, u"Comm\\RasBook\\Carrier Data"), plat::kRegOk);
  ASSERT_EQ(plat::reg_create_key(plat::RegRoot::HKCU, u"Comm\\RasBook\\A name longer than twenty"), plat::kRegOk);
  ASSERT_EQ(plat::reg_create_key(plat::RegRoot::HKCU, u"Comm\\RasBook\\Carrier Data\\Settings"), plat::kRegOk);
  bytes = sizeof entries;
  ASSERT_EQ(plat::ras_enum_entries(entries, &bytes, &count), 0);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(std::u16string(entries[0].name), u"A name longer than t");
  EXPECT_EQ(std::u16string(entries[1].name), u"Carrier Data");
  bytes = sizeof(plat::RasEntryName);
  EXPECT_EQ(plat::ras_enum_entries(entries, &bytes, &count), plat::kRasBufferTooSmall);
  EXPECT_EQ(bytes, 96u);
  entries[0].size = 12;
  EXPECT_EQ(plat::ras_enum_entries(entries, &bytes, &count), plat::kRasInvalidSize);
}

TEST(Ras, ActiveConnectionsAreListedAndHungUpByHandle) {
  vyra_test::TempDevice dev;
  plat::RasConn conns[3] = {};
  conns[0].size = sizeof(plat::RasConn);
  uint32_t bytes = sizeof conns, count = 9;
  ASSERT_EQ(plat::ras_enum_connections(conns, &bytes, &count), 0);
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(plat::ras_add_connection(u"zero", 0));
  ASSERT_TRUE(plat::ras_add_connection(u"Carrier Data", 11));
  ASSERT_TRUE(plat::ras_add_connection(u"`Device", 12));
  // Neither a value of another type nor a key below the list is a connection.
  ASSERT_EQ(plat::reg_set_sz(plat::RegRoot::HKLM, u"Software\\VYRA\\Simulator\\RasConnections", u"text", u"x"),
            plat::kRegOk);
  ASSERT_EQ(plat::reg_set_dword(plat::RegRoot::HKLM, u"Software\\VYRA\\Simulator\\RasConnections\\Sub", u"deep", 5),
            plat::kRegOk);
  bytes = sizeof(plat::RasConn);
  EXPECT_EQ(plat::ras_enum_connections(conns, &bytes, &count), plat::kRasBufferTooSmall);
  EXPECT_EQ(bytes, 104u);
  bytes = sizeof conns;
  ASSERT_EQ(plat::ras_enum_connections(conns, &bytes, &count), 0);
  ASSERT_EQ(count, 2u);
  // Ordered by name without regard to case: '`' comes before 'c'.
  EXPECT_EQ(std::u16string(conns[0].entry_name), u"`Device");
  EXPECT_EQ(conns[0].handle, 12u);
  EXPECT_EQ(std::u16string(conns[1].entry_name), u"Carrier Data");
  EXPECT_EQ(conns[1].handle, 11u);
  EXPECT_EQ(plat::ras_hang_up(99), plat::kRasInvalidHandle);
  EXPECT_EQ(plat::ras_hang_up(5), plat::kRasInvalidHandle);  // the value below the list
  EXPECT_EQ(plat::ras_hang_up(11), 0);
  EXPECT_EQ(plat::ras_hang_up(11), plat::kRasInvalidHandle);
  ASSERT_EQ(plat::ras_enum_connections(conns, &bytes, &count), 0);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(std::u16string(conns[0].entry_name), u"`Device");
  conns[0].size = 48;
  EXPECT_EQ(plat::ras_enum_connections(conns, &bytes, &count), plat::kRasInvalidSize);
}

TEST(Ui, BubblesAndTheResetAreJournaled) {
  vyra_test::TempDevice dev;
  plat::Bubble b;
  b.id = 7;
  b.class_id = u"{C}";
  b.title = u"T\u00e9";
  b.icon = 102;
  b.flags = 0x0A;
  b.priority = 433;
  b.soft_key = u"Dismiss";
  b.soft_key_command = 1001;
  b.html = u"<p a=\"1\">x</p>";
  b.duration_s = 30;
  plat::ui_bubble_show(b);
  plat::ui_bubble_remove(7, u"{C}");
  EXPECT_EQ(plat::ui_reset_count(), 0u);
  plat::ui_device_reset(0x0101003C);
  plat::ui_device_reset(0x0101003C);
  EXPECT_EQ(plat::ui_reset_count(), 2u);
  EXPECT_EQ(vyra_test::read_file(dev.root() + "/run/ui.journal"),
            "{\"kind\":\"bubble_show\",\"id\":\"7\",\"class\":\"{C}\",\"title\":\"T\xc3\xa9\",\"icon\":\"102\","
            "\"flags\":\"0xA\",\"priority\":\"433\",\"soft_key\":\"Dismiss\",\"soft_key_command\":\"1001\","
            "\"html\":\"<p a=\\\"1\\\">x</p>\",\"duration\":\"30\"}\n"
            "{\"kind\":\"bubble_remove\",\"id\":\"7\",\"class\":\"{C}\"}\n"
            "{\"kind\":\"device_reset\",\"control_code\":\"0x0101003C\"}\n"
            "{\"kind\":\"device_reset\",\"control_code\":\"0x0101003C\"}\n");
}

TEST(Ui, YesNoWithoutTerminalComesFromTheRegistryAndDefaultsToNo) {
  vyra_test::TempDevice dev;
  if (isatty(STDIN_FILENO)) GTEST_SKIP() << "standard input is a terminal";
  EXPECT_FALSE(plat::ui_ask_yes_no(u"Start provisioning?", u"vyra"));
  ASSERT_EQ(plat::reg_set_sz(plat::RegRoot::HKLM, u"Software\\VYRA\\Simulator", u"AnswerYesNo", u" YES "),
            plat::kRegOk);
  EXPECT_TRUE(plat::ui_ask_yes_no(u"Start provisioning?", u"vyra"));
  ASSERT_EQ(plat::reg_set_sz(plat::RegRoot::HKLM, u"Software\\VYRA\\Simulator", u"AnswerYesNo", u"maybe"),
            plat::kRegOk);
  EXPECT_FALSE(plat::ui_ask_yes_no(u"Again?", u"vyra"));
  plat::ui_window_text(u"Connecting \"x\"");
  std::string journal = vyra_test::read_file(dev.root() + "/run/ui.journal");
  EXPECT_EQ(journal,
            "{\"kind\":\"yes_no\",\"caption\":\"vyra\",\"text\":\"Start provisioning?\",\"answer\":\"no\",\"source\":\"registry\"}\n"
            "{\"kind\":\"yes_no\",\"caption\":\"vyra\",\"text\":\"Start provisioning?\",\"answer\":\"yes\",\"source\":\"registry\"}\n"
            "{\"kind\":\"yes_no\",\"caption\":\"vyra\",\"text\":\"Again?\",\"answer\":\"no\",\"source\":\"registry\"}\n"
            "{\"kind\":\"window_text\",\"text\":\"Connecting \\\"x\\\"\"}\n");
}

}  // namespace
