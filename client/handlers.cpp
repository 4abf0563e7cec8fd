#include "client/handlers.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "client/formats/mmcp_utils.h"
#include "client/listener.h"
#include "client/session/MMCP.h"
#include "client/support/connect.h"
#include "client/support/utils.h"
#include "client/vyraevent.h"
#include "common/program_files.h"
#include "common/tracked_memory.h"
#include "common/wrapper.h"
#include "platform/clock.h"
#include "platform/named_event.h"
#include "platform/paths.h"

namespace {

constexpr char kBrowserDocument[] = "\\Program Files\\Fennick3.0\\content.mmc";
constexpr char16_t kHttpLogFile[] = u"parsek_log.txt";

// Each event starts a fresh HTTP log.
void reset_http_log() {
  char16_t path[kMaxPath];
  if (module_path(kHttpLogFile, path) != kOk) return;
  std::string host = device_host_path(path);
  if (!host.empty()) unlink(host.c_str());
}

// The start of an event: 1 when the bridge took KOVA_STATUS_VYRASTART.
bool send_start_status() {
  log_message(0, kLogTrace, "Sending KOVA_STATUS_VYRASTART");
  int32_t rc = KovaSendStatus(g_listener.bridge_handle, KOVA_STATUS_VYRASTART, 0);
  log_message(0, kLogTrace, "KOVA_STATUS_VYRASTART: ret [%d]", rc);
  if (rc != 0) {
    log_message(rc, kLogFailure, "Kova start error : %d", rc);
    return false;
  }
  log_message(0, kLogTrace, "DactSendStatus Start function Success");
  return true;
}

// The end of an event: the outcome to the bridge, the data connection hung up. 1 for a
// result of 1, else -1.
int finish_event(int result) {
  int outcome;
  if (result == 1) {
    provisioning_active = 0;
    log_message(0, kLogTrace, "DactSendStatus End With Success function Success-1");
    if (KovaSendStatus(g_listener.bridge_handle, KOVA_STATUS_VYRAEND, 0) != 0)
      log_message(0, kLogTrace, "DactSendStatus End With Success function Success");
    outcome = 1;
  } else {
    log_message(result, kLogFailure, "KOVA_STATUS_VYRAERROR ret : [%d]", result);
    provisioning_active = 0;
    int code = map_error_to_status(result);
    KovaSendStatus(g_listener.bridge_handle, KOVA_STATUS_VYRAERROR, static_cast<uint32_t>(code));
    log_message(0, kLogTrace, "DactSendStatus End ");
    log_message(0, kLogTrace, "With Error : [%x]", code);
    outcome = -1;
  }
  HangupConnection();
  return outcome;
}

}  // namespace

int map_error_to_status(int result) {
  struct Span {
    int low, high;
  };
  // Results that are reported as themselves.
  static constexpr Span kAsThemselves[] = {{64, 76},     {79, 82},     {88, 88},     {96, 101},   {104, 106},
                                           {128, 141},   {1012, 1012}, {2048, 2048}, {3000, 3000}, {4000, 4000}};
  for (const Span& s : kAsThemselves)
    if (result >= s.low && result <= s.high) return result;
  if (result <= -3001 && result >= -3012) return -3000 - result + 256;  // 257 to 268
  if (result <= -1001 && result >= -1007) return -1001 - result + 779;  // 779 to 785
  switch (result) {
    case 0: return 0x100;
    case -20: return 1;  // cancelled by the user
    case 204: return 1028;
    case 304: return 1029;
    case 400: return 1030;
    case 401: return 1031;
    case 403: return 1032;
    case 404: return 1033;
    case 405: return 1034;
    case 406: return 1035;
    case 408: return 1036;
    case 409: return 1037;
    case 500: return 1038;
    case 501: return 1039;
    case 502: return 1040;
    case 503: return 1041;
    case -3013: return 1024;
    case -3014: return 1025;
    case -3015: return 1026;
    case -3016: return 1027;
    case -2000: return 512;
    case -2001: return 513;
    case -2002: return 514;
    case -2003: return 515;
    case -2011: return 516;
    case -2021: return 768;
    case -2022: return 769;
    case -2024: return 770;
    case -2026: return 771;
    case -2027: return 772;
    case -2028: return 773;
    case -2007: return 774;
    case -2009: return 775;
    case -2020: return 776;
    case -1: return 777;
    case -2: return 778;
    case -6000: return 786;
    case -6001: return 787;
    default: return 0x900;
  }
}

int handler_test_hold_ms() {
  const char* env = std::getenv("VYRA_TEST_HOLD_SESSION_MS");
  if (env == nullptr || *env == '\0') return 0;
  int ms = std::atoi(env);
  return ms > 0 ? ms : 0;
}

// A document the browser saved (event type 2) runs as a session of its own. No NAI switch
// takes place for it, so a failure has no NAI to restore.
int handle_browser_event(vyra_event* event) {
  reset_http_log();
  if (!send_start_status()) return -1;
  log_message(0, kLogTrace, "HandleQueueEvent: BROWSER_PUSH");
  const char* data = reinterpret_cast<const char*>(event->data);
  char* content_type = mmc_browser_content_type(data, event->length);
  int result = content_type != nullptr ? process_mmc_file(data, event->length, content_type) : kErrNoMemory;
  MEM_FREE(content_type);
  return finish_event(result);
}

// Pushes and activations come with their own handlers; until then every such event is
// logged with its type and length and counts as failed.
int HandleQueueEvent(vyra_event* event) {
  if (event == nullptr) return -1;
  if (event->type == EVENT_BROWSER_PUSH) return handle_browser_event(event);
  log_message(0, kLogTrace, "HandleQueueEvent: event of type [%d] and length [%d] not yet handled", event->type,
              event->length);
  if (int hold = handler_test_hold_ms(); hold > 0) {
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
