// Token tables of the WAP document types the WBXML decoder knows, by public identifier and
// code page.
//
// Texts are those of the published token assignments. A tag entry is the element name; an
// attribute-start entry is the attribute name alone or the name followed by '="' and the
// value prefix the token stands for ("href=\"https://www."); a value entry is the text the
// token stands for. Every lookup returns a static string, or NULL for an empty slot or a
// document type / code page without a table.
#pragma once

#include <cstdint>

// Public identifiers with tables.
constexpr uint32_t kWbxmlPublicWml10 = 0x02;
constexpr uint32_t kWbxmlPublicWml11 = 0x04;
constexpr uint32_t kWbxmlPublicSi10 = 0x05;
constexpr uint32_t kWbxmlPublicSl10 = 0x06;
constexpr uint32_t kWbxmlPublicCo10 = 0x07;
constexpr uint32_t kWbxmlPublicChannel11 = 0x08;
constexpr uint32_t kWbxmlPublicWml12 = 0x09;
constexpr uint32_t kWbxmlPublicWml13 = 0x0A;
constexpr uint32_t kWbxmlPublicProv10 = 0x0B;
constexpr uint32_t kWbxmlPublicWtaWml12 = 0x0C;
constexpr uint32_t kWbxmlPublicChannel12 = 0x0D;

// Tag name for a tag code (the low 6 bits of a tag token).
const char* wbxml_tag_text(uint32_t public_id, uint32_t code_page, unsigned code);
// Attribute-start text for a token below 0x80.
const char* wbxml_attr_start_text(uint32_t public_id, uint32_t code_page, unsigned code);
// Attribute-value text for a token from 0x80 on.
const char* wbxml_attr_value_text(uint32_t public_id, uint32_t code_page, unsigned code);
