// The event queue and the event thread.
//
// Producers (the bridge's notification callback, the browser signal thread) copy what
// they received into the queue, a FIFO list under the queue mutex counted by the queue
// semaphore: insert under the mutex first, release the semaphore afterwards. One event
// thread, wait_for_events, takes one event, hands it to the event handler and then shuts
// the listener down, so one run of the program handles one event.
//
// The queue's mutex and semaphore exist for the whole life of the process; event_queue_open
// makes them ready before the bridge is opened, so no callback ever finds them missing.
// This module calls nothing above it: what it needs of the listener and the handlers comes
// in the table of operations that listener_init gives to event_queue_open.
#pragma once

#include <atomic>
#include <cstdint>

#include "client/support/flags.h"  // provisioning_active, cancel_requested

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


// The handler's answer for an event that only began a piece of work (a push message that
// carried one segment of several): the event thread takes the next event instead of ending,
// waiting for it at most kNextPartWaitMs (system ms).
constexpr int kEventIncomplete = 2;
constexpr uint32_t kNextPartWaitMs = 60000;

// What the event thread and the notification callback need of the program around them.
struct event_thread_ops {
  // Handles one event (HandleQueueEvent): 1 when handled with success, kEventIncomplete.
  int (*handle_event)(vyra_event* event);
  // Shuts the listener down (listener_terminate): 0, or -1 when it was not initialized or
  // another thread had already begun.
  int (*terminate)();
  // True while another thread runs the shutdown (it will also end the program).
  bool (*shutdown_in_progress)();
  // Ends the program with exit code 0 from the calling thread, logs closed first.
  void (*end_program)();
  // The event thread's last act: close the listener window (a blocking send).
  void (*close_window)();
};

// Makes the queue ready (empty, semaphore open, terminate flag clear) and keeps ops, which
// must live as long as the process. Before the bridge can call back.
void event_queue_open(const event_thread_ops* ops);
// Shutdown: closes the semaphore (a waiting event thread wakes with a failure) and sets
// the terminate flag. Events still queued stay unhandled.
void event_queue_close();
// The terminate flag: the event and browser threads leave their loops when they see it.
bool event_queue_closed();
// Releases the queue semaphore by one (after a successful insert_event).
void signal_queue();

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

// The callback registered with KovaInitialize; runs handle_notification and returns its
// result (a negative one leaves a message with the radio for the next client).
int32_t vyra_notification_callback(uint32_t code, const void* data, uint32_t size, uint32_t user);

// Number of events waiting (for tests).
int queued_event_count();
