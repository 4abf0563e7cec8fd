// Helpers shared by the document and push decoder tests: byte strings built by
// concatenation, and a one-line listing of a document model.
#pragma once

#include <string>
#include <vector>

#include "client/formats/qnxml.h"
#include "platform/text.h"

namespace doc_test {

using Bytes = std::vector<unsigned char>;

// Bytes followed by the text of s and its terminator.
inline Bytes operator+(Bytes a, const std::string& s) {
  a.insert(a.end(), s.begin(), s.end());
  a.push_back(0);
  return a;
}
inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline std::string utf8(const char16_t* wide) { return plat::utf16_to_utf8(wide == nullptr ? u"" : wide); }

// "index:tag^parent{name=value,...}" per node, space separated.
inline std::string dump(const xml_struct& doc) {
  std::string out;
  for (const xml_node* n = doc.xml_root; n != nullptr; n = n->next) {
    if (!out.empty()) out += ' ';
    out += std::to_string(n->index) + ":" + n->tag_name + "^" +
           std::to_string(n->parent == nullptr ? -1 : n->parent->index);
    if (n->attributes != nullptr) {
      out += '{';
      for (const xml_attr* a = n->attributes; a != nullptr; a = a->next) {
        out += a->name;
        out += '=';
        out += utf8(a->value);
        if (a->next != nullptr) out += ',';
      }
      out += '}';
    }
  }
  return out;
}

}  // namespace doc_test
