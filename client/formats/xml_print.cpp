// Node-list listing shared by the inspection tools.
#include "client/formats/xml_print.h"

#include "platform/text.h"

namespace {

std::string narrow_utf8(const char* text) {
  return plat::utf16_to_utf8(plat::cp1252_to_utf16(text == nullptr ? "" : text));
}

}  // namespace

void print_xml_escaped(const std::string& utf8, FILE* out) {
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': std::fputs("\\\"", out); break;
      case '\\': std::fputs("\\\\", out); break;
      case '\n': std::fputs("\\n", out); break;
      case '\r': std::fputs("\\r", out); break;
      case '\t': std::fputs("\\t", out); break;
      default:
        if (c < 0x20 || c == 0x7F) std::fprintf(out, "\\x%02x", c);
        else std::fputc(c, out);
    }
  }
}

void print_xml_nodes(const xml_struct& document, const char* indent, FILE* out) {
  for (const xml_node* n = document.xml_root; n != nullptr; n = n->next) {
    std::fprintf(out, "%s%d %s parent=%d", indent, n->index, narrow_utf8(n->tag_name).c_str(),
                 n->parent == nullptr ? -1 : n->parent->index);
    for (const xml_attr* a = n->attributes; a != nullptr; a = a->next) {
      std::fprintf(out, " %s=\"", narrow_utf8(a->name).c_str());
      print_xml_escaped(plat::utf16_to_utf8(a->value == nullptr ? u"" : a->value), out);
      std::fputc('"', out);
    }
    std::fputc('\n', out);
  }
}
