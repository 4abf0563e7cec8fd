// vyra-xml: shows what the client makes of a document.
//
//   vyra-xml FILE                             parse FILE (or - for standard input) and print
//                                             the node list, or the status code on failure
//   vyra-xml --multipart "CONTENT-TYPE" FILE  split FILE as a multipart body first and print
//                                             each part; XML parts are parsed and printed
//
// A node prints as: index, tag, "parent=" and the parent's index (-1 for none), then the
// attributes as name="value" in UTF-8 (backslash escapes for '"', '\' and control bytes).
// Exit status: 0 success, 1 the document (or body) was refused, 2 bad usage or unreadable file.
#include <cstdio>
#include <cstring>
#include <string>

#include "client/formats/http_parse.h"
#include "client/formats/qnxml.h"
#include "client/formats/xml_print.h"
#include "client/tools/tool_input.h"
#include "common/tracked_memory.h"
#include "platform/text.h"

namespace {

std::string narrow_utf8(const char* text) {
  return plat::utf16_to_utf8(plat::cp1252_to_utf16(text == nullptr ? "" : text));
}

// Parses and prints; returns the parser's status.
int show_document(const char* data, size_t length, const char* indent) {
  xml_struct document{};
  int status = qn_xml_process(data, static_cast<int32_t>(length), nullptr, 0, nullptr, 0,
                              &document, nullptr, nullptr);
  if (status == 1) print_xml_nodes(document, indent);
  else std::printf("%s%d\n", indent, status);
  free_xml_struct(&document);
  return status;
}

int show_multipart(const std::string& body, const char* content_type) {
  char* boundary = get_boundary(content_type);
  if (boundary == nullptr) {
    std::fprintf(stderr, "vyra-xml: no boundary in \"%s\"\n", content_type);
    return 1;
  }
  MultipartPart* parts = nullptr;
  MultipartAttachment* attachments = nullptr;
  int status = split_multipart(body.data(), static_cast<int>(body.size()), boundary, &parts,
                               &attachments);
  MEM_FREE(boundary);
  if (status != 1) {
    std::printf("%d\n", status);
    return 1;
  }
  int index = 0;
  int result = 0;
  for (const MultipartPart* p = parts; p != nullptr; p = p->next, ++index) {
    std::printf("part %d: %d bytes\n", index, p->length);
    for (const MimeHeader* h = p->headers; h != nullptr; h = h->next) {
      std::printf("  %s: ", narrow_utf8(h->name).c_str());
      print_xml_escaped(narrow_utf8(h->value));
      std::fputc('\n', stdout);
    }
    for (const MultipartAttachment* a = attachments; a != nullptr; a = a->next) {
      if (a->part != p) continue;
      std::printf("  attachment \"");
      print_xml_escaped(plat::utf16_to_utf8(a->file_name));
      std::printf("\"\n");
    }
    if (p->content_type != nullptr && std::strstr(p->content_type, "xml") != nullptr) {
      if (show_document(p->data, static_cast<size_t>(p->length), "  ") != 1) result = 1;
    } else {
      std::printf("  data \"");
      size_t shown = p->length < 64 ? static_cast<size_t>(p->length) : 64;
      print_xml_escaped(plat::utf16_to_utf8(plat::cp1252_to_utf16(std::string(p->data, shown))));
      std::printf("\"%s\n", shown < static_cast<size_t>(p->length) ? "..." : "");
    }
  }
  if (index == 0) std::printf("no parts\n");
  free_attachments(attachments);
  free_parts(parts);
  return result;
}

int usage() {
  std::fputs("usage: vyra-xml [--multipart CONTENT-TYPE] FILE|-\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* content_type = nullptr;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--multipart") == 0 && i + 1 < argc) content_type = argv[++i];
    else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return usage();
    else if (path == nullptr) path = argv[i];
    else return usage();
  }
  if (path == nullptr) return usage();

  std::string data;
  if (!read_tool_input("vyra-xml", path, &data)) return 2;

  if (content_type != nullptr) return show_multipart(data, content_type);
  return show_document(data.data(), data.size(), "") == 1 ? 0 : 1;
}
