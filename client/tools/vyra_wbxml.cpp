// vyra-wbxml: shows what the client makes of a WBXML document (a captured push body). The
// usage text below is the manual.
#include <cstdio>
#include <cstring>
#include <string>

#include "client/formats/wbxml_decoder.h"
#include "client/formats/xml_print.h"
#include "client/tools/tool_input.h"
#include "common/tracked_memory.h"
#include "platform/tool_args.h"

namespace {

constexpr const char* kName = "vyra-wbxml";

constexpr const char* kUsage =
    "usage: vyra-wbxml FILE\n"
    "Decodes a WBXML document (the body of a WAP push: SL, SI, WML, ...) as the client does.\n"
    "FILE - is the standard input.\n"
    "\n"
    "Output (standard output): the decoder's text rendering (what the client writes to\n"
    "wbxml_push.txt: '&', '<', '>' and, in attribute values, '\"' escaped, characters from\n"
    "128 on as &#N;), a line \"--\", then the node list as vyra-xml prints it. A refused\n"
    "document prints nothing there; the decoder's code and its meaning go to the standard\n"
    "error: \"vyra-wbxml: push.slc: -1002 input ended inside the header, a token or a\n"
    "string\".\n"
    "\n"
    "Options:\n"
    "  -h, --help   this text\n"
    "  --version    the version\n"
    "\n"
    "Exit status:\n"
    "  0  decoded\n"
    "  1  the decoder refused the document, or FILE cannot be read\n"
    "  2  bad usage\n"
    "\n"
    "Examples:\n"
    "  vyra-wbxml push.slc\n"
    "  xml2wbxml -o sl.wbxml sl.xml && vyra-wbxml sl.wbxml      (xml2wbxml: libwbxml2-utils)\n";

}  // namespace

int main(int argc, char** argv) {
  if (int rc = plat::tool_start(plat::ToolSpec{kName, kUsage}, argc, argv); rc != plat::kToolContinue) return rc;
  const char* path = nullptr;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (!options_end && a == "--") {
      options_end = true;
    } else if (int rc = plat::tool_take_file_operand(kName, argv[i], options_end, &path); rc != plat::kToolContinue) {
      return rc;
    }
  }
  if (path == nullptr) return plat::tool_usage_error(kName, "no FILE (- for the standard input)");
  std::string data;
  if (!read_tool_input(kName, path, &data)) return plat::kExitFailure;

  xml_struct document{};
  char* rendering = nullptr;
  int status = wbxml_decode_document(reinterpret_cast<const unsigned char*>(data.data()),
                                     static_cast<int32_t>(data.size()), &document, &rendering);
  if (status == 1) {
    if (rendering != nullptr) std::fputs(rendering, stdout);
    std::printf("--\n");
    print_xml_nodes(document, "");
  }
  MEM_FREE(rendering);
  free_xml_struct(&document);
  if (status == 1) return plat::kExitOk;
  std::string shown = std::strcmp(path, "-") == 0 ? "standard input" : path;
  return plat::tool_failure(kName, shown + ": " + wbxml_result_text(status));
}
