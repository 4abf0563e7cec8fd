#include "client/vyraevent.h"

#include <cstring>
#include <mutex>

#include "client/support/utils.h"
#include "common/tracked_memory.h"
#include "platform/byte_order.h"
#include "platform/clock.h"
#include "platform/named_event.h"
#include "platform/sync.h"
#include "telephony/include/kova.h"

uint32_t g_events_handled = 0;
uint32_t g_events_failed = 0;

namespace {

constexpr uint32_t kCounterWrap = 65000;
constexpr uint32_t kQueueSemaphoreMax = 100000;
constexpr int32_t kMaxMessageBytes = 1024;  // payload of the bridge's message record

// The queue: head and tail under g_queue_mutex, counted by g_queue_semaphore. Both objects
// live as long as the process, so a thread that still uses them after shutdown finds them
// closed, never gone.
std::mutex g_queue_mutex;
plat::Semaphore g_queue_semaphore(0, kQueueSemaphoreMax);
event_node* g_head = nullptr;
event_node* g_tail = nullptr;

std::atomic<bool> g_terminate{false};
std::atomic<const event_thread_ops*> g_ops{nullptr};

}  // namespace

void event_queue_open(const event_thread_ops* ops) {
  g_ops = ops;
  g_terminate = false;
  g_queue_semaphore.reopen();
}

void event_queue_close() {
  g_queue_semaphore.close();
  g_terminate = true;
}

bool event_queue_closed() { return g_terminate; }

void signal_queue() { g_queue_semaphore.release(1); }

// ---- Queue ------------------------------------------------------------------------------

int insert_event(const vyra_event* event) {
  if (event == nullptr) {
    log_message(0, kLogTrace, "insert_event is NULL");
    return kErrMissingEvent;
  }
  log_message(0, kLogTrace, "insert_event is Valid");
  auto* node = static_cast<event_node*>(MEM_ALLOC(1, sizeof(event_node)));
  if (node == nullptr) {
    log_message(0, kLogTrace, "eventlistsizeMEMALLOCfail");
    return -2000;
  }
  node->type = event->type;
  node->length = event->length;
  if (event->length > 0) {
    log_message(0, kLogTrace, "new->e.event_length OK");
    node->data = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(event->length), 1));
    if (node->data == nullptr) {
      MEM_FREE(node);
      return -2000;
    }
    if (event->data != nullptr) std::memcpy(node->data, event->data, static_cast<size_t>(event->length));
  }
  std::lock_guard<std::mutex> guard(g_queue_mutex);
  if (g_tail == nullptr) {
    g_head = g_tail = node;
  } else {
    g_tail->next = node;
    g_tail = node;
  }
  return 0;
}

vyra_event* get_event() {
  std::lock_guard<std::mutex> guard(g_queue_mutex);
  event_node* node = g_head;
  if (node == nullptr) return nullptr;
  auto* event = static_cast<vyra_event*>(MEM_ALLOC(1, sizeof(vyra_event)));
  if (event == nullptr) return nullptr;
  event->type = node->type;
  event->length = node->length;
  // A zero-length event still gets a valid, empty buffer.
  event->data = static_cast<unsigned char*>(MEM_ALLOC(node->length > 0 ? static_cast<size_t>(node->length) : 0, 1));
  if (event->data == nullptr) {
    MEM_FREE(event);
    return nullptr;  // the node stays at the head
  }
  if (node->length > 0) std::memcpy(event->data, node->data, static_cast<size_t>(node->length));
  g_head = node->next;
  if (g_head == nullptr) g_tail = nullptr;
  MEM_FREE(node->data);
  MEM_FREE(node);
  return event;
}

void free_event(vyra_event* event) {
  if (event == nullptr) return;
  MEM_FREE(event->data);
  MEM_FREE(event);
}

int queued_event_count() {
  std::lock_guard<std::mutex> guard(g_queue_mutex);
  int n = 0;
  for (event_node* p = g_head; p != nullptr; p = p->next) ++n;
  return n;
}

// ---- Notification callback ---------------------------------------------------------------

int32_t vyra_notification_callback(uint32_t code, const void* data, uint32_t size, uint32_t user) {
  (void)user;
  return handle_notification(code, data, size);
}

int32_t handle_notification(uint32_t code, const void* data, uint32_t size) {
  (void)size;
  unsigned char* copy = nullptr;
  int32_t length = 0;
  if (data != nullptr) {
    // The record: a 32-bit little-endian length, then that many bytes (at most 1024).
    const auto* record = static_cast<const unsigned char*>(data);
    uint32_t declared = plat::get_le32(record);
    // A length past the record's payload area would read beyond it: refuse the message.
    if (declared > static_cast<uint32_t>(kMaxMessageBytes)) {
      log_message(0, kLogWarning, "message of size [%u] is larger than [%d]: dropped", declared, kMaxMessageBytes);
      return -1;
    }
    length = static_cast<int32_t>(declared);
    copy = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(length) + 1, 1));
    if (copy == nullptr) return -1;
    std::memcpy(copy, record + 4, static_cast<size_t>(length));
    log_hex_dump(0, copy, static_cast<size_t>(length));
  }
  log_message(0, kLogTrace, "DwCode value : [%d]", static_cast<int>(code));
  int32_t result = 0;
  switch (code) {
    case KOVA_NOTIFY_MESSAGE: {
      if (provisioning_active) {
        log_message(0, kLogTrace, "proisioning is going on");
        break;
      }
      if (copy == nullptr) {
        // The bridge promised a message and gave none: nothing to queue.
        log_message(0, kLogWarning, "message notification without a message");
        result = kErrMissingEvent;
        break;
      }
      vyra_event event{EVENT_WAP_PUSH, length, copy};
      log_message(0, kLogTrace, "received from KOVA API message of size [%d]", length);
      int rc = insert_event(&event);
      if (rc != 0) {
        result = rc;
        break;
      }
      log_message(0, kLogTrace, "inserted into event queue element of size [%d] and signalling event queue", length);
      signal_queue();
      break;
    }
    case KOVA_NOTIFY_VYRAACTIVATE: {
      if (provisioning_active) {
        log_message(0, kLogTrace, "provisioning is going on");
        break;
      }
      log_message(0, kLogTrace, "vyra activate received");
      cancel_requested = 0;
      vyra_event event{EVENT_KOVA_NOTIFY_CIIP, 0, nullptr};
      log_message(0, kLogTrace, "Received KOVA_NOTIFY_VYRAACTIVATE");
      int rc = insert_event(&event);
      if (rc != 0) {
        result = rc;
        break;
      }
      signal_queue();
      break;
    }
    case KOVA_NOTIFY_VYRASTOP:
      log_message(0, kLogTrace, "vyra stop received");
      cancel_requested = 1;
      if (provisioning_active) {
        log_message(0, kLogTrace, "provisioning is going on when  vyra received");
        break;
      }
      log_message(0, kLogTrace, "exiting the vyra");
      MEM_FREE(copy);
      copy = nullptr;
      if (const event_thread_ops* ops = g_ops.load()) {
        // A shutdown already running on another thread may be waiting for this callback to
        // return (the bridge waits for its callbacks): return, and that thread ends the
        // program. Otherwise the program ends here, on the bridge's thread.
        if (ops->terminate() != 0 && ops->shutdown_in_progress()) break;
        ops->end_program();
      }
      break;
    default:
      log_message(0, kLogTrace, "notification not for VYRA");
      break;
  }
  MEM_FREE(copy);
  return result;
}

// ---- Event thread -------------------------------------------------------------------------

void wait_for_events() {
  const event_thread_ops* ops = g_ops.load();
  bool graceful = false;
  bool awaiting_rest = false;  // the last event began a piece of work the next one completes
  while (!g_terminate) {
    int wait_return = g_queue_semaphore.wait(awaiting_rest ? kNextPartWaitMs : plat::kInfinite);
    log_message(0, kLogTrace, "queue_has_element release element in queue \n");
    g_dynamic_memory_count = 0;
    if (wait_return == plat::kWaitTimeout) log_message(0, kLogWarning, "the rest of the push did not come");
    if (wait_return != 0) {
      log_message(0, kLogTrace, "wait_return != WAIT_OBJECT_0 \n");
      break;
    }
    // The data-session state is asked for, but an active session does not hold the
    // event back: the event is handled now.
    uint32_t state = 0;
    // The bridge's parameter operations do not use the handle.
    if (KovaDSGetNAISignedState(nullptr, &state) == 0 && state != 0)
      log_message(0, kLogTrace, "Data session active \n");
    log_message(0, kLogTrace, "before get event\n");
    vyra_event* event = get_event();
    log_message(0, kLogTrace, "after get event\n");
    awaiting_rest = false;
    if (event != nullptr) {
      log_message(0, kLogTrace, "Events handled [%d] Events failed to handle [%d]", g_events_handled, g_events_failed);
      int result = ops->handle_event(event);
      free_event(event);
      if (result == kEventIncomplete) {
        // One segment of a push: nothing was started; the next event brings the rest.
        awaiting_rest = true;
        continue;
      }
      if (result == 1)
        ++g_events_handled;
      else
        ++g_events_failed;
      log_message(0, kLogTrace, "Events handled [%d] failed to handle [%d]", g_events_handled, g_events_failed);
    }
    if (g_events_handled == kCounterWrap || g_events_failed == kCounterWrap) g_events_handled = g_events_failed = 0;
    log_message(0, kLogTrace, "wait_for_events: VYRA Terminating");
    ops->terminate();
    graceful = true;
  }
  if (!graceful) {
    log_message(0, kLogTrace, "wait_for_events: VYRA Terminating (non-graceful).");
    ops->terminate();
  }
  log_message(0, kLogTrace, "wait_for_events: Exiting");
  ops->close_window();
}
