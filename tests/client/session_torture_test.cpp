// Torture: a whole three-round session (multipart answer, "cid:" parts, deferred writes, a
// commit, a binary read, the reply parts) run again and again, the n-th tracked allocation
// failing in run n, until a run no longer reaches the failing allocation. The HTTP library
// is its static copy, so its allocations fail in turn too; the handset is held in memory.
// Every run must end without a crash, without a tracked block left behind, with success or
// a failure code, and with nothing on the handset that the session did not commit.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "client/session/MMCP.h"
#include "common/tracked_memory.h"
#include "platform/clock.h"
#include "tests/client/provisioning_server.h"
#include "tests/client/session_fakes.h"

namespace {

using session_test::Answer;
using session_test::SeenRequest;

Answer answer_for(const SeenRequest& r, int port) {
  std::string base = "http://127.0.0.1:" + std::to_string(port);
  if (r.target == "/r2") {
    Answer a;
    a.content_type = "multipart/related; boundary=t0rture";
    a.body = "--t0rture\r\nContent-Type: application/vnd.zevorize.mmc-xml\r\n\r\n"
             "<mmc mmcID=\"5\" status-uri=\"" + base + "/r3\">"
             "<method id=\"20\" name=\"write\" object=\"phone:cdma.prl\" valueref=\"cid:p1\"/>"
             "<method id=\"21\" name=\"write\" object=\"phone:nai..1.sip.edgeproxy..1\" value=\"edge\"/>"
             "<method id=\"22\" name=\"commit\" reportstatus=\"true\"/>"
             "<method id=\"23\" name=\"read\" object=\"phone:cdma.prl\"/></mmc>\r\n"
             "--t0rture\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
             "Content-ID: <p1>\r\n\r\nAAZQUkwx\r\n--t0rture--\r\n";
    return a;
  }
  if (r.target == "/r3")
    return session_test::mmc("<mmc mmcID=\"6\" status-uri=\"/done\"><method id=\"30\" name=\"read\" "
                             "object=\"phone:boot.url\"/><method id=\"31\" name=\"disconnect\" reportstatus=\"true\"/></mmc>");
  Answer end;
  end.content_type = "text/plain";
  end.body = "done";
  return end;
}

TEST(SessionTorture, EveryAllocationFailsInTurnOverAThreeRoundSession) {
  plat::set_time_scale_for_test(0.0001);
  int port = 0;
  session_test::ProvisioningServer server([&port](const SeenRequest& r, int) { return answer_for(r, port); });
  port = server.port();
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  const std::string first =
      "<mmc status-uri=\"" + base + "/r2\"><method id=\"1\" name=\"open\" reportstatus=\"true\"/>"
      "<method id=\"2\" name=\"write\" object=\"phone:boot.url\" value=\"" + base + "/boot\"/>"
      "<method id=\"3\" name=\"read\" object=\"phone:model\"/></mmc>";
  // What a full run commits, in order; a failing run may commit part of it, nothing else.
  const std::vector<std::string> committed = {"SetGenericParam 8 " + base + "/boot", "SetPRLData 6",
                                              "SetNAISIPParam 1 2 5 edge"};
  auto run_once = [&](session_fakes::FakeSession& fake) {
    fake.handset.generic[4] = "Model & Co";
    fake.handset.prl = std::string("\x00\x04\x01\x02", 4);
    return process_mmc_file(first.data(), static_cast<int>(first.size()), session_test::kMmcType);
  };
  {
    session_fakes::FakeSession warm_up(false);  // lazily made process-wide state
    ASSERT_EQ(run_once(warm_up), 1);
    ASSERT_EQ(warm_up.handset.writes, committed);
  }
  std::map<int, int> results;
  uint64_t n = 1;
  for (;; ++n) {
    int64_t live = mem_test_live_blocks();
    int rc;
    bool reached;
    std::vector<std::string> writes;
    {
      session_fakes::FakeSession fake(false);
      uint64_t before = mem_test_allocations();
      mem_test_fail_nth(n);
      rc = run_once(fake);
      mem_test_fail_nth(0);
      reached = mem_test_allocations() - before >= n;
      writes = fake.handset.writes;
    }
    ASSERT_EQ(mem_test_live_blocks(), live) << "allocation " << n << " leaks (result " << rc << ")";
    for (const std::string& w : writes)
      EXPECT_NE(std::find(committed.begin(), committed.end(), w), committed.end()) << "allocation " << n << ": " << w;
    if (!reached) {
      EXPECT_EQ(rc, 1);
      EXPECT_EQ(writes, committed);
      break;
    }
    ++results[rc];
    ASSERT_LT(n, 100000u);
  }
  // Memory failures end as -2000 (-2024 from the parser's normalisation, -1 for the proxy
  // copy, a library code when the library gives up); the few the Parts let pass silently (a
  // dropped detail or attribute, an exchange that a retry got through) end normally.
  std::set<int> allowed = {1, -1, -2000, -2024, -3003, -3004, -3006, -3007, -3008, -3010, -3012};
  for (const auto& [rc, count] : results) EXPECT_TRUE(allowed.count(rc)) << "result " << rc << " seen " << count << " times";
  EXPECT_GT(results[-2000], 0);
  std::printf("%llu allocations failed in turn; results:", static_cast<unsigned long long>(n - 1));
  for (const auto& [rc, count] : results) std::printf(" %d x%d", rc, count);
  std::printf("\n");
  plat::set_time_scale_for_test(0);
}

}  // namespace
