#include "client/session/mmcp_request.h"

#include "common/tracked_memory.h"
#include "common/wrapper.h"

void clear_mmc_request(MmcRequest* request) {
  if (request == nullptr) return;
  request->status_uri = nullptr;
  request->post_data = nullptr;
  request->post_length = 0;
  request->response_body = nullptr;
  request->response_length = 0;
  request->content_type = nullptr;
  request->response_headers = nullptr;
  request->http_status = 0;
  request->extra_headers = nullptr;
  request->server = nullptr;
}

void free_mmc_request(MmcRequest* request) {
  if (request == nullptr) return;
  MEM_FREE(request->status_uri);
  request->status_uri = nullptr;
  MEM_FREE(request->post_data);
  request->post_data = nullptr;
  MEM_FREE(request->response_body);
  request->response_body = nullptr;
  MEM_FREE(request->content_type);
  request->content_type = nullptr;
  MEM_FREE(request->response_headers);
  request->response_headers = nullptr;
  for (MmcHeader* h = request->extra_headers; h != nullptr;) {
    MmcHeader* next = h->next;
    MEM_FREE(h->name);
    MEM_FREE(h->value);
    MEM_FREE(h);
    h = next;
  }
  request->extra_headers = nullptr;
  MEM_FREE(request->server);
  request->server = nullptr;
}

int mmc_request_add_header(MmcRequest* request, const char* name, const char* value) {
  auto* node = static_cast<MmcHeader*>(MEM_ALLOC(1, sizeof(MmcHeader)));
  if (node == nullptr) return kErrNoMemory;
  node->name = str_dup(name);
  node->value = str_dup(value);
  if (node->name == nullptr || node->value == nullptr) {
    MEM_FREE(node->name);
    MEM_FREE(node->value);
    MEM_FREE(node);
    return kErrNoMemory;
  }
  MmcHeader** tail = &request->extra_headers;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = node;
  return kOk;
}
