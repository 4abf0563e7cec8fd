// Construction of the document model, shared by every producer.
#include "client/formats/qnxml.h"

#include "common/tracked_memory.h"

xml_node* xml_chain_append(xml_node_chain* chain, char* tag_name, xml_node* parent) {
  if (tag_name == nullptr) return nullptr;
  auto* node = static_cast<xml_node*>(MEM_ALLOC(1, sizeof(xml_node)));
  if (node == nullptr) {
    MEM_FREE(tag_name);
    return nullptr;
  }
  node->tag_name = tag_name;
  node->parent = parent;
  if (chain->last == nullptr) {
    node->index = 0;
    *chain->head = node;
  } else {
    node->index = chain->last->index + 1;
    chain->last->next = node;
  }
  chain->last = node;
  return node;
}

xml_attr* xml_attr_append(xml_attr*** tail, char* name, char16_t* value) {
  auto* attr = name != nullptr && value != nullptr ? static_cast<xml_attr*>(MEM_ALLOC(1, sizeof(xml_attr)))
                                                   : nullptr;
  if (attr == nullptr) {
    MEM_FREE(name);
    MEM_FREE(value);
    return nullptr;
  }
  attr->name = name;
  attr->value = value;
  **tail = attr;
  *tail = &attr->next;
  return attr;
}
