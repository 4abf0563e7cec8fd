#include "client/handlers.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "client/support/utils.h"
#include "client/vyraevent.h"
#include "common/tracked_memory.h"
#include "platform/clock.h"
#include "platform/named_event.h"
#include "platform/paths.h"

namespace {

constexpr char kBrowserDocument[] = "\\Program Files\\Fennick3.0\\content.mmc";

}  // namespace

int handler_test_hold_ms() {
  const char* env = std::getenv("VYRA_TEST_HOLD_SESSION_MS");
  if (env == nullptr || *env == '\0') return 0;
  int ms = std::atoi(env);
  return ms > 0 ? ms : 0;
}

// Events are not yet handled: the provisioning sessions come with the event handlers.
// Until then every event is logged with its type and length and counts as failed.
int HandleQueueEvent(vyra_event* event) {
  if (event == nullptr) return -1;
  log_message(0, kLogTrace, "HandleQueueEvent: event of type [%d] and length [%d] not yet handled", event->type,
              event->length);
  if (int hold = handler_test_hold_ms(); hold > 0 && event->type != EVENT_BROWSER_PUSH) {
    provisioning_active = 1;
    plat::sleep_ms(static_cast<uint32_t>(hold));
    provisioning_active = 0;
  }
  return -1;
}

void browser_signal_thread() {
  plat::NamedEvent* browser_event = plat::event_open("browser_event");
  while (!event_queue_closed()) {
    if (browser_event == nullptr || plat::event_wait(browser_event, plat::kInfinite) != 0) break;
    if (event_queue_closed()) break;
    log_message(0, kLogTrace, "got provisioning signal from browser");
    std::string path = plat::host_path(std::string_view(kBrowserDocument));
    // Existing file only, not shared while we read it.
    int fd = path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      fd = -1;
    }
    if (fd < 0) {
      log_message(errno, kLogFailure,
                  "browser signalled but  \t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\tfile [%s] cannot be opened", kBrowserDocument);
    } else {
      struct stat st;
      size_t size = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) : 0;
      // A document larger than an event can say is refused rather than cut.
      if (size > 0x7FFFFFFF) size = 0;
      if (size != 0) {
        log_message(0, kLogTrace, "provisioning document size = %d", static_cast<int>(size));
        auto* buffer = static_cast<unsigned char*>(MEM_ALLOC(size, 1));
        if (buffer != nullptr) {
          size_t done = 0;
          while (done < size) {
            ssize_t n = read(fd, buffer + done, size - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
          }
          log_message(0, kLogTrace, "Read File = %d", static_cast<int>(done));
          // The event carries the bytes actually read (a file that shrank is not padded).
          vyra_event event{EVENT_BROWSER_PUSH, static_cast<int32_t>(done), buffer};
          if (done > 0 && insert_event(&event) == 0) {
            signal_queue();
            log_message(0, kLogTrace,
                        "inserted into event queue \t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\telement of size [%d]",
                        static_cast<int>(done));
          }
          MEM_FREE(buffer);
        }
      }
      close(fd);
    }
    plat::event_reset(browser_event);
  }
  plat::event_close(browser_event);
}
