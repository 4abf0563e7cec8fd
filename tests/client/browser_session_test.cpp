// A whole provisioning session as on the handset: vyra-modem runs, `vyra-sim browser`
// saves a document and signals the client, vyrad (a real process) runs the session against
// the tests' own provisioning server, and the values end up in the registry and the modem.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "client/handlers.h"
#include "tests/client/provisioning_server.h"
#include "tests/sim/modem_process.h"
#include "tests/support/test_support.h"

namespace {

using session_test::Answer;
using session_test::base64;
using session_test::mmc;
using session_test::ProvisioningServer;
using session_test::reply_text;
using session_test::SeenRequest;
using vyra_test::bin;
using vyra_test::Process;
using vyra_test::read_file;
using vyra_test::run;

const int g_scale_set = setenv("VYRA_TIME_SCALE", "0.01", 1);

constexpr char kPhoneKey[] = "ControlPanel\\PhoneExtendFunction\\VYRA\\Phone";
constexpr char kSipKey[] = "ControlPanel\\PhoneExtendFunction\\VYRA\\SIP";


std::string with_port(std::string text, int port) {
  for (size_t at; (at = text.find("PORT")) != std::string::npos;) text.replace(at, 4, std::to_string(port));
  return text;
}

class BrowserSession : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g_scale_set, 0);
    ASSERT_TRUE(modem.running()) << modem.log();
    Reg({"set", "HKLM", "Software\\ZEM\\VYRA", "Logging", "--dword", "1"});
    Reg({"set", "HKLM", "Software\\ZEM\\VYRA", "Transcript", "--dword", "1"});
  }
  vyra_test::RunResult Reg(const std::vector<std::string>& args) {
    std::vector<std::string> argv{bin("vyra-reg"), "--device", dev.root()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
  }
  vyra_test::RunResult Sim(const std::vector<std::string>& args) {
    std::vector<std::string> argv{bin("vyra-sim"), "--device", dev.root()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
  }
  std::string RegGet(const std::string& key, const std::string& name) {
    auto r = Reg({"get", "HKCU", key, name});
    if (r.exit_code != 0) return "(missing)";
    while (!r.out.empty() && r.out.back() == '\n') r.out.pop_back();
    return r.out;
  }
  std::string ModemPrl() {
    std::string file = dev.root() + "/prl.out";
    EXPECT_EQ(Sim({"prl", "get", file}).exit_code, 0);
    return read_file(file);
  }
  // Saves the document as the browser does and runs vyrad until it exits.
  int RunBrowserDocument(const std::string& document) {
    std::string file = dev.root() + "/doc.xml";
    vyra_test::write_file(file, document);
    auto saved = Sim({"browser", file});
    EXPECT_EQ(saved.exit_code, 0) << saved.err;
    Process vyrad;
    EXPECT_TRUE(vyrad.start({bin("vyrad"), "--device", dev.root()}, dev.root() + "/vyrad.out", dev.root() + "/vyrad.err"));
    return vyrad.wait(60000);
  }
  std::string DebugLog() { return read_file(dev.root() + "/run/debug.log"); }
  std::string ClientLog() { return read_file(dev.fs("Program Files/vyra/vyralog.txt")); }

  vyra_test::TempDevice dev;
  vyra_test::ModemProcess modem{dev.root()};
};

TEST_F(BrowserSession, AThreeRoundSessionProvisionsTheRegistryAndTheModem) {
  const std::string old_prl = ModemPrl();
  std::string new_prl = old_prl;
  new_prl[3] = 0x77;  // another roaming-list id, same size
  const std::string round2 =
      "<mmc mmcID=\"12\" status-uri=\"round3\">"
      "<method id=\"20\" name=\"write\" object=\"phone:nai..0.sip.edgeproxy..0\" value=\"edge.prov.test\"/>"
      "<method id=\"21\" name=\"write\" object=\"phone:cdma.prl\" valueref=\"cid:prl@prov\"/>"
      "<method id=\"22\" name=\"write\" object=\"phone:boot.naiurl\" value=\"http://nai.prov.test/\"/>"
      "<method id=\"23\" name=\"commit\" reportstatus=\"true\"/>"
      "<method id=\"24\" name=\"read\" object=\"phone:boot.url\"/></mmc>";
  const std::string round3 =
      "<mmc mmcID=\"13\" status-uri=\"done\">"
      "<method id=\"30\" name=\"read\" object=\"phone:cdma.prl\"/>"
      "<method id=\"31\" name=\"read\" object=\"browser:domain.trusted\"/>"
      "<method id=\"32\" name=\"disconnect\" reportstatus=\"true\"/></mmc>";
  ProvisioningServer server([&](const SeenRequest&, int index) -> Answer {
    if (index == 0) {
      Answer a;
      a.content_type = "multipart/related; boundary=sep-7f3c";
      a.body = "--sep-7f3c\r\nContent-Type: application/vnd.zevorize.mmc-xml\r\n\r\n" + round2 +
               "\r\n--sep-7f3c\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
               "Content-ID: <prl@prov>\r\n\r\n" + base64(new_prl) + "\r\n--sep-7f3c--\r\n";
      return a;
    }
    if (index == 1) return mmc(round3);
    Answer end;
    end.content_type = "text/plain";
    end.body = "provisioned";
    return end;
  });
  const std::string boot = server.url("/prov/boot");
  const std::string round1 = with_port(
      "<?xml version=\"1.0\"?>\n<mmc status-uri=\"http://127.0.0.1:PORT/prov/round2\">\n"
      "  <method id=\"1\" name=\"open\" reportstatus=\"true\"/>\n"
      "  <method id=\"2\" name=\"read\" object=\"phone:nai.current\"/>\n"
      "  <method id=\"3\" name=\"write\" object=\"phone:boot.url\" value=\"http://127.0.0.1:PORT/prov/boot\"/>\n"
      "  <method id=\"4\" name=\"write\" object=\"browser:domain.trusted\" value=\"127.0.0.1\"/>\n"
      "</mmc>\n",
      server.port());

  EXPECT_EQ(RunBrowserDocument(round1), 0);
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 3u) << ClientLog();

  EXPECT_EQ(seen[0].target, "/prov/round2");
  EXPECT_EQ(seen[0].body, reply_text(2, "ok",
                                     {"<detail id=\"1\" name=\"open\" result=\"ok\"/>",
                                      "<detail id=\"2\" name=\"read\" object=\"phone:nai.current\" value=\"0\" result=\"ok\"/>"}));
  EXPECT_EQ(seen[1].target, "/prov/round3");  // relative to the boot URL committed in round 2
  EXPECT_EQ(seen[1].body, reply_text(12, "ok",
                                     {"<detail id=\"23\" name=\"commit\" result=\"ok\"/>",
                                      "<detail id=\"24\" name=\"read\" object=\"phone:boot.url\" value=\"" + boot +
                                          "\" result=\"ok\"/>"}));
  EXPECT_EQ(seen[2].target, "/prov/done");
  std::string type = seen[2].header("Content-Type");
  std::string boundary = type.substr(28, type.find(';', 28) - 28);
  EXPECT_EQ(type, "multipart/related; boundary=" + boundary +
                      "; type=application/vnd.zevorize.mmc-xml; start=<element.mmcpart.1>");
  EXPECT_EQ(seen[2].body,
            "--" + boundary + "\r\nContent-Type: application/vnd.zevorize.mmc-xml\r\nContent-ID: <element.mmcpart.1>\r\n\r\n" +
                reply_text(13, "ok",
                           {"<detail id=\"30\" name=\"read\" object=\"phone:cdma.prl\" valueref=\"cid:element.mmcpart.0\" result=\"ok\"/>",
                            "<detail id=\"31\" name=\"read\" object=\"browser:domain.trusted\" value=\"127.0.0.1\" result=\"ok\"/>",
                            "<detail id=\"32\" name=\"disconnect\" result=\"ok\"/>"}) +
                "\r\n\r\n--" + boundary + "\r\nContent-Type: application/octet-stream\r\nContent-ID: <element.mmcpart.0>\r\n\r\n" +
                new_prl + "\r\n\r\n--" + boundary + "--");

  // Afterwards: the registry and the modem hold what was committed.
  EXPECT_EQ(RegGet(kPhoneKey, "BootUrl"), boot);
  EXPECT_EQ(RegGet(kPhoneKey, "DomainTrusted"), "127.0.0.1");
  EXPECT_EQ(RegGet(kPhoneKey, "naiURL"), "http://nai.prov.test/");
  EXPECT_EQ(RegGet(kSipKey, "EdgeProxy0"), "edge.prov.test");
  EXPECT_EQ(ModemPrl(), new_prl);

  // The bridge heard the start, the connection and the successful end; a new roaming list
  // asks the user and resets the device.
  std::string debug = DebugLog();
  EXPECT_NE(debug.find("SendStatus: status 1 code 0x0"), std::string::npos) << debug;
  EXPECT_NE(debug.find("SendStatus: status 6 code 0x0"), std::string::npos);
  EXPECT_NE(debug.find("SendStatus: status 2 code 0x0"), std::string::npos);
  EXPECT_NE(debug.find("SendStatus: status 5 code 0x0"), std::string::npos);  // hung up at the end
  EXPECT_EQ(debug.find("SendStatus: status 3"), std::string::npos);
  EXPECT_EQ(Sim({"resets"}).out, "1\n");

  // The transcript: one line per exchange, the credentials masked.
  std::string transcript = read_file(dev.fs("Program Files/vyra/transcript.jsonl"));
  EXPECT_EQ(std::count(transcript.begin(), transcript.end(), '\n'), 3);
  EXPECT_NE(transcript.find("[\"Proxy-Authorization\",\"(credentials) ***\"]"), std::string::npos);
  EXPECT_EQ(transcript.find("qzt"), std::string::npos);
}

TEST_F(BrowserSession, AMultipartDocumentCarriesItsOwnParts) {
  ProvisioningServer server([](const SeenRequest&, int) {
    Answer a;
    a.content_type = "text/plain";
    a.body = "thanks";
    return a;
  });
  std::string cert = "certificate bytes";
  std::string document = with_port(
      "--browser-sep\r\nContent-Type: application/vnd.zevorize.mmc-xml\r\n\r\n"
      "<mmc status-uri=\"http://127.0.0.1:PORT/m\"><method id=\"1\" name=\"write\" "
      "object=\"phone:tls.x.509.rootcert..3\" valueref=\"cid:c3\"/><method id=\"2\" name=\"commit\" "
      "reportstatus=\"true\"/></mmc>\r\n--browser-sep\r\nContent-Type: application/x-x509-ca-cert\r\n"
      "Content-Transfer-Encoding: base64\r\nContent-ID: <c3>\r\n\r\n" + base64(cert) + "\r\n--browser-sep--\r\n",
      server.port());
  EXPECT_EQ(RunBrowserDocument(document), 0);
  ASSERT_EQ(server.requests().size(), 1u) << ClientLog();
  EXPECT_EQ(server.requests()[0].body, reply_text(1, "ok", {"<detail id=\"2\" name=\"commit\" result=\"ok\"/>"}));
  EXPECT_EQ(read_file(dev.fs("Program Files/vyra/RootCert3.crt")), cert);
}

TEST_F(BrowserSession, WithoutATerminalTheConfirmQuestionIsAnsweredNo) {
  ProvisioningServer server([](const SeenRequest&, int) {
    Answer a;
    a.content_type = "text/plain";
    a.body = "noted";
    return a;
  });
  Reg({"set", "HKCU", kPhoneKey, "BootUrl", "--sz", "http://boot.old/"});
  EXPECT_EQ(RunBrowserDocument(with_port(
                "<mmc status-uri=\"http://127.0.0.1:PORT/q\"><method id=\"1\" name=\"write\" object=\"phone:boot.url\" "
                "value=\"http://boot.new/\"/><method id=\"2\" name=\"write\" object=\"browser:display.confirm\" "
                "value=\"Replace the settings?\"/><method id=\"3\" name=\"commit\" reportstatus=\"true\"/></mmc>",
                server.port())),
            0);
  ASSERT_EQ(server.requests().size(), 1u) << ClientLog();
  EXPECT_EQ(server.requests()[0].body,
            reply_text(1, "error",
                       {"<detail id=\"2\" name=\"write\" object=\"browser:display.confirm\" result=\"UserDenied\"/>",
                        "<detail id=\"3\" name=\"commit\" result=\"Abort\"/>"}));
  EXPECT_EQ(RegGet(kPhoneKey, "BootUrl"), "http://boot.old/");  // never committed
  std::string journal = read_file(dev.root() + "/run/ui.journal");
  EXPECT_NE(journal.find("Replace the settings?"), std::string::npos) << journal;
}

TEST_F(BrowserSession, ARejectedDocumentIsReportedWithItsCodeAndLeavesTheNaiAlone) {
  ASSERT_EQ(Sim({"nv", "set", "464", "02"}).exit_code, 0);
  EXPECT_EQ(RunBrowserDocument("<mmc><method id=\"1\" name=\"open\"></mmc>"), 0);
  std::string debug = DebugLog();
  EXPECT_NE(debug.find("SendStatus: status 1 code 0x0"), std::string::npos) << debug;
  EXPECT_NE(debug.find("SendStatus: status 3 code 0x301"), std::string::npos) << debug;  // -2022
  EXPECT_EQ(debug.find("SendStatus: status 2"), std::string::npos);
  EXPECT_EQ(Sim({"nv", "get", "464"}).out.substr(0, 2), "02");
}

TEST_F(BrowserSession, TheBrowserCommandChecksItsArguments) {
  EXPECT_EQ(Sim({"browser"}).exit_code, 2);
  auto missing = Sim({"browser", dev.root() + "/no-such-file"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
  vyra_test::write_file(dev.root() + "/d.xml", "<mmc/>");
  EXPECT_EQ(Sim({"browser", dev.root() + "/d.xml"}).exit_code, 0);
  EXPECT_EQ(read_file(dev.fs("Program Files/Fennick3.0/content.mmc")), "<mmc/>");
}

TEST(MapErrorToStatus, EveryRowOfTheTable) {
  struct Row {
    int result, code;
  } rows[] = {{0, 256},       {-20, 1},       {64, 64},       {76, 76},       {77, 2304},     {79, 79},
              {82, 82},       {88, 88},       {96, 96},       {101, 101},     {104, 104},     {106, 106},
              {128, 128},     {141, 141},     {1012, 1012},   {2048, 2048},   {3000, 3000},   {4000, 4000},
              {204, 1028},    {304, 1029},    {400, 1030},    {401, 1031},    {403, 1032},    {404, 1033},
              {405, 1034},    {406, 1035},    {408, 1036},    {409, 1037},    {500, 1038},    {501, 1039},
              {502, 1040},    {503, 1041},    {-3001, 257},   {-3012, 268},   {-3013, 1024},  {-3014, 1025},
              {-3015, 1026},  {-3016, 1027},  {-2000, 512},   {-2001, 513},   {-2002, 514},   {-2003, 515},
              {-2011, 516},   {-2021, 768},   {-2022, 769},   {-2024, 770},   {-2026, 771},   {-2027, 772},
              {-2028, 773},   {-2007, 774},   {-2009, 775},   {-2020, 776},   {-1, 777},      {-2, 778},
              {-1001, 779},   {-1007, 785},   {-6000, 786},   {-6001, 787},   {302, 2304},    {-2023, 2304},
              {-3017, 2304},  {200, 2304},    {1, 2304}};
  for (const Row& r : rows) EXPECT_EQ(map_error_to_status(r.result), r.code) << r.result;
}

}  // namespace
