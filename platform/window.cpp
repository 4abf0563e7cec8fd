#include "platform/window.h"

#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/file.h>
#include <unistd.h>

#include "platform/paths.h"

namespace plat {
namespace {

// Answer slot of a message sent from another thread; lives on the sender's stack.
struct SentReply {
  bool done = false;
  intptr_t result = 0;
};

struct QueuedMessage {
  Window* window;  // nullptr for WM_QUIT
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
  SentReply* reply;  // set for sent messages
};

struct MessageQueue {
  std::deque<QueuedMessage> items;
};

struct ClassInfo {
  WindowProc proc;
  int lock_fd;
};

// One lock for the class table, the set of live windows and every queue: the traffic is a
// handful of messages per run.
std::mutex g_lock;
std::condition_variable g_changed;
std::map<std::string, ClassInfo> g_classes;
std::set<Window*> g_windows;

thread_local std::shared_ptr<MessageQueue> t_queue;

std::shared_ptr<MessageQueue> my_queue() {
  if (!t_queue) t_queue = std::make_shared<MessageQueue>();
  return t_queue;
}

std::string lock_path(std::string_view class_name) { return run_path("class-" + std::string(class_name) + ".lock"); }

}  // namespace

struct Window {
  std::string class_name;
  WindowProc proc;
  std::shared_ptr<MessageQueue> queue;
  bool shown = false;
  std::u16string text;
};

bool find_window_class(std::string_view class_name) {
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_classes.count(std::string(class_name)) != 0) return true;
  }
  std::string path = lock_path(class_name);
  if (path.empty()) return false;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
  if (fd < 0) return false;
  bool held_elsewhere = flock(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd);  // closing drops the probe's own lock, if it got one
  return held_elsewhere;
}

bool register_window_class(std::string_view class_name, WindowProc proc) {
  if (class_name.empty() || proc == nullptr || class_name.find('/') != std::string_view::npos) return false;
  std::lock_guard<std::mutex> guard(g_lock);
  if (g_classes.count(std::string(class_name)) != 0) return false;
  std::string path = lock_path(class_name);
  if (path.empty()) return false;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  g_classes[std::string(class_name)] = ClassInfo{proc, fd};
  return true;
}

void unregister_window_class(std::string_view class_name) {
  std::lock_guard<std::mutex> guard(g_lock);
  auto it = g_classes.find(std::string(class_name));
  if (it == g_classes.end()) return;
  close(it->second.lock_fd);
  g_classes.erase(it);
}

Window* create_window(std::string_view class_name, std::u16string_view title) {
  Window* w = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_classes.find(std::string(class_name));
    if (it == g_classes.end()) return nullptr;
    w = new Window{std::string(class_name), it->second.proc, my_queue(), false, std::u16string(title)};
    g_windows.insert(w);
  }
  if (w->proc(w, WM_CREATE, 0, 0) == -1) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_windows.erase(w);
    delete w;
    return nullptr;
  }
  return w;
}

void destroy_window(Window* window) {
  if (window == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_windows.count(window) == 0) return;
  }
  window->proc(window, WM_DESTROY, 0, 0);
  std::lock_guard<std::mutex> guard(g_lock);
  g_windows.erase(window);
  // Messages still queued for it are answered 0 and dropped.
  for (auto it = window->queue->items.begin(); it != window->queue->items.end();) {
    if (it->window == window) {
      if (it->reply) it->reply->done = true;
      it = window->queue->items.erase(it);
    } else {
      ++it;
    }
  }
  delete window;
  g_changed.notify_all();
}

intptr_t send_message(Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  SentReply reply;
  {
    std::unique_lock<std::mutex> lock(g_lock);
    if (g_windows.count(window) == 0) return 0;
    if (window->queue == t_queue) {
      lock.unlock();
      return window->proc(window, message, wparam, lparam);  // same thread: a plain call
    }
    window->queue->items.push_back({window, message, wparam, lparam, &reply});
    g_changed.notify_all();
    g_changed.wait(lock, [&] { return reply.done; });
  }
  return reply.result;
}

bool post_message(Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (g_windows.count(window) == 0) return false;
  window->queue->items.push_back({window, message, wparam, lparam, nullptr});
  g_changed.notify_all();
  return true;
}

void post_quit_message(int exit_code) {
  std::shared_ptr<MessageQueue> queue = my_queue();
  std::lock_guard<std::mutex> guard(g_lock);
  queue->items.push_back({nullptr, WM_QUIT, static_cast<uintptr_t>(exit_code), 0, nullptr});
  g_changed.notify_all();
}

bool pump_message(int* exit_code) {
  std::shared_ptr<MessageQueue> queue = my_queue();
  std::unique_lock<std::mutex> lock(g_lock);
  for (;;) {
    g_changed.wait(lock, [&] { return !queue->items.empty(); });
    QueuedMessage m = queue->items.front();
    queue->items.pop_front();
    if (m.message == WM_QUIT && m.window == nullptr) {
      if (exit_code) *exit_code = static_cast<int>(m.wparam);
      return false;
    }
    if (g_windows.count(m.window) == 0) {
      if (m.reply) m.reply->done = true;
      g_changed.notify_all();
      continue;
    }
    lock.unlock();
    intptr_t result = m.window->proc(m.window, m.message, m.wparam, m.lparam);
    lock.lock();
    if (m.reply) {
      m.reply->result = result;
      m.reply->done = true;
      g_changed.notify_all();
    }
    return true;
  }
}

void show_window(Window* window, bool shown) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (g_windows.count(window) != 0) window->shown = shown;
}

void set_window_text(Window* window, std::u16string_view text) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (g_windows.count(window) != 0) window->text = std::u16string(text);
}

intptr_t default_window_proc(Window* window, uint32_t message, uintptr_t, intptr_t) {
  if (message == WM_CLOSE) destroy_window(window);
  return 0;
}

}  // namespace plat
