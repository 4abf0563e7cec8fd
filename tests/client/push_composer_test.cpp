// Pushes as a user makes them with vyra-sim push, decoded by the client's own functions: every
// variant of the composer, bodies compiled by libwbxml's xml2wbxml (a peer's encoder), the
// injection through a real vyra-modem, and the command line's usage errors.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "client/push/preprocess.h"
#include "common/tracked_memory.h"
#include "platform/byte_order.h"
#include "platform/ril_client.h"
#include "platform/text.h"
#include "tests/sim/modem_process.h"
#include "tests/support/test_support.h"

namespace {

using Message = std::vector<unsigned char>;
using vyra_test::bin;
using vyra_test::run;

constexpr char kUrl[] = "https://prov.example/x";

Message unhex(const std::string& line) {
  Message out;
  for (size_t i = 0; i + 1 < line.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(line.substr(i, 2), nullptr, 16)));
  return out;
}

// vyra-sim push ARGS --print: one message per line.
std::vector<Message> composed(std::vector<std::string> args) {
  std::vector<std::string> argv{bin("vyra-sim"), "push"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back("--print");
  vyra_test::RunResult r = run(argv);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<Message> messages;
  size_t start = 0;
  while (start < r.out.size()) {
    size_t end = r.out.find('\n', start);
    if (end == std::string::npos) end = r.out.size();
    messages.push_back(unhex(r.out.substr(start, end - start)));
    start = end + 1;
  }
  return messages;
}

class PushComposer : public ::testing::Test {
 protected:
  void SetUp() override {
    wdp_reassembly_discard();
    live_ = mem_test_live_blocks();
  }
  void TearDown() override {
    wdp_reassembly_discard();
    EXPECT_EQ(mem_test_live_blocks(), live_);
  }
  // Feeds the messages in order through the client; the URL each one completed ("" none).
  static std::vector<std::string> deliver(const std::vector<Message>& messages) {
    std::vector<std::string> urls;
    for (const Message& m : messages) {
      Message exact(m);
      char16_t* url = nullptr;
      EXPECT_EQ(VYRApc_teleServiceWAPRcvd(exact.data(), static_cast<int32_t>(exact.size()), 0, &url), 1);
      urls.push_back(url == nullptr ? "" : plat::utf16_to_utf8(url));
      MEM_FREE(url);
    }
    return urls;
  }
  int64_t live_ = 0;
};

using Urls = std::vector<std::string>;

TEST_F(PushComposer, PrintedPushDecodesToTheUrlInOneAndInThreeSegments) {
  std::vector<Message> one = composed({kUrl});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(deliver(one), Urls({kUrl}));
  std::vector<Message> three = composed({kUrl, "--segments", "3"});
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ(deliver(three), Urls({"", "", kUrl}));
}

TEST_F(PushComposer, EveryVariantOfTheComposer) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::vector<size_t> order;  // indices of the printed messages, in delivery order
    Urls urls;
  } cases[] = {
      {"single segment", {kUrl, "--segments", "1"}, {0}, {kUrl}},
      {"2 of 2 before 1 of 2", {kUrl, "--segments", "2"}, {1, 0}, {"", kUrl}},
      {"a repeated segment", {kUrl, "--segments", "3"}, {0, 0, 2, 2, 1}, {"", "", "", "", kUrl}},
      {"encoding 1", {kUrl, "--segments", "2", "--encoding", "1"}, {0, 1}, {"", kUrl}},
      {"header length 200", {kUrl, "--header-length", "200"}, {0}, {kUrl}},
      {"header length 200 in 2 segments", {kUrl, "--header-length", "200", "--segments", "2"}, {0, 1}, {"", kUrl}},
      {"text SL", {kUrl, "--xml"}, {0}, {kUrl}},
      {"text SL in 3 segments", {kUrl, "--xml", "--segments", "3"}, {2, 1, 0}, {"", "", kUrl}},
      {"value tokens", {"http://www.example.com/a.org/b", "--segments", "2"}, {0, 1}, {"", "http://www.example.com/a.org/b"}},
      {"markup in a text URL", {"https://p.example/x?a=1&b=<2>\"", "--xml"}, {0}, {"https://p.example/x?a=1&b=<2>\""}},
      {"no scheme prefix", {"prov.example/x"}, {0}, {"prov.example/x"}},
      {"other ports and message id", {kUrl, "--port", "1:2", "--message-id", "65535", "--segments", "2"}, {0, 1}, {"", kUrl}},
      {"application id in other case", {kUrl, "--app-id", "X-WAP-VUVEROVA:VYRA.UA"}, {0}, {""}},
      {"no application id", {kUrl, "--no-app-id"}, {0}, {""}},
      {"SI content type", {kUrl, "--content-type", "0x2E"}, {0}, {""}},
  };
  for (const Case& c : cases) {
    wdp_reassembly_discard();
    std::vector<Message> printed = composed(c.args);
    std::vector<Message> sequence;
    for (size_t i : c.order) {
      ASSERT_LT(i, printed.size()) << c.what;
      sequence.push_back(printed[i]);
    }
    EXPECT_EQ(deliver(sequence), c.urls) << c.what;
  }
}

TEST_F(PushComposer, AnotherSourcePortMidWayStartsOver) {
  std::vector<Message> a = composed({"https://a.example/", "--segments", "2"});
  std::vector<Message> b = composed({"https://b.example/", "--segments", "2", "--port", "9201:2948"});
  // a0, then b0 replaces it, then a1 replaces b0: nothing is complete until a0 comes again.
  EXPECT_EQ(deliver({a[0], b[0], a[1]}), Urls({"", "", ""}));
  EXPECT_EQ(deliver({a[0]}), Urls({"https://a.example/"}));
  EXPECT_EQ(deliver({b[0], b[1]}), Urls({"", "https://b.example/"}));
}

// ---- A peer's encoder --------------------------------------------------------------------

class PeerEncoded : public PushComposer {
 protected:
  // Compiles XML with xml2wbxml and wraps it with vyra-sim push --body.
  std::vector<Message> peer_push(const std::string& xml, const std::string& content_type = "0x30") {
    std::string in = dev_.root() + "/in.xml", out = dev_.root() + "/out.wbxml";
    vyra_test::write_file(in, xml);
    vyra_test::RunResult r = run({"/usr/bin/xml2wbxml", "-o", out, in});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    return composed({"--body", out, "--content-type", content_type, "--segments", "2"});
  }
  vyra_test::TempDevice dev_;
};

constexpr char kSl[] =
    "<?xml version=\"1.0\"?>\n<!DOCTYPE sl PUBLIC \"-//WAPFORUM//DTD SL 1.0//EN\" "
    "\"http://www.wapforum.org/DTD/sl.dtd\">\n";
constexpr char kSi[] =
    "<?xml version=\"1.0\"?>\n<!DOCTYPE si PUBLIC \"-//WAPFORUM//DTD SI 1.0//EN\" "
    "\"http://www.wapforum.org/DTD/si.dtd\">\n";

TEST_F(PeerEncoded, ServiceLoadingCompiledByXml2wbxml) {
  struct Case {
    std::string xml;
    const char* url;
  } cases[] = {
      {std::string(kSl) + "<sl href=\"https://prov.example/x\"/>", kUrl},
      {std::string(kSl) + "<sl href=\"https://prov.example/x\" action=\"cache\"/>", kUrl},
      {std::string(kSl) + "<sl action=\"execute-high\" href=\"http://www.example.com/p.net/q\"/>",
       "http://www.example.com/p.net/q"},
      {std::string(kSl) + "<sl href=\"https://prov.example/x\" class=\"a\"/>", ""},
      {std::string(kSl) + "<sl action=\"execute-low\"/>", ""},
  };
  for (const Case& c : cases) {
    wdp_reassembly_discard();
    EXPECT_EQ(deliver(peer_push(c.xml)), Urls({"", c.url})) << c.xml;
  }
}

TEST_F(PeerEncoded, ServiceIndicationIsNotLoaded) {
  std::string si = std::string(kSi) + "<si><indication href=\"https://prov.example/x\">hi</indication></si>";
  EXPECT_EQ(deliver(peer_push(si, "0x2E")), Urls({"", ""})) << "application/vnd.wap.sic";
  wdp_reassembly_discard();
  EXPECT_EQ(deliver(peer_push(si, "0x30")), Urls({"", ""})) << "an SI body announced as SLC";
}

// ---- Through the radio daemon --------------------------------------------------------------

struct Received {
  std::mutex lock;
  std::vector<Message> messages;
};

void on_notify(uint32_t code, uint32_t, const void* data, size_t size, void* user) {
  if (code != 0x800007D7 || size < 4) return;
  auto* r = static_cast<Received*>(user);
  const auto* bytes = static_cast<const unsigned char*>(data);
  uint32_t length = plat::get_le32(bytes);
  if (length > size - 4) return;
  std::lock_guard<std::mutex> guard(r->lock);
  r->messages.emplace_back(bytes + 4, bytes + 4 + length);
}

TEST_F(PushComposer, InjectedPushReachesARadioClientAndDecodes) {
  vyra_test::TempDevice dev;
  vyra_test::ModemProcess modem(dev.root());
  ASSERT_TRUE(modem.running()) << modem.log();
  Received received;
  plat::RilClient* client = nullptr;
  ASSERT_EQ(plat::ril_initialize(nullptr, on_notify, plat::kRilClassDevSpecific, &received, &client), 0);
  vyra_test::RunResult r = run({bin("vyra-sim"), "push", kUrl, "--segments", "3"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(vyra_test::wait_until(10000, [&] {
    std::lock_guard<std::mutex> guard(received.lock);
    return received.messages.size() == 3;
  }));
  plat::ril_deinitialize(client);
  std::vector<Message> messages;
  {
    std::lock_guard<std::mutex> guard(received.lock);
    messages = received.messages;
  }
  EXPECT_EQ(messages, composed({kUrl, "--segments", "3"})) << "what --print shows is what is sent";
  EXPECT_EQ(deliver(messages), Urls({"", "", kUrl}));
}

TEST(PushCommandLine, UsageAndFailuresAreReportedInWords) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* says;
  } cases[] = {
      {{"push", "--print"}, 2, "needs a URL or --body FILE"},
      {{"push", kUrl, "--body", "x", "--print"}, 2, "one of them"},
      {{"push", kUrl, "y", "--print"}, 2, "one URL"},
      {{"push", kUrl, "--segments", "0", "--print"}, 2, "--segments needs a number from 1 to 255"},
      {{"push", kUrl, "--segments", "256", "--print"}, 2, "--segments"},
      {{"push", kUrl, "--segments", "60", "--print"}, 2, "cannot fill 60 segments"},
      {{"push", kUrl, "--port", "9200", "--print"}, 2, "--port needs SRC:DST"},
      {{"push", kUrl, "--encoding", "2", "--print"}, 2, "--encoding needs 0 or 1"},
      {{"push", kUrl, "--header-length", "30", "--print"}, 2, "the header length must be 25 or at least 42"},
      {{"push", kUrl, "--content-type", "0x80", "--print"}, 2, "--content-type"},
      {{"push", kUrl, "--bogus", "--print"}, 2, "unknown option '--bogus'"},
      {{"push", "--body", "/nonexistent/body", "--print"}, 1, "cannot read /nonexistent/body"},
      {{"push", kUrl}, 2, "no device"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv{bin("vyra-sim")};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    vyra_test::RunResult r = run(argv);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << c.says;
  }
  // A device without a radio daemon.
  vyra_test::TempDevice dev;
  vyra_test::RunResult r = run({bin("vyra-sim"), "push", kUrl});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("no radio daemon"), std::string::npos) << r.err;

  r = run({bin("vyra-sim"), "--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("push URL | --body FILE"), std::string::npos);
  EXPECT_NE(r.out.find("Exit status"), std::string::npos);
  r = run({bin("vyra-sim"), "--version"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind("vyra-sim ", 0), 0u);
}

}  // namespace
