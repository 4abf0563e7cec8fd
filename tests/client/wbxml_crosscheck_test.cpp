// Cross-check of the WBXML decoder against an independent encoder: SL, SI and WML documents
// are compiled by libwbxml, and the decoder must give back the same elements, attributes and
// text, whatever tokens (attribute prefixes, value tokens, string table, entities) the
// encoder chose.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <wbxml/wbxml.h>

#include "client/formats/wbxml_decoder.h"
#include "common/tracked_memory.h"
#include "platform/text.h"

namespace {

// Compiles an XML document with libwbxml (string table on, ignorable whitespace dropped).
std::vector<unsigned char> compile(const std::string& xml, bool string_table = true) {
  WBXMLConvXML2WBXML* conv = nullptr;
  EXPECT_EQ(wbxml_conv_xml2wbxml_create(&conv), WBXML_OK);
  if (!string_table) wbxml_conv_xml2wbxml_disable_string_table(conv);
  WB_UTINY* wbxml = nullptr;
  WB_ULONG length = 0;
  WBXMLError rc = wbxml_conv_xml2wbxml_run(conv, reinterpret_cast<WB_UTINY*>(const_cast<char*>(xml.data())),
                                           static_cast<WB_ULONG>(xml.size()), &wbxml, &length);
  wbxml_conv_xml2wbxml_destroy(conv);
  EXPECT_EQ(rc, WBXML_OK) << xml;
  std::vector<unsigned char> out;
  if (rc == WBXML_OK) out.assign(wbxml, wbxml + length);
  std::free(wbxml);
  return out;
}

// "tag{name=value,...}" for elements, "'text'" for character data, each prefixed by the
// depth; the decoder's parent links give the depth.
std::string dump(const xml_struct& doc) {
  std::string out;
  for (const xml_node* n = doc.xml_root; n != nullptr; n = n->next) {
    int depth = 0;
    for (const xml_node* p = n->parent; p != nullptr; p = p->parent) ++depth;
    out += std::to_string(depth);
    if (std::string(n->tag_name) == kXmlInlineTag) {
      out += "'" + plat::utf16_to_utf8(n->attributes->value) + "'";
    } else {
      out += n->tag_name;
      out += '{';
      for (const xml_attr* a = n->attributes; a != nullptr; a = a->next) {
        out += a->name;
        out += '=';
        out += plat::utf16_to_utf8(a->value);
        if (a->next != nullptr) out += ',';
      }
      out += '}';
    }
    out += ' ';
  }
  return out;
}

std::string decode_dump(const std::vector<unsigned char>& wbxml, uint32_t expected_public_id) {
  xml_struct doc{};
  int status = wbxml_decode_document(wbxml.data(), static_cast<int32_t>(wbxml.size()), &doc, nullptr);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(doc.public_id, expected_public_id);
  std::string out = dump(doc);
  free_xml_struct(&doc);
  return out;
}

constexpr char kSlDoctype[] =
    "<?xml version=\"1.0\"?>\n<!DOCTYPE sl PUBLIC \"-//WAPFORUM//DTD SL 1.0//EN\" "
    "\"http://www.wapforum.org/DTD/sl.dtd\">\n";
constexpr char kSiDoctype[] =
    "<?xml version=\"1.0\"?>\n<!DOCTYPE si PUBLIC \"-//WAPFORUM//DTD SI 1.0//EN\" "
    "\"http://www.wapforum.org/DTD/si.dtd\">\n";
constexpr char kWmlDoctype[] =
    "<?xml version=\"1.0\"?>\n<!DOCTYPE wml PUBLIC \"-//WAPFORUM//DTD WML 1.3//EN\" "
    "\"http://www.wapforum.org/DTD/wml13.dtd\">\n";

TEST(WbxmlCrossCheck, ServiceLoading) {
  const struct {
    const char* body;
    const char* expected;
  } cases[] = {
      {"<sl href=\"https://www.example.com/x\"/>", "0sl{href=https://www.example.com/x} "},
      {"<sl href=\"http://provision.example.org/mmc?id=7\" action=\"execute-high\"/>",
       "0sl{href=http://provision.example.org/mmc?id=7,action=execute-high} "},
      {"<sl href=\"http://a.net/b.edu/c\" action=\"cache\"/>", "0sl{href=http://a.net/b.edu/c,action=cache} "},
      {"<sl href=\"ftp://host/path\" action=\"execute-low\"/>", "0sl{href=ftp://host/path,action=execute-low} "},
  };
  for (const auto& c : cases) {
    std::string xml = std::string(kSlDoctype) + c.body;
    EXPECT_EQ(decode_dump(compile(xml), 0x06), c.expected) << c.body;
    EXPECT_EQ(decode_dump(compile(xml, false), 0x06), c.expected) << c.body;
  }
}

TEST(WbxmlCrossCheck, ServiceIndication) {
  std::string xml = std::string(kSiDoctype) +
                    "<si><indication href=\"http://www.example.com/news\" si-id=\"n1\" "
                    "created=\"2007-10-26T16:29:07Z\" action=\"signal-high\">New "
                    "settings for your phone</indication><info><item class=\"c\">detail "
                    "text</item></info></si>";
  EXPECT_EQ(decode_dump(compile(xml), 0x05),
            "0si{} 1indication{href=http://www.example.com/news,si-id=n1,"
            "created=2007-10-26T16:29:07Z,action=signal-high} 2'New settings for your phone' "
            "1info{} 2item{class=c} 3'detail text' ");
}

TEST(WbxmlCrossCheck, DatesWithoutTheirTrailingZeroBytesComeBackWhole) {
  // The encoder leaves out the zero bytes at the end of a date, as the format allows.
  for (const char* date : {"2024-03-01T12:00:00Z", "2024-03-01T00:00:00Z", "2024-03-01T12:30:00Z"}) {
    std::string xml = std::string(kSiDoctype) + "<si><indication href=\"http://a.example/\" created=\"" + date +
                      "\" si-expires=\"" + date + "\">x</indication></si>";
    std::vector<unsigned char> wbxml = compile(xml);
    EXPECT_EQ(decode_dump(wbxml, 0x05), std::string("0si{} 1indication{href=http://a.example/,created=") + date +
                                            ",si-expires=" + date + "} 2'x' ");
  }
}

TEST(WbxmlCrossCheck, WmlDeck) {
  std::string xml = std::string(kWmlDoctype) +
                    "<wml><head><meta http-equiv=\"Cache-Control\" content=\"max-age=0\"/></head>"
                    "<card id=\"main\" title=\"Menu\"><p align=\"center\">Caf\xC3\xA9 "
                    "&amp; more<br/><a href=\"http://www.example.com/next\">Next</a></p>"
                    "<do type=\"accept\" label=\"OK\"><go href=\"#two\" method=\"post\">"
                    "<postfield name=\"n\" value=\"v\"/></go></do></card>"
                    "<card id=\"two\"><p>Second</p></card></wml>";
  EXPECT_EQ(decode_dump(compile(xml), 0x0A),
            "0wml{} 1head{} 2meta{http-equiv=Cache-Control,content=max-age=0} "
            "1card{id=main,title=Menu} 2p{align=center} 3'Caf\xC3\xA9 & more' 3br{} "
            "3a{href=http://www.example.com/next} 4'Next' 2do{type=accept,label=OK} "
            "3go{href=#two,method=post} 4postfield{name=n,value=v} 1card{id=two} 2p{} "
            "3'Second' ");
}

// Random WML decks: nested known elements with attributes drawn from the WML vocabulary
// (values that the encoder may split into prefixes, value tokens and string-table
// references) and text with non-ASCII characters.
TEST(WbxmlCrossCheck, GeneratedWmlDecks) {
  const char* const tags[] = {"p", "b", "i", "em", "strong", "small", "big", "u", "a", "anchor", "td"};
  const char* const names[] = {"id", "class", "title", "href", "src", "align", "name", "value", "label"};
  const char* const values[] = {"http://www.example.com/", "https://www.example.org/a", "center",
                                "left", "top", "www.x.net/", "text", "reset", "plain value",
                                "http://host.edu/path"};
  const char* const words[] = {"alpha", "beta", "gamma", "\xC3\xA9t\xC3\xA9", "na\xC3\xAFve", "1234",
                               "x.com", "end"};
  std::mt19937 rng(7);
  auto pick = [&](auto& array) { return array[rng() % (sizeof(array) / sizeof(array[0]))]; };

  for (int round = 0; round < 40; ++round) {
    std::string xml = std::string(kWmlDoctype) + "<wml><card id=\"c" + std::to_string(round) + "\">";
    std::string expected = "0wml{} 1card{id=c" + std::to_string(round) + "} ";
    // Depth-first construction with an explicit stack of open tags.
    std::vector<std::string> open;
    bool last_was_text = false;
    for (int step = 0; step < 60; ++step) {
      int depth = static_cast<int>(open.size()) + 2;
      unsigned choice = rng() % 10;
      if (choice < 4 && open.size() < 6) {
        std::string tag = pick(tags);
        xml += "<" + tag;
        expected += std::to_string(depth) + tag + "{";
        int attributes = static_cast<int>(rng() % 3);
        std::vector<std::string> used;
        for (int k = 0; k < attributes; ++k) {
          std::string name = pick(names);
          bool repeated = false;
          for (const std::string& u : used) repeated = repeated || u == name;
          if (repeated) continue;
          used.push_back(name);
          std::string value = pick(values);
          xml += " " + name + "=\"" + value + "\"";
          expected += (used.size() > 1 ? "," : "") + name + "=" + value;
        }
        xml += ">";
        expected += "} ";
        open.push_back(tag);
        last_was_text = false;
      } else if (choice < 7 && !open.empty()) {
        xml += "</" + open.back() + ">";
        open.pop_back();
        last_was_text = false;
      } else if (!last_was_text) {
        std::string text = std::string(pick(words)) + " " + pick(words);
        xml += text;
        expected += std::to_string(depth) + "'" + text + "' ";
        last_was_text = true;
      }
    }
    while (!open.empty()) {
      xml += "</" + open.back() + ">";
      open.pop_back();
    }
    xml += "</card></wml>";
    EXPECT_EQ(decode_dump(compile(xml), 0x0A), expected) << xml;
  }
}

}  // namespace
