// Release of the multipart lists.
#include "client/formats/http_parse.h"
#include "common/tracked_memory.h"

void free_header_lines(MimeHeader* list) {
  while (list != nullptr) {
    MimeHeader* next = list->next;
    MEM_FREE(list->name);
    MEM_FREE(list->value);
    MEM_FREE(list);
    list = next;
  }
}

void free_parts(MultipartPart* list) {
  while (list != nullptr) {
    MultipartPart* next = list->next;
    MEM_FREE(list->data);
    MEM_FREE(list->content_type);
    free_header_lines(list->headers);
    MEM_FREE(list);
    list = next;
  }
}

void free_attachments(MultipartAttachment* list) {
  while (list != nullptr) {
    MultipartAttachment* next = list->next;
    MEM_FREE(list->file_name);
    MEM_FREE(list);
    list = next;
  }
}
