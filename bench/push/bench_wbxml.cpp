// WBXML decoding speed: a WML deck of 100 KiB (as compiled by libwbxml) decoded by
// qn_wbxml_decode into the document model and by libwbxml's tree decoder, in one run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <wbxml/wbxml.h>

#include "client/formats/wbxml_decoder.h"
#include "common/tracked_memory.h"

// libwbxml's tree decoder; its header is not installed, the library exports it.
extern "C" {
typedef struct WBXMLTree_s WBXMLTree;
WBXMLError wbxml_tree_from_wbxml(WB_UTINY* wbxml, WB_ULONG wbxml_len, WBXMLLanguage lang,
                                 WBXMLCharsetMIBEnum charset, WBXMLTree** tree);
void wbxml_tree_destroy(WBXMLTree* tree);
}

namespace {

constexpr size_t kDeckBytes = 100 * 1024;

// A deck of cards with paragraphs, links, inputs and selects, compiled until it reaches
// 100 KiB of WBXML.
std::vector<unsigned char> make_deck() {
  std::string cards;
  std::vector<unsigned char> out;
  for (int card = 0; out.size() < kDeckBytes; ++card) {
    std::string n = std::to_string(card);
    cards += "<card id=\"c" + n + "\" title=\"Card " + n + "\"><p align=\"center\">Welcome to card " + n +
             ", caf\xC3\xA9 &amp; more<br/><a href=\"http://www.example.com/page" + n +
             "\">Next page</a></p><p>Name:<input name=\"n" + n +
             "\" type=\"text\" maxlength=\"20\"/><select name=\"s" + n +
             "\"><option value=\"a\">First choice</option><option value=\"b\">Second choice"
             "</option></select></p><do type=\"accept\" label=\"Go\"><go href=\"https://www.example.org/submit?card=" +
             n + "\" method=\"post\"><postfield name=\"v\" value=\"$(n" + n + ")\"/></go></do></card>";
    if (card % 16 != 15) continue;
    std::string xml =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE wml PUBLIC \"-//WAPFORUM//DTD WML 1.3//EN\" "
        "\"http://www.wapforum.org/DTD/wml13.dtd\">\n<wml>" + cards + "</wml>";
    WBXMLConvXML2WBXML* conv = nullptr;
    if (wbxml_conv_xml2wbxml_create(&conv) != WBXML_OK) std::abort();
    WB_UTINY* wbxml = nullptr;
    WB_ULONG length = 0;
    WBXMLError rc = wbxml_conv_xml2wbxml_run(conv, reinterpret_cast<WB_UTINY*>(xml.data()),
                                             static_cast<WB_ULONG>(xml.size()), &wbxml, &length);
    wbxml_conv_xml2wbxml_destroy(conv);
    if (rc != WBXML_OK) std::abort();
    out.assign(wbxml, wbxml + length);
    std::free(wbxml);
  }
  return out;
}

const std::vector<unsigned char>& deck() {
  static const std::vector<unsigned char> bytes = make_deck();
  return bytes;
}

void BM_QnWbxmlDecode(benchmark::State& state) {
  const std::vector<unsigned char>& bytes = deck();
  for (auto _ : state) {
    xml_struct doc{};
    int status = qn_wbxml_decode(bytes.data(), static_cast<int32_t>(bytes.size()), nullptr, 0,
                                 nullptr, 0, &doc, nullptr);
    if (status != 1) state.SkipWithError("qn_wbxml_decode failed");
    benchmark::DoNotOptimize(doc.xml_root);
    free_xml_struct(&doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_QnWbxmlDecode)->Unit(benchmark::kMicrosecond);

void BM_LibwbxmlTree(benchmark::State& state) {
  std::vector<unsigned char> bytes = deck();  // the decoder takes a non-const buffer
  for (auto _ : state) {
    WBXMLTree* tree = nullptr;
    WBXMLError rc = wbxml_tree_from_wbxml(bytes.data(), static_cast<WB_ULONG>(bytes.size()),
                                          WBXML_LANG_UNKNOWN, WBXML_CHARSET_UNKNOWN, &tree);
    if (rc != WBXML_OK) state.SkipWithError("wbxml_tree_from_wbxml failed");
    benchmark::DoNotOptimize(tree);
    wbxml_tree_destroy(tree);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_LibwbxmlTree)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
