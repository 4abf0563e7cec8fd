// A whole session from the fuzzer: the first document and the server's answers to its
// replies, with the handset, the window and the HTTP exchange played in memory
// (tests/client/session_fakes.h). The rest of the HTTP library is real (its static copy).
//
// Input: sections separated by "\0ANS". Section 0: one byte of options (bit 0: the document
// is multipart with boundary "fz"; bit 1: the user answers Yes), then the document. Every
// further section is one answer: a byte for the status (200 206 302 303 401 404), one for
// the content type (MMC, multipart "fz", text/plain, none), one for the library's result
// (1, -3010, -2000, -3002), then the header block and the body split at the first blank line.
//
// After each session the engine's state is reset and no tracked block may be left behind.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "client/support/flags.h"
#include "common/tracked_memory.h"
#include "platform/clock.h"
#include "tests/client/session_fakes.h"

namespace {

constexpr std::string_view kSeparator("\0ANS", 4);
constexpr int kStatuses[] = {200, 206, 302, 303, 401, 404};
constexpr const char* kTypes[] = {"application/vnd.zevorize.mmc-xml", "multipart/related; boundary=fz", "text/plain",
                                  ""};
constexpr int kResults[] = {1, -3010, -2000, -3002};
constexpr size_t kMaxAnswers = 64;

session_fakes::HttpAnswer parse_answer(std::string_view s) {
  session_fakes::HttpAnswer a;
  auto byte = [&](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
  a.status = kStatuses[byte(0) % 6];
  a.content_type = kTypes[byte(1) % 4];
  a.result = kResults[byte(2) % 4];
  std::string_view rest = s.size() > 3 ? s.substr(3) : std::string_view();
  size_t blank = rest.find("\r\n\r\n");
  if (blank != std::string_view::npos) {
    a.headers = std::string(rest.substr(0, blank + 2));
    rest.remove_prefix(blank + 4);
  }
  a.body = std::string(rest);
  return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  static const bool scaled = [] {
    plat::set_time_scale_for_test(1e-6);  // retry pauses take a millisecond
    return true;
  }();
  (void)scaled;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> sections;
  for (size_t at = 0;;) {
    size_t next = input.find(kSeparator, at);
    sections.push_back(input.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
    if (next == std::string_view::npos || sections.size() > kMaxAnswers) break;
    at = next + kSeparator.size();
  }
  std::string_view first = sections[0];
  unsigned options = first.empty() ? 0 : static_cast<unsigned char>(first[0]);
  if (!first.empty()) first.remove_prefix(1);
  std::vector<char> document(first.begin(), first.end());  // exactly its size, for the sanitizers

  int64_t live = mem_test_live_blocks();
  {
    session_fakes::FakeSession fake;
    session_fakes::g_out_of_answers = -3002;
    session_fakes::g_answer_yes = (options & 2) != 0;
    fake.handset.generic[4] = "Model";
    fake.handset.generic[8] = "http://boot.example/dir/start";
    fake.handset.prl = std::string("\x00\x05\x01\x02\x03", 5);
    for (size_t i = 1; i < sections.size(); ++i) session_fakes::g_answers.push_back(parse_answer(sections[i]));
    cancel_requested = 0;
    process_mmc_file(document.data(), static_cast<int>(document.size()),
                     (options & 1) != 0 ? "multipart/related; boundary=fz" : "application/vnd.zevorize.mmc-xml");
    // A session that carries on into the next call keeps its handle; the reset releases it.
  }
  if (mem_test_live_blocks() != live) std::abort();
  return 0;
}
