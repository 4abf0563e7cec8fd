// Release of the document model.
#include "client/formats/qnxml.h"

#include "common/tracked_memory.h"

void free_xml_attr_list(xml_attr* attr) {
  while (attr != nullptr) {
    xml_attr* next = attr->next;
    MEM_FREE(attr->name);
    MEM_FREE(attr->value);
    MEM_FREE(attr);
    attr = next;
  }
}

void free_xml_node_list(xml_node* node) {
  while (node != nullptr) {
    xml_node* next = node->next;
    free_xml_attr_list(node->attributes);
    MEM_FREE(node->tag_name);
    MEM_FREE(node);
    node = next;
  }
}

void free_xml_struct(xml_struct* document) {
  if (document == nullptr) return;
  if (document->url_len > 0) MEM_FREE(document->url);
  document->url = nullptr;
  document->url_len = 0;
  if (document->post_len > 0) MEM_FREE(document->post);
  document->post = nullptr;
  document->post_len = 0;
  MEM_FREE(document->encoding);
  document->encoding = nullptr;
  free_xml_node_list(document->xml_root);
  document->xml_root = nullptr;
}
