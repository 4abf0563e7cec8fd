// Every program against the command-line convention of docs/tools.md, as a user meets it:
// --help, --version, an unknown option, a missing file, a directory, "-", a device that is
// a file, a device that does not exist or cannot be written (as an unprivileged user), and
// for each the exit code and the first words of the standard error. A program joins the
// table with its rows in kRows (and its name in kPrograms for the rows every program has).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/http/fake_server.h"
#include "tests/support/test_support.h"

namespace {

// Placeholders in arguments, input and expected texts, made fresh for each row:
//   {DIR}      an existing directory           {MISSING}  a path that does not exist
//   {FILE}     a regular file                  {DEV}      an existing, empty device
//   {RODEV}    a directory nobody may write    {SECRET}   a file nobody may read
//   {HTTP}     the URL of a peer answering "HTTP/1.1 200 OK" with the body "ok"
struct Row {
  const char* program;
  const char* what;  // the row's name: [a-z0-9_]
  std::vector<std::string> args;
  std::string input;      // standard input
  int exit_code;
  std::string err;        // the standard error starts with this ("" = must be empty)
  std::string out = {};   // the standard output starts with this (when not empty)
  bool unprivileged = false;  // run as a user who is not root (the device checks of root pass)
  std::string absent_after = {};  // a path that must still not exist afterwards
};

// Programs with the rows every program has: --help, --version, an unknown option.
const char* const kPrograms[] = {"vyra-reg",   "vyra-xml", "vyra-wbxml", "vyra-wsp", "vyra-http",
                                 "vyra-modem", "vyrad",    "vyra-sim",   "vyra-server"};

constexpr const char kSlc[] = "\x02\x06\x6A\x00\x85\x0C\x03\x78\x00\x01";

const std::vector<Row>& program_rows() {
  static const std::vector<Row> rows = {
      // vyra-reg: read-only commands need an existing device and never make one; set and
      // import may make it; usage errors touch nothing.
      {"vyra-reg", "import_missing_file", {"--device", "{DEV}", "import", "{MISSING}"}, "", 1,
       "vyra-reg: cannot read {MISSING}: No such file or directory\n"},
      {"vyra-reg", "import_directory", {"--device", "{DEV}", "import", "{DIR}"}, "", 1,
       "vyra-reg: cannot read {DIR}: Is a directory\n"},
      {"vyra-reg", "import_stdin", {"--device", "{DEV}", "import", "-"}, "REGEDIT4\n[HKLM\\K]\n\"v\"=dword:1\n", 0, ""},
      {"vyra-reg", "export_stdout", {"--device", "{DEV}", "export", "-"}, "", 0, "", "REGEDIT4\n"},
      {"vyra-reg", "device_is_a_file", {"--device", "{FILE}", "list"}, "", 1, "vyra-reg: device {FILE}: Not a directory\n"},
      {"vyra-reg", "device_missing_for_a_read", {"--device", "{MISSING}", "list"}, "", 1,
       "vyra-reg: device {MISSING}: No such file or directory\n", "", false, "{MISSING}"},
      {"vyra-reg", "usage_error_makes_no_device", {"--device", "{MISSING}", "set", "HKLM", "K"}, "", 2,
       "vyra-reg: set needs ROOT KEY NAME", "", false, "{MISSING}"},
      {"vyra-reg", "no_device", {"list"}, "", 2, "vyra-reg: no device: use --device DIR or set VYRA_DEVICE (try --help)\n"},
      {"vyra-reg", "help_before_the_device", {"--device", "{FILE}", "--help"}, "", 0, "", "usage: vyra-reg"},
      {"vyra-reg", "device_unwritable", {"--device", "{RODEV}", "set", "HKLM", "K", "v", "--dword", "1"}, "", 1,
       "vyra-reg: device {RODEV}: Permission denied\n", "", true},
      {"vyra-reg", "device_not_creatable", {"--device", "{RODEV}/new", "set", "HKLM", "K", "v", "--dword", "1"}, "", 1,
       "vyra-reg: cannot create device {RODEV}/new: Permission denied\n", "", true, "{RODEV}/new"},
      {"vyra-reg", "read_of_an_unwritable_device", {"--device", "{RODEV}", "get", "HKLM", "K", "v"}, "", 1,
       "vyra-reg: HKLM\\K v: no such value\n", "", true},

      {"vyra-xml", "missing_file", {"{MISSING}"}, "", 1, "vyra-xml: cannot read {MISSING}: No such file or directory\n"},
      {"vyra-xml", "directory", {"{DIR}"}, "", 1, "vyra-xml: cannot read {DIR}: Is a directory\n"},
      {"vyra-xml", "unreadable_file", {"{SECRET}"}, "", 1, "vyra-xml: cannot read {SECRET}: Permission denied\n", "", true},
      {"vyra-xml", "stdin", {"-"}, "<a></a>", 0, "", "0 a parent=-1\n"},
      {"vyra-xml", "refused", {"-"}, "<a></b>", 1, "vyra-xml: standard input: -2022 end tag differs"},
      {"vyra-xml", "no_file", {}, "", 2, "vyra-xml: no FILE (- for the standard input) (try --help)\n"},

      {"vyra-wbxml", "missing_file", {"{MISSING}"}, "", 1, "vyra-wbxml: cannot read {MISSING}: No such file or directory\n"},
      {"vyra-wbxml", "directory", {"{DIR}"}, "", 1, "vyra-wbxml: cannot read {DIR}: Is a directory\n"},
      {"vyra-wbxml", "stdin", {"-"}, std::string(kSlc, sizeof kSlc - 1), 0, "", "<sl href=\"https://www.x\"/>\n--\n"},
      {"vyra-wbxml", "truncated", {"-"}, std::string(kSlc, 8), 1, "vyra-wbxml: standard input: -1002 input ended"},

      {"vyra-wsp", "stdin", {"--headers", "-"}, "AF 78 2D 61 00", 0, "", "X-Wap-Application-Id: x-a\n"},
      {"vyra-wsp", "malformed_hex", {"--content-type", "0G"}, "", 2, "vyra-wsp: not a hex byte string: '0G' (try --help)\n"},
      {"vyra-wsp", "refused", {"--content-type", "C0"}, "", 1, "vyra-wsp: content type refused: -15 unknown"},

      {"vyra-http", "data_file_missing", {"-d", "@{MISSING}", "{HTTP}"}, "", 26,
       "vyra-http: cannot read {MISSING}: No such file or directory\n"},
      {"vyra-http", "data_file_a_directory", {"-d", "@{DIR}", "{HTTP}"}, "", 26, "vyra-http: cannot read {DIR}: Is a directory\n"},
      {"vyra-http", "data_stdin_output_stdout", {"-d", "@-", "-o", "-", "{HTTP}"}, "x=1", 0, "", "ok"},
      {"vyra-http", "output_a_directory", {"-o", "{DIR}", "{HTTP}"}, "", 23, "vyra-http: cannot write {DIR}: Is a directory\n"},
      {"vyra-http", "device_is_a_file", {"--device", "{FILE}", "{HTTP}"}, "", 1, "vyra-http: device {FILE}: Not a directory\n"},
      {"vyra-http", "device_missing", {"--device", "{MISSING}", "{HTTP}"}, "", 1,
       "vyra-http: device {MISSING}: No such file or directory\n", "", false, "{MISSING}"},
      {"vyra-http", "output_unwritable", {"-o", "{RODEV}/out", "{HTTP}"}, "", 23,
       "vyra-http: cannot write {RODEV}/out: Permission denied\n", "", true},

      {"vyra-modem", "device_is_a_file", {"--device", "{FILE}"}, "", 1, "vyra-modem: device {FILE}: Not a directory\n"},
      {"vyra-modem", "device_unwritable", {"--device", "{RODEV}"}, "", 1, "vyra-modem: device {RODEV}: Permission denied\n",
       "", true},
      {"vyra-modem", "usage_error_makes_no_device", {"--device", "{MISSING}", "extra"}, "", 2,
       "vyra-modem: unexpected argument 'extra' (try --help)\n", "", false, "{MISSING}"},
      {"vyra-modem", "help_before_the_device", {"--device", "{FILE}", "-h"}, "", 0, "", "usage: vyra-modem"},

      // vyrad: the device must be usable; usage errors make nothing.
      {"vyrad", "device_is_a_file", {"--device", "{FILE}"}, "", 1, "vyrad: device {FILE}: Not a directory\n"},
      {"vyrad", "usage_error_makes_no_device", {"--device", "{MISSING}", "extra"}, "", 2,
       "vyrad: unexpected argument 'extra' (try --help)\n", "", false, "{MISSING}"},
      {"vyrad", "no_device", {}, "", 2, "vyrad: no device: use --device DIR or set VYRA_DEVICE (try --help)\n"},
      {"vyrad", "device_not_creatable", {"--device", "{RODEV}/new"}, "", 1,
       "vyrad: cannot create device {RODEV}/new: Permission denied\n", "", true, "{RODEV}/new"},

      // vyra-sim: read-only commands need an existing device; files and "-".
      {"vyra-sim", "read_of_a_missing_device", {"--device", "{MISSING}", "resets"}, "", 1,
       "vyra-sim: device {MISSING}: No such file or directory\n", "", false, "{MISSING}"},
      {"vyra-sim", "show_of_a_missing_device", {"--device", "{MISSING}", "network", "show"}, "", 1,
       "vyra-sim: device {MISSING}: No such file or directory\n", "", false, "{MISSING}"},
      {"vyra-sim", "usage_error_makes_no_device", {"--device", "{MISSING}", "network", "sideways"}, "", 2,
       "vyra-sim: network needs up, down", "", false, "{MISSING}"},
      {"vyra-sim", "unknown_command", {"--device", "{DEV}", "frobnicate"}, "", 2,
       "vyra-sim: unknown command 'frobnicate' (try --help)\n"},
      {"vyra-sim", "device_is_a_file", {"--device", "{FILE}", "status"}, "", 1, "vyra-sim: device {FILE}: Not a directory\n"},
      {"vyra-sim", "browser_missing_file", {"--device", "{DEV}", "browser", "{MISSING}"}, "", 1,
       "vyra-sim: cannot read {MISSING}: No such file or directory\n"},
      {"vyra-sim", "browser_directory", {"--device", "{DEV}", "browser", "{DIR}"}, "", 1,
       "vyra-sim: cannot read {DIR}: Is a directory\n"},
      {"vyra-sim", "push_print_needs_no_device", {"push", "https://prov.example/x", "--print"}, "", 0, "", "00"},
      {"vyra-sim", "push_body_from_stdin", {"push", "--body", "-", "--print"}, "<sl href=\"x\"></sl>", 0, "", "00"},
      {"vyra-sim", "message_without_a_daemon", {"--device", "{DEV}", "message", "-"}, "\x01", 1,
       "vyra-sim: no radio daemon on "},
      {"vyra-sim", "network_of_an_unwritable_device", {"--device", "{RODEV}", "network", "up"}, "", 1,
       "vyra-sim: device {RODEV}: Permission denied\n", "", true},

      // epistle: every argument is ignored (exit 1 always), but --help and --version alone.
      {"epistle", "help_alone", {"--help"}, "", 0, "", "usage: epistle"},
      {"epistle", "version", {"--version"}, "", 0, "", "epistle " VYRA_VERSION "\n"},
      {"epistle", "arguments_ignored", {"--no-such-option", "x"}, "", 1, "[mail] new message (IPM.Note)"},

      // vyra-server: a test tool with the same conventions.
      {"vyra-server", "missing_scenario", {"{MISSING}.json"}, "", 1, "vyra-server: {MISSING}.json: cannot read"},
      {"vyra-server", "scenario_is_a_directory", {"{DIR}"}, "", 1, "vyra-server: {DIR}"},
      {"vyra-server", "no_scenario", {}, "", 2, "vyra-server: no SCENARIO file (try --help)\n"},
  };
  return rows;
}

std::vector<Row> all_rows() {
  std::vector<Row> rows;
  for (const char* p : kPrograms) {
    std::string name = p;
    rows.push_back(Row{p, "help", {"--help"}, "", 0, "", "usage: " + name});
    rows.push_back(Row{p, "version", {"--version"}, "", 0, "", name + " " VYRA_VERSION "\n"});
    rows.push_back(Row{p, "unknown_option", {"--no-such-option"}, "", 2,
                       name + ": unknown option '--no-such-option' (try --help)\n"});
  }
  const std::vector<Row>& specific = program_rows();
  rows.insert(rows.end(), specific.begin(), specific.end());
  return rows;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
  return text;
}

// How a row can run as a user who is not root: as itself when it is not root, through
// setpriv as nobody when it is; "" when neither works.
std::string unprivileged_runner() {
  if (geteuid() != 0) return "self";
  if (access("/usr/bin/setpriv", X_OK) == 0) return "/usr/bin/setpriv";
  return {};
}

class ToolConvention : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    unsetenv("VYRA_DEVICE");  // each row names its device itself
    setenv("VYRA_TIME_SCALE", "0.01", 1);
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vyra-tools-XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    root_ = templ;
    chmod(root_.c_str(), 0755);  // an unprivileged run must reach the paths below
    mkdir((root_ + "/adir").c_str(), 0755);
    mkdir((root_ + "/dev").c_str(), 0755);
    mkdir((root_ + "/rodev").c_str(), 0555);
    vyra_test::write_file(root_ + "/afile", "a file\n");
    vyra_test::write_file(root_ + "/secret", "<a></a>");
    chmod((root_ + "/secret").c_str(), 0);
  }
  void TearDown() override {
    chmod((root_ + "/rodev").c_str(), 0755);
    vyra_test::run({"/bin/rm", "-rf", root_});
    unsetenv("VYRA_TIME_SCALE");
  }
  std::string expand(const std::string& text) const {
    std::string out = text;
    for (auto [name, path] : {std::pair<const char*, const char*>{"{DIR}", "/adir"}, {"{MISSING}", "/missing"},
                              {"{FILE}", "/afile"}, {"{DEV}", "/dev"}, {"{RODEV}", "/rodev"}, {"{SECRET}", "/secret"}})
      out = replace_all(out, name, root_ + path);
    return replace_all(out, "{HTTP}", http_url_);
  }
  std::string root_;
  std::string http_url_;
};

TEST_P(ToolConvention, ExitCodeAndFirstWords) {
  const Row& row = GetParam();
  std::unique_ptr<http_test::FakeServer> peer;
  for (const std::string& a : row.args) {
    if (a.find("{HTTP}") == std::string::npos) continue;
    peer = std::make_unique<http_test::FakeServer>([](http_test::Conn& c, int) {
      if (c.read_request(2000).empty()) return;
      c.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    });
    http_url_ = "http://127.0.0.1:" + std::to_string(peer->port()) + "/";
  }
  std::vector<std::string> argv;
  if (row.unprivileged) {
    std::string runner = unprivileged_runner();
    if (runner.empty()) GTEST_SKIP() << "running as root without setpriv: cannot drop privileges for this row";
    if (runner != "self") argv = {runner, "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  argv.push_back(std::string(row.program) == "vyra-server" ? VYRA_SOURCE_DIR "/server/vyra-server"
                                                             : vyra_test::bin(row.program));
  for (const std::string& a : row.args) argv.push_back(expand(a));
  vyra_test::RunResult r = vyra_test::run(argv, row.input);

  EXPECT_EQ(r.exit_code, row.exit_code) << r.err;
  EXPECT_LT(r.exit_code, 128);
  std::string err = expand(row.err);
  if (err.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_EQ(r.err.substr(0, err.size()), err) << r.err;
  }
  if (row.exit_code != 0) {
    // A failure is one line on the standard error, a usage error ends with the hint.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(row.exit_code == 2, r.err.find(" (try --help)\n") != std::string::npos) << r.err;
  }
  if (!row.out.empty()) {
    EXPECT_EQ(r.out.substr(0, expand(row.out).size()), expand(row.out)) << r.out;
  }
  if (!row.absent_after.empty()) {
    EXPECT_FALSE(vyra_test::file_exists(expand(row.absent_after)));
  }
  if (std::string(row.what) == "help") {
    // The help is the manual: it lists the exit codes.
    EXPECT_NE(r.out.find("Exit status"), std::string::npos);
    EXPECT_NE(r.out.find("  2  bad usage"), std::string::npos);
  }
}

// How ctest and a failure name a row.
void PrintTo(const Row& row, std::ostream* os) { *os << row.program << " " << row.what; }

std::string row_name(const ::testing::TestParamInfo<Row>& info) {
  std::string name = std::string(info.param.program) + "_" + info.param.what;
  for (char& c : name)
    if (c == '-') c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Programs, ToolConvention, ::testing::ValuesIn(all_rows()), row_name);

}  // namespace
