// Token tables of the WAP document types (WML, SI, SL, CO, Channel, Provisioning, WTA-WML).
#include "client/formats/wbxml_tables.h"

#include <array>
#include <cstddef>

namespace {

struct Token {
  unsigned code;
  const char* text;
};

// WML 1.3 (covers WML 1.0 to 1.3): tags, code page 0.
constexpr Token kWmlTags[] = {
    {0x1B, "pre"},
    {0x1C, "a"},
    {0x1D, "td"},
    {0x1E, "tr"},
    {0x1F, "table"},
    {0x20, "p"},
    {0x21, "postfield"},
    {0x22, "anchor"},
    {0x23, "access"},
    {0x24, "b"},
    {0x25, "big"},
    {0x26, "br"},
    {0x27, "card"},
    {0x28, "do"},
    {0x29, "em"},
    {0x2A, "fieldset"},
    {0x2B, "go"},
    {0x2C, "head"},
    {0x2D, "i"},
    {0x2E, "img"},
    {0x2F, "input"},
    {0x30, "meta"},
    {0x31, "noop"},
    {0x32, "prev"},
    {0x33, "onevent"},
    {0x34, "optgroup"},
    {0x35, "option"},
    {0x36, "refresh"},
    {0x37, "select"},
    {0x38, "small"},
    {0x39, "strong"},
    {0x3B, "template"},
    {0x3C, "timer"},
    {0x3D, "u"},
    {0x3E, "setvar"},
    {0x3F, "wml"},
};

// WML 1.3 attribute starts, code page 0.
constexpr Token kWmlAttrStarts[] = {
    {0x05, "accept-charset"},
    {0x06, "align=\"bottom"},
    {0x07, "align=\"center"},
    {0x08, "align=\"left"},
    {0x09, "align=\"middle"},
    {0x0A, "align=\"right"},
    {0x0B, "align=\"top"},
    {0x0C, "alt"},
    {0x0D, "content"},
    {0x0F, "domain"},
    {0x10, "emptyok=\"false"},
    {0x11, "emptyok=\"true"},
    {0x12, "format"},
    {0x13, "height"},
    {0x14, "hspace"},
    {0x15, "ivalue"},
    {0x16, "iname"},
    {0x18, "label"},
    {0x19, "localsrc"},
    {0x1A, "maxlength"},
    {0x1B, "method=\"get"},
    {0x1C, "method=\"post"},
    {0x1D, "mode=\"nowrap"},
    {0x1E, "mode=\"wrap"},
    {0x1F, "multiple=\"false"},
    {0x20, "multiple=\"true"},
    {0x21, "name"},
    {0x22, "newcontext=\"false"},
    {0x23, "newcontext=\"true"},
    {0x24, "onpick"},
    {0x25, "onenterbackward"},
    {0x26, "onenterforward"},
    {0x27, "ontimer"},
    {0x28, "optional=\"false"},
    {0x29, "optional=\"true"},
    {0x2A, "path"},
    {0x2E, "scheme"},
    {0x2F, "sendreferer=\"false"},
    {0x30, "sendreferer=\"true"},
    {0x31, "size"},
    {0x32, "src"},
    {0x33, "ordered=\"true"},
    {0x34, "ordered=\"false"},
    {0x35, "tabindex"},
    {0x36, "title"},
    {0x37, "type"},
    {0x38, "type=\"accept"},
    {0x39, "type=\"delete"},
    {0x3A, "type=\"help"},
    {0x3B, "type=\"password"},
    {0x3C, "type=\"onpick"},
    {0x3D, "type=\"onenterbackward"},
    {0x3E, "type=\"onenterforward"},
    {0x3F, "type=\"ontimer"},
    {0x45, "type=\"options"},
    {0x46, "type=\"prev"},
    {0x47, "type=\"reset"},
    {0x48, "type=\"text"},
    {0x49, "type=\"vnd."},
    {0x4A, "href"},
    {0x4B, "href=\"http://"},
    {0x4C, "href=\"https://"},
    {0x4D, "value"},
    {0x4E, "vspace"},
    {0x4F, "width"},
    {0x50, "xml:lang"},
    {0x52, "align"},
    {0x53, "columns"},
    {0x54, "class"},
    {0x55, "id"},
    {0x56, "forua=\"false"},
    {0x57, "forua=\"true"},
    {0x58, "src=\"http://"},
    {0x59, "src=\"https://"},
    {0x5A, "http-equiv"},
    {0x5B, "http-equiv=\"Content-Type"},
    {0x5C, "content=\"application/vnd.wap.wmlc;charset="},
    {0x5D, "http-equiv=\"Expires"},
    {0x5E, "accesskey"},
    {0x5F, "enctype"},
    {0x60, "enctype=\"application/x-www-form-urlencoded"},
    {0x61, "enctype=\"multipart/form-data"},
    {0x62, "xml:space=\"preserve"},
    {0x63, "xml:space=\"default"},
    {0x64, "cache-control=\"no-cache"},
};

// WML 1.3 attribute values; SI, SL, CO, Channel and WTA-WML use them too.
constexpr Token kWmlValues[] = {
    {0x85, ".com/"},
    {0x86, ".edu/"},
    {0x87, ".net/"},
    {0x88, ".org/"},
    {0x89, "accept"},
    {0x8A, "bottom"},
    {0x8B, "clear"},
    {0x8C, "delete"},
    {0x8D, "help"},
    {0x8E, "http://"},
    {0x8F, "http://www."},
    {0x90, "https://"},
    {0x91, "https://www."},
    {0x93, "middle"},
    {0x94, "nowrap"},
    {0x95, "onpick"},
    {0x96, "onenterbackward"},
    {0x97, "onenterforward"},
    {0x98, "ontimer"},
    {0x99, "options"},
    {0x9A, "password"},
    {0x9B, "reset"},
    {0x9D, "text"},
    {0x9E, "top"},
    {0x9F, "unknown"},
    {0xA0, "wrap"},
    {0xA1, "www."},
};

// Service Indication 1.0.
constexpr Token kSiTags[] = {
    {0x05, "si"},
    {0x06, "indication"},
    {0x07, "info"},
    {0x08, "item"},
};

// Service Indication 1.0 attribute starts.
constexpr Token kSiAttrStarts[] = {
    {0x05, "action=\"signal-none"},
    {0x06, "action=\"signal-low"},
    {0x07, "action=\"signal-medium"},
    {0x08, "action=\"signal-high"},
    {0x09, "action=\"delete"},
    {0x0A, "created"},
    {0x0B, "href"},
    {0x0C, "href=\"http://"},
    {0x0D, "href=\"http://www."},
    {0x0E, "href=\"https://"},
    {0x0F, "href=\"https://www."},
    {0x10, "si-expires"},
    {0x11, "si-id"},
    {0x12, "class"},
};

// Service Loading 1.0.
constexpr Token kSlTags[] = {
    {0x05, "sl"},
};

// Service Loading 1.0 attribute starts.
constexpr Token kSlAttrStarts[] = {
    {0x05, "action=\"execute-low"},
    {0x06, "action=\"execute-high"},
    {0x07, "action=\"cache"},
    {0x08, "href"},
    {0x09, "href=\"http://"},
    {0x0A, "href=\"http://www."},
    {0x0B, "href=\"https://"},
    {0x0C, "href=\"https://www."},
};

// Cache Operation 1.0.
constexpr Token kCoTags[] = {
    {0x05, "co"},
    {0x06, "invalidate-object"},
    {0x07, "invalidate-service"},
};

// Cache Operation 1.0 attribute starts.
constexpr Token kCoAttrStarts[] = {
    {0x05, "uri"},
    {0x06, "uri=\"http://"},
    {0x07, "uri=\"http://www."},
    {0x08, "uri=\"https://"},
    {0x09, "uri=\"https://www."},
};

// Channel 1.1 and 1.2.
constexpr Token kChannelTags[] = {
    {0x05, "channel"},
    {0x06, "title"},
    {0x07, "abstract"},
    {0x08, "resource"},
};

// Channel 1.1 attribute starts.
constexpr Token kChannel11AttrStarts[] = {
    {0x05, "maxspace"},
    {0x06, "base"},
    {0x07, "href"},
    {0x08, "href=\"http://"},
    {0x09, "href=\"https://"},
    {0x0A, "lastmod"},
    {0x0B, "etag"},
    {0x0C, "md5"},
    {0x0D, "success"},
    {0x0E, "success=\"http://"},
    {0x0F, "success=\"https://"},
    {0x10, "failure"},
    {0x11, "failure=\"http://"},
    {0x12, "failure=\"https://"},
    {0x13, "EventId"},
};

// Channel 1.2 attribute starts.
constexpr Token kChannel12AttrStarts[] = {
    {0x05, "maxspace"},
    {0x06, "base"},
    {0x07, "href"},
    {0x08, "href=\"http://"},
    {0x09, "href=\"https://"},
    {0x0A, "lastmod"},
    {0x0B, "etag"},
    {0x0C, "md5"},
    {0x0D, "success"},
    {0x0E, "success=\"http://"},
    {0x0F, "success=\"https://"},
    {0x10, "failure"},
    {0x11, "failure=\"http://"},
    {0x12, "failure=\"https://"},
    {0x13, "eventid"},
    {0x14, "eventid=\"wtaev-"},
    {0x15, "channelid"},
    {0x16, "useraccessible"},
};

// Provisioning 1.0, code page 0.
constexpr Token kProvTags[] = {
    {0x05, "wap-provisioningdoc"},
    {0x06, "characteristic"},
    {0x07, "parm"},
};

// Provisioning 1.0 attribute starts, code page 0 (with the later OMA additions).
constexpr Token kProvAttrStarts[] = {
    {0x05, "name"},
    {0x06, "value"},
    {0x07, "name=\"NAME"},
    {0x08, "name=\"NAP-ADDRESS"},
    {0x09, "name=\"NAP-ADDRTYPE"},
    {0x0A, "name=\"CALLTYPE"},
    {0x0B, "name=\"VALIDUNTIL"},
    {0x0C, "name=\"AUTHTYPE"},
    {0x0D, "name=\"AUTHNAME"},
    {0x0E, "name=\"AUTHSECRET"},
    {0x0F, "name=\"LINGER"},
    {0x10, "name=\"BEARER"},
    {0x11, "name=\"NAPID"},
    {0x12, "name=\"COUNTRY"},
    {0x13, "name=\"NETWORK"},
    {0x14, "name=\"INTERNET"},
    {0x15, "name=\"PROXY-ID"},
    {0x16, "name=\"PROXY-PROVIDER-ID"},
    {0x17, "name=\"DOMAIN"},
    {0x18, "name=\"PROVURL"},
    {0x19, "name=\"PXAUTH-TYPE"},
    {0x1A, "name=\"PXAUTH-ID"},
    {0x1B, "name=\"PXAUTH-PW"},
    {0x1C, "name=\"STARTPAGE"},
    {0x1D, "name=\"BASAUTH-ID"},
    {0x1E, "name=\"BASAUTH-PW"},
    {0x1F, "name=\"PUSHENABLED"},
    {0x20, "name=\"PXADDR"},
    {0x21, "name=\"PXADDRTYPE"},
    {0x22, "name=\"TO-NAPID"},
    {0x23, "name=\"PORTNBR"},
    {0x24, "name=\"SERVICE"},
    {0x25, "name=\"LINKSPEED"},
    {0x26, "name=\"DNLINKSPEED"},
    {0x27, "name=\"LOCAL-ADDR"},
    {0x28, "name=\"LOCAL-ADDRTYPE"},
    {0x29, "name=\"CONTEXT-ALLOW"},
    {0x2A, "name=\"TRUST"},
    {0x2B, "name=\"MASTER"},
    {0x2C, "name=\"SID"},
    {0x2D, "name=\"SOC"},
    {0x2E, "name=\"WSP-VERSION"},
    {0x2F, "name=\"PHYSICAL-PROXY-ID"},
    {0x30, "name=\"CLIENT-ID"},
    {0x31, "name=\"DELIVERY-ERR-SDU"},
    {0x32, "name=\"DELIVERY-ORDER"},
    {0x33, "name=\"TRAFFIC-CLASS"},
    {0x34, "name=\"MAX-SDU-SIZE"},
    {0x35, "name=\"MAX-BITRATE-UPLINK"},
    {0x36, "name=\"MAX-BITRATE-DNLINK"},
    {0x37, "name=\"RESIDUAL-BER"},
    {0x38, "name=\"SDU-ERROR-RATIO"},
    {0x39, "name=\"TRAFFIC-HANDL-PRIO"},
    {0x3A, "name=\"TRANSFER-DELAY"},
    {0x3B, "name=\"GUARANTEED-BITRATE-UPLINK"},
    {0x3C, "name=\"GUARANTEED-BITRATE-DNLINK"},
    {0x3D, "name=\"PXADDR-FQDN"},
    {0x3E, "name=\"PROXY-PW"},
    {0x3F, "name=\"PPGAUTH-TYPE"},
    {0x45, "version"},
    {0x46, "version=\"1.0"},
    {0x47, "name=\"PULLENABLED"},
    {0x48, "name=\"DNS-ADDR"},
    {0x49, "name=\"MAX-NUM-RETRY"},
    {0x4A, "name=\"FIRST-RETRY-TIMEOUT"},
    {0x4B, "name=\"REREG-THRESHOLD"},
    {0x4C, "name=\"T-BIT"},
    {0x4E, "name=\"AUTH-ENTITY"},
    {0x4F, "name=\"SPI"},
    {0x50, "type"},
    {0x51, "type=\"PXLOGICAL"},
    {0x52, "type=\"PXPHYSICAL"},
    {0x53, "type=\"PORT"},
    {0x54, "type=\"VALIDITY"},
    {0x55, "type=\"NAPDEF"},
    {0x56, "type=\"BOOTSTRAP"},
    {0x57, "type=\"VENDORCONFIG"},
    {0x58, "type=\"CLIENTIDENTITY"},
    {0x59, "type=\"PXAUTHINFO"},
    {0x5A, "type=\"NAPAUTHINFO"},
    {0x5B, "type=\"ACCESS"},
};

// Provisioning 1.0 attribute values, code page 0 (with the later OMA additions).
constexpr Token kProvValues[] = {
    {0x85, "IPV4"},
    {0x86, "IPV6"},
    {0x87, "E164"},
    {0x88, "ALPHA"},
    {0x89, "APN"},
    {0x8A, "SCODE"},
    {0x8B, "TETRA-ITSI"},
    {0x8C, "MAN"},
    {0x90, "ANALOG-MODEM"},
    {0x91, "V.120"},
    {0x92, "V.110"},
    {0x93, "X.31"},
    {0x94, "BIT-TRANSPARENT"},
    {0x95, "DIRECT-ASYNCHRONOUS-DATA-SERVICE"},
    {0x9A, "PAP"},
    {0x9B, "CHAP"},
    {0x9C, "HTTP-BASIC"},
    {0x9D, "HTTP-DIGEST"},
    {0x9E, "WTLS-SS"},
    {0x9F, "MD5"},
    {0xA2, "GSM-USSD"},
    {0xA3, "GSM-SMS"},
    {0xA4, "ANSI-136-GUTS"},
    {0xA5, "IS-95-CDMA-SMS"},
    {0xA6, "IS-95-CDMA-CSD"},
    {0xA7, "IS-95-CDMA-PACKET"},
    {0xA8, "ANSI-136-CSD"},
    {0xA9, "ANSI-136-GPRS"},
    {0xAA, "GSM-CSD"},
    {0xAB, "GSM-GPRS"},
    {0xAC, "AMPS-CDPD"},
    {0xAD, "PDC-CSD"},
    {0xAE, "PDC-PACKET"},
    {0xAF, "IDEN-SMS"},
    {0xB0, "IDEN-CSD"},
    {0xB1, "IDEN-PACKET"},
    {0xB2, "FLEX/REFLEX"},
    {0xB3, "PHS-SMS"},
    {0xB4, "PHS-CSD"},
    {0xB5, "TETRA-SDS"},
    {0xB6, "TETRA-PACKET"},
    {0xB7, "ANSI-136-GHOST"},
    {0xB8, "MOBITEX-MPAK"},
    {0xB9, "CDMA2000-1X-SIMPLE-IP"},
    {0xBA, "CDMA2000-1X-MOBILE-IP"},
    {0xC5, "AUTOBAUDING"},
    {0xCA, "CL-WSP"},
    {0xCB, "CO-WSP"},
    {0xCC, "CL-SEC-WSP"},
    {0xCD, "CO-SEC-WSP"},
    {0xCE, "CL-SEC-WTA"},
    {0xCF, "CO-SEC-WTA"},
    {0xD0, "OTA-HTTP-TO"},
    {0xD1, "OTA-HTTP-TLS-TO"},
    {0xD2, "OTA-HTTP-PO"},
    {0xD3, "OTA-HTTP-TLS-PO"},
    {0xE0, "AAA"},
    {0xE1, "HA"},
};

// WTA-WML 1.2, code page 1.
constexpr Token kWtaTags[] = {
    {0x3F, "wta-wml"},
};

// WTA-WML 1.2 attribute starts, code page 1.
constexpr Token kWtaAttrStarts[] = {
    {0x05, "href=\"wtai://"},
    {0x06, "href=\"wtai://wp/mc;"},
    {0x07, "href=\"wtai://wp/sd;"},
    {0x08, "href=\"wtai://wp/ap;"},
    {0x09, "href=\"wtai://ms/ec;"},
    {0x10, "type=\"wtaev-"},
    {0x11, "type=\"wtaev-cc"},
    {0x12, "type=\"wtaev-cc/ic"},
    {0x13, "type=\"wtaev-cc/cl"},
    {0x14, "type=\"wtaev-cc/co"},
    {0x15, "type=\"wtaev-cc/oc"},
    {0x16, "type=\"wtaev-cc/cc"},
    {0x17, "type=\"wtaev-cc/dtmf"},
    {0x20, "type=\"wtaev-nt/"},
    {0x21, "type=\"wtaev-nt/it"},
    {0x22, "type=\"wtaev-nt/st"},
    {0x30, "type=\"wtaev-pb/"},
    {0x38, "type=\"wtaev-lg/"},
    {0x50, "type=\"wtaev-ms/"},
    {0x51, "type=\"wtaev-ms/ns"},
    {0x58, "type=\"wtaev-gsm/"},
    {0x59, "type=\"wtaev-gsm/ru"},
    {0x5A, "type=\"wtaev-gsm/ch"},
    {0x5B, "type=\"wtaev-gsm/ca"},
    {0x60, "type=\"wtaev-pdc"},
    {0x68, "type=\"wtaev-ansi136"},
    {0x69, "type=\"wtaev-ansi136/ia"},
    {0x6A, "type=\"wtaev-ansi136/if"},
    {0x70, "type=\"wtaev-cdma/"},
};

// Direct-indexed copies of the lists above, built at compile time: tags by their 6-bit
// code, attribute starts by token 0x00 to 0x7F, values by token 0x80 to 0xFF.
template <size_t N, size_t M>
constexpr std::array<const char*, N> index(const Token (&tokens)[M], unsigned base) {
  std::array<const char*, N> table{};
  for (const Token& t : tokens) table[t.code - base] = t.text;
  return table;
}

struct DocumentTables {
  std::array<const char*, 64> tags;
  std::array<const char*, 128> attr_starts;
  std::array<const char*, 128> values;
};

template <size_t A, size_t B, size_t C>
constexpr DocumentTables tables(const Token (&tags)[A], const Token (&starts)[B],
                                const Token (&values)[C]) {
  return {index<64>(tags, 0), index<128>(starts, 0), index<128>(values, 0x80)};
}

constexpr DocumentTables kWml = tables(kWmlTags, kWmlAttrStarts, kWmlValues);
constexpr DocumentTables kSi = tables(kSiTags, kSiAttrStarts, kWmlValues);
constexpr DocumentTables kSl = tables(kSlTags, kSlAttrStarts, kWmlValues);
constexpr DocumentTables kCo = tables(kCoTags, kCoAttrStarts, kWmlValues);
constexpr DocumentTables kChannel11 = tables(kChannelTags, kChannel11AttrStarts, kWmlValues);
constexpr DocumentTables kChannel12 = tables(kChannelTags, kChannel12AttrStarts, kWmlValues);
constexpr DocumentTables kProv = tables(kProvTags, kProvAttrStarts, kProvValues);
constexpr DocumentTables kWta = tables(kWtaTags, kWtaAttrStarts, kWmlValues);
// A document type without tables still resolves attribute values through the WML table.
constexpr DocumentTables kValuesOnly = {{}, {}, index<128>(kWmlValues, 0x80)};

// Code page 1 always means the WTA-WML page; a WTA-WML document on page 0 is WML 1.3.
// Other pages have no tables at all.
const DocumentTables* tables_for(uint32_t public_id, uint32_t code_page) {
  if (code_page == 1) return &kWta;
  if (code_page != 0) return nullptr;
  switch (public_id) {
    case kWbxmlPublicWml10:
    case kWbxmlPublicWml11:
    case kWbxmlPublicWml12:
    case kWbxmlPublicWml13:
    case kWbxmlPublicWtaWml12:
      return &kWml;
    case kWbxmlPublicSi10:
      return &kSi;
    case kWbxmlPublicSl10:
      return &kSl;
    case kWbxmlPublicCo10:
      return &kCo;
    case kWbxmlPublicChannel11:
      return &kChannel11;
    case kWbxmlPublicChannel12:
      return &kChannel12;
    case kWbxmlPublicProv10:
      return &kProv;
    default:
      return &kValuesOnly;
  }
}

}  // namespace

const char* wbxml_tag_text(uint32_t public_id, uint32_t code_page, unsigned code) {
  const DocumentTables* t = tables_for(public_id, code_page);
  return t != nullptr && code < 64 ? t->tags[code] : nullptr;
}

const char* wbxml_attr_start_text(uint32_t public_id, uint32_t code_page, unsigned code) {
  const DocumentTables* t = tables_for(public_id, code_page);
  return t != nullptr && code < 128 ? t->attr_starts[code] : nullptr;
}

const char* wbxml_attr_value_text(uint32_t public_id, uint32_t code_page, unsigned code) {
  const DocumentTables* t = tables_for(public_id, code_page);
  return t != nullptr && code >= 0x80 && code < 0x100 ? t->values[code - 0x80] : nullptr;
}
