// The radio interface (RIL) client: the handset's radio layer as seen by a program.
//
// A client connects to the device's radio daemon on <device>/run/ril.sock and speaks the
// length-prefixed frames described in docs/radio-socket.md (request, result, notification).
// Requests are asynchronous: ril_devspecific returns the command id at once and the result
// arrives later on the result callback with that id. ril_get_radio_state and ril_call wait
// for their own result and never reach the result callback.
//
// Threads: a reader thread receives every frame and runs the result callback; a second
// thread runs the notification callback in arrival order. A notification handler may
// therefore block (sleep, make a synchronous ril_call) without holding up results.
// When the daemon goes away, every outstanding asynchronous request completes on the result
// callback with kRilResultDisconnected, and every later exchange fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct RilClient;  // opaque, from ril_initialize to ril_deinitialize

// Result codes carried by result frames (1 is success, as on the handset).
constexpr uint32_t kRilResultOk = 1;
constexpr uint32_t kRilResultError = 2;         // the daemon could not carry out the request
constexpr uint32_t kRilResultUnsupported = 3;   // unknown request kind or device-specific code
constexpr uint32_t kRilResultRadioOff = 4;      // the radio is not ready
constexpr uint32_t kRilResultDisconnected = 5;  // made up by the client: the daemon went away

// Notification classes (the high word of a notification code, plus the device-specific range).
constexpr uint32_t kRilClassCallControl = 0x00010000;
constexpr uint32_t kRilClassMessage = 0x00020000;
constexpr uint32_t kRilClassNetwork = 0x00040000;
constexpr uint32_t kRilClassSupService = 0x00080000;
constexpr uint32_t kRilClassPhonebook = 0x00100000;
constexpr uint32_t kRilClassSimToolkit = 0x00200000;
constexpr uint32_t kRilClassMisc = 0x00400000;
constexpr uint32_t kRilClassRadioState = 0x00800000;
constexpr uint32_t kRilClassDevSpecific = 0x80000000;
constexpr uint32_t kRilClassAll = 0x00FF0000;

// The class a notification code belongs to (kRilClassDevSpecific for 0x80000000-0x8000FFFF).
uint32_t ril_notification_class(uint32_t code);

// Called on the reader thread. data is valid only during the call.
using RilResultCallback = void (*)(uint32_t result_code, uint32_t command_id, const void* data, size_t size,
                                   void* user);
// Called on the notification thread. data is valid only during the call. message_id is the
// daemon's number for an incoming message that waits for ril_ack_message, else 0.
using RilNotifyCallback = void (*)(uint32_t code, uint32_t message_id, const void* data, size_t size, void* user);

// Connects to the device's radio daemon and registers for the notification classes in
// `classes`. *out is set before the first notification can be delivered, so a handler may
// use it. Returns 0, or -1 (no device, no daemon listening, no answer to the registration
// within 5000 ms): then *out is NULL and nothing runs.
int ril_initialize(RilResultCallback on_result, RilNotifyCallback on_notify, uint32_t classes, void* user,
                   RilClient** out);

// Closes the connection and ends both threads; no callback runs after it returns. Safe with
// NULL. Called from one of the client's own callbacks, the threads are left to end by
// themselves and the object is freed by the last of them.
void ril_deinitialize(RilClient* client);

// Sends a device-specific request. Returns 0 and the command id (never 0) in *command_id;
// -1 when the client is closed, the daemon is gone or size is over kRilMaxPayload.
int ril_devspecific(RilClient* client, const void* data, size_t size, uint32_t* command_id);

// Asks for the radio state and waits for it (up to 5000 ms): 0 and *state (1 = on) or -1.
int ril_get_radio_state(RilClient* client, uint32_t* state);

// Tells the daemon that the incoming message `message_id` has been taken: only then does it
// leave the daemon's store. A message never acknowledged (the client closed, died, or never
// took it) is offered again to the next client that registers. Waits up to 5000 ms for the
// answer: 0, or -1 (closed, daemon gone, unknown id).
int ril_ack_message(RilClient* client, uint32_t message_id);

// A request of any kind answered synchronously: waits up to timeout_ms (system ms) for the
// result and returns its result code (kRilResultDisconnected on failure or time-out) with
// the result data in *reply.
uint32_t ril_call(RilClient* client, uint32_t kind, const void* data, size_t size, std::vector<uint8_t>* reply,
                  uint32_t timeout_ms);

// ---------------------------------------------------------------------------------------
// Wire format, shared with the daemon (docs/radio-socket.md).

constexpr uint32_t kRilFrameRequest = 1;
constexpr uint32_t kRilFrameResult = 2;
constexpr uint32_t kRilFrameNotify = 3;

// Request kinds (the code field of a request frame).
constexpr uint32_t kRilRequestRegister = 1;     // payload: u32 notification classes
constexpr uint32_t kRilRequestDevSpecific = 2;  // payload: the device-specific block
constexpr uint32_t kRilRequestRadioState = 3;   // no payload; result: u32 state
constexpr uint32_t kRilRequestAckMessage = 4;   // payload: u32 message id
constexpr uint32_t kRilRequestSimControl = 0x100;  // the simulator's own commands (vyra-sim)

// Simulator control operations (the first payload word of kRilRequestSimControl).
constexpr uint32_t kRilSimMessage = 1;   // data: an incoming message (1 to 1024 bytes)
constexpr uint32_t kRilSimState = 2;     // data: u32 0 idle, 1 call, 2 data-active, 3 data-dormant
constexpr uint32_t kRilSimCallEnd = 3;   // the call ends
constexpr uint32_t kRilSimStatus = 4;    // result: readable text
constexpr uint32_t kRilSimRadio = 5;     // data: u32 1 on, 0 off
constexpr uint32_t kRilSimDataCall = 6;  // data: u32 1 up, 0 down: the client's own data call

constexpr size_t kRilFrameHeader = 12;      // type, id, code after the length word
constexpr size_t kRilMaxPayload = 65536;    // cap of one frame's payload

struct RilFrame {
  uint32_t type = 0;
  uint32_t id = 0;    // command id (request, result); message id or 0 in a notification
  uint32_t code = 0;  // request kind, result code or notification code
  std::vector<uint8_t> payload;
};

// Appends the encoded frame to *out. False when the payload is over kRilMaxPayload.
bool ril_encode_frame(const RilFrame& frame, std::vector<uint8_t>* out);

// Reads one frame from the start of data[0..size). Returns 1 and sets *used when a whole
// frame is there, 0 when more bytes are needed, -1 when the length word is impossible
// (shorter than the header or over the cap): the stream cannot be resynchronised then.
int ril_decode_frame(const uint8_t* data, size_t size, RilFrame* out, size_t* used);

// Little-endian helpers for payload words.
uint32_t ril_get_u32(const uint8_t* p);
void ril_put_u32(std::vector<uint8_t>* out, uint32_t v);

// Path of the device's radio socket (<device>/run/ril.sock), "" without a device.
std::string ril_socket_path();

// True when a radio daemon accepts connections on the device's socket now.
bool ril_daemon_answers();

}  // namespace plat
