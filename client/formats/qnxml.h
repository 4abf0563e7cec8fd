// The document model every structured document of the client is held in, and the XML
// parser that fills it.
//
// A document (`xml_struct`) owns a flat list of nodes in document order. Each node knows its
// parent (the element that was innermost open when the node was made); attributes hang off
// their element; character data and CDATA become pseudo-elements named "t_inline" with one
// attribute "t_inline" that holds the text. Two producers fill the model (qn_xml_process
// below and the WBXML decoder); consumers only read it and hand it to free_xml_struct.
//
// Ownership: every string and record reachable from a document comes from the client's
// tracked allocator (mem_alloc, zero-filled) and belongs to the document. The xml_struct
// record itself belongs to whoever allocated it (zero-filled); free_xml_struct empties it but
// never releases it.
#pragma once

#include <cstdint>
#include <string>

// One attribute of an element, in the order written.
struct xml_attr {
  char* name;       // narrow, as written
  char16_t* value;  // UTF-16, after entity decoding (converted from Windows-1252)
  xml_attr* next;   // next attribute of the same element
};

// One element (start tag or empty element) or one run of character data.
struct xml_node {
  char* tag_name;         // narrow, case kept; "t_inline" for character data and CDATA
  int32_t index;          // 0 for the first node, each following node one more
  xml_node* parent;       // innermost open element at creation; NULL for the root element
  xml_attr* attributes;   // NULL when the element has none
  xml_node* next;         // next node in document order
};

// The document.
struct xml_struct {
  char16_t* url;           // optional copy of the producer's first string
  int32_t url_len;         // its length in characters; 0 when absent
  char16_t* post;          // optional copy of the producer's second string
  int32_t post_len;        // its length in characters; 0 when absent
  xml_node* xml_root;      // first node of the document-order list
  uint32_t public_id;      // WBXML public identifier (WBXML decoder only)
  uint32_t wbxml_version;  // WBXML version byte (WBXML decoder only)
  uint32_t charset;        // WBXML character set number (WBXML decoder only)
  char* encoding;          // "encoding=" value of the XML prolog (XML parser only)
};

// Character-data pseudo-element name and its single attribute's name.
inline constexpr char kXmlInlineTag[] = "t_inline";

// ---- Release (qn_xml_free) -----------------------------------------------------------------
// Releases what the document owns and leaves it empty: url when url_len > 0, post when
// post_len > 0, encoding, then every node in list order (its attributes: name, value, record;
// then tag_name; then the node). Every released field is cleared, so a second call, a call on
// a document left by a failed parse, and NULL are all harmless.
void free_xml_struct(xml_struct* document);
// Releases a node list from `node` onward (each node with its attributes).
void free_xml_node_list(xml_node* node);
// Releases an attribute list (name, value, record, in order).
void free_xml_attr_list(xml_attr* attr);

// ---- Construction (qn_xml_build) -----------------------------------------------------------
// Every producer of the model (the XML parser, the WBXML decoder and the session engine's
// reply tree) makes its nodes and attributes with these two functions, so a document is
// built one way only.
//
// A node list being built in document order: `head` points at where the first node goes
// (a document's xml_root, or a producer's own pointer), `last` is the newest node (NULL
// while the list is empty).
struct xml_node_chain {
  xml_node** head;
  xml_node* last;
};

// Appends a new node: tag_name is taken over (a tracked string, released here when the node
// cannot be made), parent as given, index one more than the last node's (0 for the first).
// NULL when tag_name is NULL or memory runs out; nothing is appended then.
xml_node* xml_chain_append(xml_node_chain* chain, char* tag_name, xml_node* parent);

// Appends a new attribute at **tail and moves *tail to its next link; name and value are
// taken over (tracked strings, released here when the attribute cannot be made). NULL when
// either is NULL or memory runs out; nothing is appended then.
xml_attr* xml_attr_append(xml_attr*** tail, char* name, char16_t* value);

// ---- Parser (qnxml) ------------------------------------------------------------------------
// Status codes of qn_xml_process (besides 1 for success and the shared -2000/-2001/-2002).
constexpr int kXmlErrEmptyInput = -2009;      // length of 0 or less
constexpr int kXmlErrAttribute = -2021;       // attribute syntax
constexpr int kXmlErrEndTagMismatch = -2022;  // end tag differs from the innermost open element
constexpr int kXmlErrPi = -2023;              // processing instruction without "?>"
constexpr int kXmlErrStructure = -2024;       // comments, memory in normalisation, content placement
constexpr int kXmlErrDeclaration = -2025;     // leading "<!" declaration without '>'
constexpr int kXmlErrDuplicateAttr = -2026;   // attribute name repeated in one tag
constexpr int kXmlErrSecondRoot = -2027;      // a second top-level element
constexpr int kXmlErrSyntax = -2028;          // tags, names, nesting

// A status of qn_xml_process in words: "-2022 end tag differs from the innermost open
// element" (shared codes as common/result_text.h gives them).
std::string xml_result_text(int status);

// Parses `length` bytes of `buffer` (Windows-1252 text, need not be terminated; the text ends
// at its first zero byte) into `document`, which must be zero-filled. url/post (optional, with
// their lengths in characters) are copied into the document on success. `name` is a caller's
// label and is not used. When `style_out` is given and the text holds a style element with a
// comment inside, *style_out receives a new tracked string with the comment's text (the
// caller's to mem_free). Returns 1 when the whole text was consumed with every element
// closed, else a negative status; on failure the document is left empty. Either way the
// caller releases the document with free_xml_struct.
int qn_xml_process(const char* buffer, int32_t length, const char16_t* url, int32_t url_length,
                   const char16_t* post, int32_t post_length, xml_struct* document,
                   const char16_t* name, char** style_out);
