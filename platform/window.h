// A small stand-in for the handset's windows and messages, enough for a hidden listener
// window: one window per class and process, a message queue owned by the thread that
// created the window, blocking send and posted messages, and a quit message.
//
// Window classes are per device: a class registered by one process is found by every
// other process of the device (a lock file run/class-<name>.lock held for the life of the
// class), which is how a program tells that another instance is running.
#pragma once

#include <cstdint>
#include <string_view>

namespace plat {

constexpr uint32_t WM_CREATE = 0x0001;
constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_QUIT = 0x0012;
constexpr uint32_t WM_USER = 0x0400;

struct Window;  // opaque
using WindowProc = intptr_t (*)(Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// True when a process of this device (this one included) has the class registered.
bool find_window_class(std::string_view class_name);

// Registers the class for this process. False when the name is empty, already
// registered here or by another process of the device, or there is no device.
bool register_window_class(std::string_view class_name, WindowProc proc);
void unregister_window_class(std::string_view class_name);

// Creates the window of a registered class on the calling thread (which then owns its
// message queue). The procedure receives WM_CREATE before this returns; NULL on failure
// (unknown class, or WM_CREATE answered -1).
Window* create_window(std::string_view class_name, std::u16string_view title);

// Sends WM_DESTROY to the procedure and releases the window. NULL is ignored.
void destroy_window(Window* window);

// Runs the procedure on the window's thread and returns its result. Called on that thread
// it runs at once; from another thread it waits until the window thread has handled it.
// Returns 0 when the window is gone or goes away while waiting.
intptr_t send_message(Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// Queues a message for the window's thread. False when the window is gone.
bool post_message(Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// Queues WM_QUIT with the exit code on the calling thread's queue.
void post_quit_message(int exit_code);

// The message loop: waits for the next message of the calling thread's queue (running
// sent messages from other threads meanwhile). False when WM_QUIT arrived (*exit_code
// gets its code); true after a message was dispatched to its window.
bool pump_message(int* exit_code);

// Shown state and text of a window (the listener's text services).
void show_window(Window* window, bool shown);
void set_window_text(Window* window, std::u16string_view text);

// The procedure a window falls back to for messages it does not handle: WM_CLOSE
// destroys the window, everything else answers 0.
intptr_t default_window_proc(Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam);

}  // namespace plat
