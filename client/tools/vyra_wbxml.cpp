// vyra-wbxml: shows what the client makes of a WBXML document (a captured push body).
//
//   vyra-wbxml FILE    decode FILE (or - for standard input); print the decoder's text
//                      rendering, then the node list as vyra-xml prints it, or the result
//                      code on failure
//
// Exit status: 0 decoded, 1 the decoder refused the document, 2 bad usage or unreadable file.
#include <cstdio>
#include <cstring>
#include <string>

#include "client/formats/wbxml_decoder.h"
#include "client/formats/xml_print.h"
#include "client/tools/tool_input.h"
#include "common/tracked_memory.h"

namespace {

int usage() {
  std::fputs("usage: vyra-wbxml FILE|-\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
    return usage();
  const char* path = argv[1];
  std::string data;
  if (!read_tool_input("vyra-wbxml", path, &data)) return 2;

  xml_struct document{};
  char* rendering = nullptr;
  int status = wbxml_decode_document(reinterpret_cast<const unsigned char*>(data.data()),
                                     static_cast<int32_t>(data.size()), &document, &rendering);
  if (rendering != nullptr) std::fputs(rendering, stdout);
  MEM_FREE(rendering);
  if (status == 1) {
    std::printf("--\n");
    print_xml_nodes(document, "");
  } else {
    std::printf("%d\n", status);
  }
  free_xml_struct(&document);
  return status == 1 ? 0 : 1;
}
