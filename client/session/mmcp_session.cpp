#include "client/session/mmcp_session.h"

#include <cstdint>

#include "client/session/mmcp_exchange.h"
#include "client/support/utils.h"

namespace {

int g_session_open = 0;
int g_session_counter = 1;

}  // namespace

void mmcp_open_session() {
  g_session_open = 1;
  if (g_session_counter < INT32_MAX) ++g_session_counter;  // a server's huge mmcID stays the largest
  log_message(0, kLogTrace, "initialize_mmcp_session");
}

bool mmcp_session_is_open() { return g_session_open != 0; }
int mmcp_session_counter() { return g_session_counter; }
void mmcp_set_session_counter(int counter) { g_session_counter = counter; }

void disconnect_mmcp_session() {
  g_session_open = 0;
  mmcp_forget_nai_user_name();
  if (mmcp_http_handle_open()) {
    log_message(0, kLogTrace, "freeing the http handle");
    mmcp_release_http_handle();
  }
}
