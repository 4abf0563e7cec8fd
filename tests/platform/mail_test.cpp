// The mail service: which tool it runs and how, what it journals, how it reports a tool that
// fails, keeps running or is missing. The tools are small scripts on a private PATH that
// record their arguments.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/mail.h"
#include "tests/support/test_support.h"

namespace {

class MailService : public ::testing::Test {
 protected:
  void TearDown() override { plat::set_time_scale_for_test(0); }
  void tool(const std::string& name, const std::string& then = "exit 0") { tools_.tool(name, then); }
  std::string calls() { return vyra_test::read_file(dev_.root() + "/calls.txt"); }
  std::string journal() { return vyra_test::read_file(dev_.root() + "/run/ui.journal"); }
  static plat::MailResult compose(std::u16string_view message_class = u"IPM.Note") {
    plat::MailCompose request;
    request.size = sizeof request;
    request.message_class = message_class;
    return plat::mail_compose(request);
  }

  vyra_test::TempDevice dev_;
  vyra_test::FakeTools tools_{dev_.root()};
};

TEST_F(MailService, XdgEmailWithoutArgumentsIsPreferred) {
  tool("xdg-email");
  tool("xdg-open");
  EXPECT_EQ(compose(), plat::MailResult::kOk);
  EXPECT_EQ(calls(), "xdg-email \n");
  EXPECT_EQ(journal(), "{\"kind\":\"mail_compose\",\"class\":\"IPM.Note\",\"command\":\"xdg-email\",\"result\":\"exit 0\"}\n");
}

TEST_F(MailService, XdgOpenGetsAnEmptyMailtoWhenXdgEmailIsMissing) {
  tool("xdg-open");
  EXPECT_EQ(compose(), plat::MailResult::kOk);
  EXPECT_EQ(calls(), "xdg-open mailto:\n");
  EXPECT_NE(journal().find("\"command\":\"xdg-open mailto:\",\"result\":\"exit 0\""), std::string::npos);
}

TEST_F(MailService, FailuresAreReportedAndJournaled) {
  EXPECT_EQ(compose(), plat::MailResult::kNoMailTool);
  EXPECT_NE(journal().find("\"result\":\"no mail tool\""), std::string::npos);

  tool("xdg-email", "exit 3");
  EXPECT_EQ(compose(), plat::MailResult::kToolFailed);
  EXPECT_NE(journal().find("\"command\":\"xdg-email\",\"result\":\"exit 3\""), std::string::npos);

  plat::MailCompose wrong_size;
  wrong_size.size = 44;
  wrong_size.message_class = u"IPM.Note";
  EXPECT_EQ(plat::mail_compose(wrong_size), plat::MailResult::kBadRequest);
  EXPECT_EQ(compose(u""), plat::MailResult::kBadRequest);
  EXPECT_EQ(calls(), "xdg-email \n") << "a refused request runs nothing";
}

TEST_F(MailService, AToolStillRunningAfterTheWaitIsLeftToRun) {
  plat::set_time_scale_for_test(0.01);  // the 5-second wait takes 50 ms
  tool("xdg-email", "/bin/sleep 2");
  EXPECT_EQ(compose(), plat::MailResult::kOk);
  EXPECT_NE(journal().find("\"result\":\"running\""), std::string::npos);
}

}  // namespace
