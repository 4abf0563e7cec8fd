// Parsing speed of qn_xml_process beside three general XML parsers, on the same MMC-like
// documents: 100 methods (about 12 KiB), 10 KiB and 1 MiB of methods. Each benchmark reports
// bytes per second; compare the 1 MiB and 10 KiB rows of one parser to see that its time per
// byte does not grow with the document.
#include <benchmark/benchmark.h>
#include <expat.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <pugixml.hpp>
#include <string>
#include <vector>

#include "client/formats/qnxml.h"
#include "platform/text.h"

namespace {

std::string method(int i) {
  switch (i % 4) {
    case 0:
      return "  <method id=\"" + std::to_string(i) + "\" name=\"write\" object=\"phone:nai.." +
             std::to_string(i % 15) + ".sip.user\" value=\"user" + std::to_string(i) +
             "&amp;co@example.com\" reportstatus=\"true\"/>\r\n";
    case 1:
      return "  <method id=\"" + std::to_string(i) + "\" name=\"read\" object=\"phone:boot.url\"/>\r\n";
    case 2:
      return "  <method id=\"" + std::to_string(i) +
             "\" name=\"write\" object=\"phone:prl\" valueref=\"cid:prl" + std::to_string(i) +
             "@server.example\"/>\r\n";
    default:
      return "  <method id=\"" + std::to_string(i) + "\" name=\"commit\" reportstatus=\"false\"/>\r\n"
             "  <note>commit &lt;" + std::to_string(i) + "&gt; of the batch</note>\r\n";
  }
}

// `methods` methods, or as many as it takes to reach `min_bytes`.
std::string make_document(int methods, size_t min_bytes) {
  std::string doc =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<mmc mmcID=\"7\" status-uri=\"https://server.example/mmc/status\">\r\n";
  const std::string tail = "</mmc>\r\n";
  for (int i = 0; i < methods || doc.size() + tail.size() < min_bytes; ++i) doc += method(i);
  return doc + tail;
}

const std::string& document(int which) {
  static const std::string docs[] = {make_document(100, 0), make_document(0, 10 * 1024),
                                     make_document(0, 1024 * 1024)};
  return docs[which];
}

void label(benchmark::State& state, const std::string& doc) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
  static const char* names[] = {"100 methods", "10 KiB", "1 MiB"};
  state.SetLabel(names[state.range(0)]);
}

void BM_qn_xml_process(benchmark::State& state) {
  const std::string& doc = document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    xml_struct parsed{};
    int status = qn_xml_process(doc.data(), static_cast<int32_t>(doc.size()), nullptr, 0, nullptr,
                                0, &parsed, nullptr, nullptr);
    if (status != 1) state.SkipWithError("qn_xml_process refused the document");
    benchmark::DoNotOptimize(parsed.xml_root);
    free_xml_struct(&parsed);
  }
  label(state, doc);
}

// expat builds the same kind of list: one node per element and per run of character data,
// with the parent's index and UTF-16 attribute values.
struct ExpatNode {
  std::string tag;
  int parent;
  std::vector<std::pair<std::string, std::u16string>> attributes;
};

struct ExpatList {
  std::vector<ExpatNode> nodes;
  std::vector<int> open;
  bool in_text = false;
};

void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char** attrs) {
  auto* list = static_cast<ExpatList*>(data);
  ExpatNode node{name, list->open.empty() ? -1 : list->open.back(), {}};
  for (int i = 0; attrs[i] != nullptr; i += 2) node.attributes.emplace_back(attrs[i], plat::utf8_to_utf16(attrs[i + 1]));
  list->open.push_back(static_cast<int>(list->nodes.size()));
  list->nodes.push_back(std::move(node));
  list->in_text = false;
}

void XMLCALL on_end(void* data, const XML_Char*) {
  auto* list = static_cast<ExpatList*>(data);
  list->open.pop_back();
  list->in_text = false;
}

void XMLCALL on_text(void* data, const XML_Char* text, int length) {
  auto* list = static_cast<ExpatList*>(data);
  bool blank = true;
  for (int i = 0; i < length && blank; ++i) blank = text[i] == ' ' || text[i] == '\r' || text[i] == '\n' || text[i] == '\t';
  if (blank && !list->in_text) return;
  std::u16string wide = plat::utf8_to_utf16(std::string_view(text, static_cast<size_t>(length)));
  if (list->in_text) {
    list->nodes.back().attributes.back().second += wide;
    return;
  }
  ExpatNode node{"t_inline", list->open.empty() ? -1 : list->open.back(), {}};
  node.attributes.emplace_back("t_inline", std::move(wide));
  list->nodes.push_back(std::move(node));
  list->in_text = true;
}

void BM_expat(benchmark::State& state) {
  const std::string& doc = document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ExpatList list;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &list);
    XML_SetElementHandler(parser, on_start, on_end);
    XML_SetCharacterDataHandler(parser, on_text);
    if (XML_Parse(parser, doc.data(), static_cast<int>(doc.size()), 1) != XML_STATUS_OK)
      state.SkipWithError("expat refused the document");
    XML_ParserFree(parser);
    benchmark::DoNotOptimize(list.nodes.data());
  }
  label(state, doc);
}

void BM_pugixml(benchmark::State& state) {
  const std::string& doc = document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    pugi::xml_document parsed;
    if (!parsed.load_buffer(doc.data(), doc.size())) state.SkipWithError("pugixml refused the document");
    benchmark::DoNotOptimize(parsed.first_child());
  }
  label(state, doc);
}

void BM_libxml2_tree(benchmark::State& state) {
  const std::string& doc = document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    xmlDocPtr parsed = xmlReadMemory(doc.data(), static_cast<int>(doc.size()), nullptr, nullptr,
                                     XML_PARSE_NONET);
    if (parsed == nullptr) state.SkipWithError("libxml2 refused the document");
    benchmark::DoNotOptimize(parsed);
    xmlFreeDoc(parsed);
  }
  label(state, doc);
}

BENCHMARK(BM_qn_xml_process)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_expat)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_pugixml)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_libxml2_tree)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
