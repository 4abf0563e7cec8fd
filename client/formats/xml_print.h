// The node-list listing of a document, as the inspection tools (vyra-xml, vyra-wbxml) print
// it: one line per node with its index, tag, "parent=" and the parent's index (-1 for none),
// then the attributes as name="value" in UTF-8, with backslash escapes for '"', '\' and
// control bytes.
#pragma once

#include <cstdio>
#include <string>

#include "client/formats/qnxml.h"

// Writes utf8 with the escapes above.
void print_xml_escaped(const std::string& utf8, FILE* out = stdout);
// Writes every node of the document, each line preceded by indent.
void print_xml_nodes(const xml_struct& document, const char* indent, FILE* out = stdout);
