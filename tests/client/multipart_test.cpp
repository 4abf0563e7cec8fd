// Multipart bodies and MIME header lines: boundaries, splitting, header parsing, the transfer
// decodings, attachments, hostile bodies and allocation failures.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/formats/http_parse.h"
#include "common/tracked_memory.h"
#include "platform/text.h"

namespace {

std::string boundary_of(const char* content_type) {
  char* b = get_boundary(content_type);
  std::string s = b == nullptr ? "<none>" : b;
  MEM_FREE(b);
  return s;
}

struct Part {
  std::string data;
  std::string content_type;  // "<none>" when absent
  std::vector<std::string> headers;  // "name=value"
};

struct Split {
  int status = 0;
  std::vector<Part> parts;
  std::vector<std::string> attachments;  // "file name@part index"
};

// Splits a body held in a heap buffer of exactly its size; checks that nothing leaks.
Split split(const std::string& body, const char* boundary, bool collect = true) {
  int64_t live = mem_test_live_blocks();
  std::unique_ptr<char[]> buffer(new char[body.size() ? body.size() : 1]);
  std::memcpy(buffer.get(), body.data(), body.size());
  MultipartPart* parts = nullptr;
  MultipartAttachment* attachments = nullptr;
  Split s;
  s.status = split_multipart(buffer.get(), static_cast<int>(body.size()), boundary, &parts,
                             collect ? &attachments : nullptr);
  std::vector<const MultipartPart*> order;
  for (const MultipartPart* p = parts; p != nullptr; p = p->next) {
    order.push_back(p);
    Part part;
    part.data.assign(p->data, static_cast<size_t>(p->length));
    EXPECT_EQ(p->data[p->length], '\0');
    part.content_type = p->content_type == nullptr ? "<none>" : p->content_type;
    for (const MimeHeader* h = p->headers; h != nullptr; h = h->next)
      part.headers.push_back(std::string(h->name) + "=" + h->value);
    s.parts.push_back(part);
  }
  for (const MultipartAttachment* a = attachments; a != nullptr; a = a->next) {
    size_t index = 0;
    while (index < order.size() && order[index] != a->part) ++index;
    s.attachments.push_back(plat::utf16_to_utf8(a->file_name) + "@" + std::to_string(index));
  }
  if (s.status != 1) {
    EXPECT_EQ(parts, nullptr);
    EXPECT_EQ(attachments, nullptr);
  }
  free_attachments(attachments);
  free_parts(parts);
  EXPECT_EQ(mem_test_live_blocks(), live);
  return s;
}

const char kMmc[] =
    "<?xml version='1.0'?><mmc mmcID='1'><method id='1' name='read' object='x'/></mmc>";

std::string three_part_body() {
  return std::string("preamble\r\n--XyZ\r\n") +
         "Content-Type: application/vnd.zevorize.mmc-xml\r\n"
         "Content-ID: <doc>\r\n\r\n" + kMmc + "\r\n"
         "--XyZ\r\n"
         "Content-Type: application/octet-stream\r\n"
         "Content-ID: <prl>\r\n"
         "Content-Transfer-Encoding: base64\r\n"
         "Content-Disposition: attachment; filename=\"prl.bin\"\r\n\r\n"
         "AAECAwQF\r\n"
         "--XyZ\r\n"
         "Content-Type: text/plain\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
         "caf=E9 =\r\nsoft\r\n"
         "--XyZ--\r\nepilogue";
}

// ---- Boundary ----------------------------------------------------------------------------------

TEST(MultipartBoundary, QuotedAndUnquoted) {
  EXPECT_EQ(boundary_of("multipart/mixed; boundary=\"a b;c\""), "a b;c");  // quotes not kept
  EXPECT_EQ(boundary_of("multipart/mixed; boundary=abc; charset=x"), "abc");
  EXPECT_EQ(boundary_of("multipart/related; boundary = abc ;type=x"), "abc");
  // A boundary that is the last parameter is found; a quote in a later parameter is not
  // taken for the start of a quoted boundary.
  EXPECT_EQ(boundary_of("multipart/mixed; boundary=abc"), "abc");
  EXPECT_EQ(boundary_of("multipart/mixed; boundary=abc; name=\"q\""), "abc");
  EXPECT_EQ(boundary_of("multipart/mixed; BOUNDARY=Up"), "Up");
}

TEST(MultipartBoundary, Missing) {
  EXPECT_EQ(boundary_of("multipart/mixed"), "<none>");
  EXPECT_EQ(boundary_of("multipart/mixed; boundary=\"abc"), "<none>");
  EXPECT_EQ(boundary_of("multipart/mixed; boundary="), "<none>");
  EXPECT_EQ(boundary_of("multipart/mixed; boundary=\"\""), "<none>");
  EXPECT_EQ(get_boundary(nullptr), nullptr);
}

// ---- Split -------------------------------------------------------------------------------------

TEST(MultipartSplit, ThreePartsWithTransferEncodings) {
  Split s = split(three_part_body(), "XyZ");
  ASSERT_EQ(s.status, 1);
  ASSERT_EQ(s.parts.size(), 3u);
  // CR LF ends: the data keeps the CR LF closing the blank line and the one before the
  // delimiter.
  EXPECT_EQ(s.parts[0].data, std::string("\r\n") + kMmc + "\r\n");
  EXPECT_EQ(s.parts[0].content_type, "application/vnd.zevorize.mmc-xml");
  EXPECT_EQ(s.parts[0].headers,
            (std::vector<std::string>{"Content-Type=application/vnd.zevorize.mmc-xml",
                                      "Content-ID=<doc>"}));
  EXPECT_EQ(s.parts[1].data, std::string("\0\1\2\3\4\5", 6));
  EXPECT_EQ(s.parts[2].data, "\r\ncaf\xE9 soft\r\n");
  EXPECT_EQ(s.attachments, (std::vector<std::string>{"prl.bin@1"}));
  EXPECT_TRUE(split(three_part_body(), "XyZ", false).attachments.empty());
}

TEST(MultipartSplit, LineFeedBodyAndPartWithoutContentType) {
  Split s = split("--b\nContent-ID: <x>\n\n\tdata one\n--b\nX-A: 1\n\ntwo--b--", "b");
  ASSERT_EQ(s.status, 1);
  ASSERT_EQ(s.parts.size(), 2u);
  EXPECT_EQ(s.parts[0].data, "data one\n");  // LF and TAB after the blank line are skipped
  EXPECT_EQ(s.parts[0].content_type, "<none>");
  EXPECT_EQ(s.parts[1].data, "two");  // ends at the two dashes of the delimiter
}

TEST(MultipartSplit, NoBoundaryAnywhere) {
  Split s = split("just a body with no delimiter", "zz");
  EXPECT_EQ(s.status, 1);
  EXPECT_TRUE(s.parts.empty());
  EXPECT_EQ(split("--zz", "").status, 1);
  EXPECT_TRUE(split("--zz", "").parts.empty());
}

TEST(MultipartSplit, BoundaryAtTheVeryEnd) {
  EXPECT_TRUE(split("junk --abc", "abc").parts.empty());
  EXPECT_TRUE(split("junk --abc\r", "abc").parts.empty());
  EXPECT_TRUE(split("--abc\r\nA: b\r\n", "abc").parts.empty());  // no blank line: stop
  Split s = split("--abc\r\nA: b\r\n\r\nxy--abc", "abc");
  ASSERT_EQ(s.parts.size(), 1u);
  EXPECT_EQ(s.parts[0].data, "\r\nxy");
}

TEST(MultipartSplit, LastPartRunsToTheEndWithoutCloser) {
  Split s = split("--q\r\nContent-Type: t\r\n\r\nabc", "q");
  ASSERT_EQ(s.parts.size(), 1u);
  EXPECT_EQ(s.parts[0].data, "\r\nabc");
}

TEST(MultipartSplit, HeaderBlockWithoutHeaderLineFails) {
  Split s = split("--q\r\nno colon here\r\n\r\ndata\r\n--q--", "q");
  EXPECT_EQ(s.status, -2002);
  EXPECT_TRUE(s.parts.empty());
}

TEST(MultipartSplit, Base64WithSeventySixColumnLines) {
  std::string original;
  for (int i = 0; i < 1000; ++i) original += static_cast<char>((i * 37 + 11) & 0xFF);
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  for (size_t i = 0; i < original.size(); i += 3) {
    uint32_t v = static_cast<unsigned char>(original[i]) << 16;
    if (i + 1 < original.size()) v |= static_cast<unsigned char>(original[i + 1]) << 8;
    if (i + 2 < original.size()) v |= static_cast<unsigned char>(original[i + 2]);
    encoded += kAlphabet[(v >> 18) & 63];
    encoded += kAlphabet[(v >> 12) & 63];
    encoded += i + 1 < original.size() ? kAlphabet[(v >> 6) & 63] : '=';
    encoded += i + 2 < original.size() ? kAlphabet[v & 63] : '=';
  }
  std::string wrapped;
  for (size_t i = 0; i < encoded.size(); i += 76) wrapped += encoded.substr(i, 76) + "\r\n";
  Split s = split("--b.64\r\nContent-Transfer-Encoding: base64\r\n\r\n" + wrapped + "--b.64--",
                  "b.64");
  ASSERT_EQ(s.parts.size(), 1u);
  EXPECT_TRUE(s.parts[0].data == original);  // (not printed: 1000 bytes)
}

// ---- Header lines ------------------------------------------------------------------------------

TEST(MimeHeaders, LinesContinuationsAndLookup) {
  const std::string text =
      "Content-Type: text/xml\r\nX-Long: one\r\n\ttwo\r\n:skipped\r\nX-Bare:v\nLast: no end";
  MimeHeader* list = nullptr;
  ASSERT_EQ(parse_header_lines(text.data(), text.size(), &list), 1);
  std::vector<std::string> got;
  for (const MimeHeader* h = list; h != nullptr; h = h->next)
    got.push_back(std::string(h->name) + "=" + h->value);
  EXPECT_EQ(got, (std::vector<std::string>{"Content-Type=text/xml", "X-Long=one\r\n\ttwo",
                                           "X-Bare=v"}));
  EXPECT_STREQ(find_header_value("content-TYPE", list), "text/xml");
  EXPECT_EQ(find_header_value("Missing", list), nullptr);
  EXPECT_EQ(find_header_value(nullptr, list), nullptr);
  free_header_lines(list);

  const std::string none = "no colon\r\nA: b\r\n";  // parsing stops at the first line
  EXPECT_EQ(parse_header_lines(none.data(), none.size(), &list), -2002);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(parse_header_lines("", 0, &list), -2002);
}

// ---- Transfer decodings ------------------------------------------------------------------------

std::string b64(const std::string& in) {
  char* out = nullptr;
  int n = 0;
  EXPECT_EQ(decode_base64(in.data(), in.size(), &out, &n), 1);
  std::string s(out, static_cast<size_t>(n));
  EXPECT_EQ(out[n], '\0');
  MEM_FREE(out);
  return s;
}

std::string qp(const std::string& in, int expected_status = 1) {
  char* out = nullptr;
  int n = 0;
  EXPECT_EQ(decode_quoted_printable(in.data(), in.size(), &out, &n), expected_status) << in;
  std::string s(out, static_cast<size_t>(n));
  MEM_FREE(out);
  return s;
}

TEST(TransferDecoding, Base64) {
  EXPECT_EQ(b64("aGVsbG8="), "hello");
  EXPECT_EQ(b64("aGVs bG8*\r\n"), "hello");     // characters outside the alphabet are skipped
  EXPECT_EQ(b64("QQ==QUI="), "AAB");            // '=' ends the group, decoding goes on
  EXPECT_EQ(b64(std::string("QQ\0QUI", 6)), "AAB");
  EXPECT_EQ(b64("Q"), "");                      // a lone sextet gives nothing
  EXPECT_EQ(b64(""), "");
  EXPECT_EQ(b64("+/+/"), "\xFB\xFF\xBF");
}

TEST(TransferDecoding, QuotedPrintable) {
  EXPECT_EQ(qp("a=3Db=3d"), "a=b=");
  EXPECT_EQ(qp("soft=\r\nbreak=\nx=\ry"), "softbreakxy");
  EXPECT_EQ(qp("ok=G1rest", 0), "ok");   // a malformed '=' keeps what was decoded
  EXPECT_EQ(qp("end=4", 0), "end");
  EXPECT_EQ(qp("end=", 0), "end");
}

// ---- Hostile bodies and allocation failures -----------------------------------------------------

TEST(MultipartHostile, TruncationsNeverReadOutside) {
  const std::string body = three_part_body();
  for (size_t n = 0; n <= body.size(); ++n) {
    Split s = split(body.substr(0, n), "XyZ");
    EXPECT_TRUE(s.status == 1 || s.status == -2002) << n;
  }
}

TEST(MultipartHostile, ManyEmptyParts) {
  std::string body;
  for (int i = 0; i < 20000; ++i) body += "--k\r\nA: b\r\n\r\n";
  body += "--k--";
  Split s = split(body, "k");
  EXPECT_EQ(s.status, 1);
  EXPECT_EQ(s.parts.size(), 20000u);
}

TEST(MultipartTorture, EveryAllocationFailureEndsCleanly) {
  const std::string body = three_part_body();
  int failures = 0;
  for (uint64_t nth = 1;; ++nth) {
    int64_t live = mem_test_live_blocks();
    uint64_t before = mem_test_allocations();
    MultipartPart* parts = nullptr;
    MultipartAttachment* attachments = nullptr;
    mem_test_fail_nth(nth);
    int status = split_multipart(body.data(), static_cast<int>(body.size()), "XyZ", &parts,
                                 &attachments);
    bool fired = mem_test_allocations() - before >= nth;
    mem_test_fail_nth(0);
    if (!fired) {
      EXPECT_EQ(status, 1);
      int count = 0;
      for (MultipartPart* p = parts; p != nullptr; p = p->next) ++count;
      EXPECT_EQ(count, 3);
      free_attachments(attachments);
      free_parts(parts);
      break;
    }
    ++failures;
    EXPECT_EQ(status, -2000) << "allocation " << nth;
    EXPECT_EQ(parts, nullptr);
    EXPECT_EQ(attachments, nullptr);
    EXPECT_EQ(mem_test_live_blocks(), live) << "allocation " << nth;
  }
  EXPECT_GT(failures, 20);
}

}  // namespace
