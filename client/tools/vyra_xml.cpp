// vyra-xml: shows what the client makes of a document or a multipart body. The usage text
// below is the manual.
#include <cstdio>
#include <cstring>
#include <string>

#include "client/formats/http_parse.h"
#include "client/formats/qnxml.h"
#include "client/formats/xml_print.h"
#include "client/tools/tool_input.h"
#include "common/result_text.h"
#include "common/tracked_memory.h"
#include "platform/text.h"
#include "platform/tool_args.h"

namespace {

constexpr const char* kName = "vyra-xml";

constexpr const char* kUsage =
    "usage: vyra-xml [--multipart CONTENT-TYPE] FILE\n"
    "Shows what the client's XML parser makes of a document (an MMC command document, a\n"
    "text Service Loading push), or with --multipart what its multipart splitter makes of\n"
    "a body. FILE - is the standard input.\n"
    "\n"
    "Output (standard output):\n"
    "  one line per node: index, tag, parent=N (-1 for none), then the attributes as\n"
    "  name=\"value\" in UTF-8 (backslash escapes for '\"', '\\' and control bytes);\n"
    "  character data is a t_inline node with a t_inline attribute\n"
    "  --multipart: \"part N: L bytes\", its header lines, \"attachment\" names, then the\n"
    "  nodes of an XML part or the first 64 bytes of any other\n"
    "A refused document prints nothing there; the parser's code and its meaning go to the\n"
    "standard error: \"vyra-xml: doc.xml: -2022 end tag differs from the innermost open\n"
    "element\".\n"
    "\n"
    "Options:\n"
    "  --multipart CONTENT-TYPE   split FILE at the boundary of CONTENT-TYPE first\n"
    "  -h, --help                 this text\n"
    "  --version                  the version\n"
    "\n"
    "Exit status:\n"
    "  0  parsed\n"
    "  1  the document (or a part, or the body) was refused, or FILE cannot be read\n"
    "  2  bad usage\n"
    "\n"
    "Examples:\n"
    "  vyra-xml reply.xml\n"
    "  printf '<a><b/></a>' | vyra-xml -\n"
    "  vyra-xml --multipart 'multipart/related; boundary=\"sep\"' body.bin\n";

std::string narrow_utf8(const char* text) {
  return plat::utf16_to_utf8(plat::cp1252_to_utf16(text == nullptr ? "" : text));
}

std::string shown_name(const std::string& path) { return path == "-" ? "standard input" : path; }

// Parses and prints the node list; returns the parser's status (nothing printed unless 1).
int show_document(const char* data, size_t length, const char* indent) {
  xml_struct document{};
  int status = qn_xml_process(data, static_cast<int32_t>(length), nullptr, 0, nullptr, 0,
                              &document, nullptr, nullptr);
  if (status == 1) print_xml_nodes(document, indent);
  free_xml_struct(&document);
  return status;
}

int show_multipart(const std::string& path, const std::string& body, const char* content_type) {
  char* boundary = get_boundary(content_type);
  if (boundary == nullptr) return plat::tool_usage_error(kName, "no boundary in \"" + std::string(content_type) + "\"");
  MultipartPart* parts = nullptr;
  MultipartAttachment* attachments = nullptr;
  int status = split_multipart(body.data(), static_cast<int>(body.size()), boundary, &parts,
                               &attachments);
  MEM_FREE(boundary);
  if (status != 1)
    return plat::tool_failure(kName, shown_name(path) + ": multipart body refused: " + result_text(status, {}));
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
      int part_status = show_document(p->data, static_cast<size_t>(p->length), "  ");
      if (part_status != 1) {
        std::fflush(stdout);
        plat::tool_failure(kName, shown_name(path) + ": part " + std::to_string(index) + ": " +
                                      xml_result_text(part_status));
        result = 1;
      }
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

}  // namespace

int main(int argc, char** argv) {
  if (int rc = plat::tool_start(plat::ToolSpec{kName, kUsage}, argc, argv); rc != plat::kToolContinue) return rc;
  const char* content_type = nullptr;
  const char* path = nullptr;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (!options_end && a == "--") {
      options_end = true;
    } else if (!options_end && a == "--multipart") {
      if (i + 1 >= argc) return plat::tool_usage_error(kName, "--multipart needs a CONTENT-TYPE");
      content_type = argv[++i];
    } else if (int rc = plat::tool_take_file_operand(kName, argv[i], options_end, &path); rc != plat::kToolContinue) {
      return rc;
    }
  }
  if (path == nullptr) return plat::tool_usage_error(kName, "no FILE (- for the standard input)");

  std::string data;
  if (!read_tool_input(kName, path, &data)) return plat::kExitFailure;

  if (content_type != nullptr) return show_multipart(path, data, content_type);
  int status = show_document(data.data(), data.size(), "");
  if (status == 1) return plat::kExitOk;
  return plat::tool_failure(kName, shown_name(path) + ": " + xml_result_text(status));
}
