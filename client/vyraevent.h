// The event queue and the event thread.
//
// Producers (the bridge's notification callback, the browser signal thread) copy what
// they received into the queue, a FIFO list under the queue mutex counted by the queue
// semaphore: insert under the mutex first, release the semaphore afterwards. One event
// thread, wait_for_events, takes one event, hands it to HandleQueueEvent and then shuts
// the listener down, so one run of the program handles one event.
#pragma once

#include <cstdint>

constexpr int32_t EVENT_WAP_PUSH = 1;          // bridge notification 0x20001, raw push bytes
constexpr int32_t EVENT_BROWSER_PUSH = 2;      // browser signal thread, the saved document
constexpr int32_t EVENT_KOVA_NOTIFY_CIIP = 3;  // bridge notification 0x40001, no data

constexpr int kErrMissingEvent = -2007;

// What a producer builds and the event thread receives; data is owned by the record
// (a tracked block, released by free_event).
struct vyra_event {
  int32_t type;
  int32_t length;
  unsigned char* data;
};

// Queue element: a private copy of the producer's bytes.
struct event_node {
  int32_t type;
  int32_t length;
  unsigned char* data;
  event_node* next;
};

// Shared flags: single words read and written without a lock (a stale read when a session
// starts or ends is tolerated).
extern volatile int provisioning_active;
extern volatile int cancel_requested;

// Counters of the event thread (process lifetime).
extern uint32_t g_events_handled;
extern uint32_t g_events_failed;

// 0, -2007 (NULL event) or -2000 (no memory). Copies the bytes; the caller keeps its
// buffer and releases the queue semaphore by one after a successful insert.
int insert_event(const vyra_event* event);

// A new event owned by the caller (release with free_event), or NULL when the queue is
// empty or memory ran out (the event then stays at the head).
vyra_event* get_event();
void free_event(vyra_event* event);

// The event thread's body.
void wait_for_events();

// The client's side of a bridge notification: 0, or a negative code when a push could not
// be queued. data is the bridge's message record for 0x20001 (valid during the call).
int32_t handle_notification(uint32_t code, const void* data, uint32_t size);

// The callback registered with KovaInitialize; runs handle_notification.
void vyra_notification_callback(uint32_t code, const void* data, uint32_t size, uint32_t user);

// Number of events waiting (for tests).
int queued_event_count();

// The handler of one event (the event-handlers module); 1 when handled with success.
int HandleQueueEvent(vyra_event* event);
