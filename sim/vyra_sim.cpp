// vyra-sim: plays the other software of the handset against a running vyra-modem.
//
// Exit codes: 0 success, 1 failure (no daemon, the modem refused, an inactive item, an
// unreadable file), 2 bad usage (also a push that cannot be composed as asked); each
// failure prints one line on standard error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "platform/connmgr.h"
#include "platform/named_event.h"
#include "platform/paths.h"
#include "platform/ras.h"
#include "platform/registry.h"
#include "platform/ril_client.h"
#include "platform/tool_args.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "sim/diag_text.h"
#include "sim/modem_core.h"
#include "sim/push_encoder.h"

namespace {

constexpr const char* kUsage =
    "usage: vyra-sim [--device DIR] COMMAND ...\n"
    "  message FILE | --hex HEX    inject a raw incoming message (1 to 1024 bytes); prints\n"
    "                              \"delivered\" (offered to the bridge) or \"stored\"\n"
    "  push URL | --body FILE [OPTIONS]\n"
    "                              compose a Service Loading push for URL and inject it as\n"
    "                              incoming messages, one per WDP segment:\n"
    "      --print                 print each message as a line of hex instead (no device\n"
    "                              or daemon needed; a line fits message --hex)\n"
    "      --segments N            split into N segments (1 to 255; default: as few as fit)\n"
    "      --xml                   a text SL document instead of WBXML\n"
    "      --body FILE             send FILE as the push body instead of an SL for URL\n"
    "      --content-type CODE     well-known content type 0x00 to 0x7F (default 0x30,\n"
    "                              0x2F with --xml)\n"
    "      --app-id TEXT           X-Wap-Application-Id (default x-wap-vuverova:vyra.ua)\n"
    "      --no-app-id             send no application id\n"
    "      --port SRC:DST          WDP ports (default 9200:2948)\n"
    "      --message-id N          bearer-data message identifier 0 to 65535 (default 1)\n"
    "      --encoding 0|1          user-data message encoding (default 0, octet)\n"
    "      --header-length N       pad the WSP header block to N bytes\n"
    "  signal NAME [--pulse]       set (or pulse) a named event of the device\n"
    "  browser FILE                save FILE as the browser's provisioning document\n"
    "                              (\\Program Files\\Fennick3.0\\content.mmc) and set\n"
    "                              \"browser_event\"\n"
    "  network up|down|wait        the simulated data network: connects after the delay,\n"
    "                              maps no URL, or waits for ever\n"
    "  network fail STATUS         connections end with STATUS (e.g. 0x21)\n"
    "  network delay MS | drop MS  time to the outcome; drop a connection MS after it is up\n"
    "  network proxy on [HOST:PORT] | proxy off\n"
    "  network backend simulated|networkmanager | network show\n"
    "  state idle|call|data-active|data-dormant\n"
    "  call-end                    end the call (call-disconnected notification)\n"
    "  radio on|off                switch the radio (radio-state notification)\n"
    "  nv get ITEM [INDEX]         print a data item as hex (INDEX: profile of 465/3021)\n"
    "  nv set ITEM [INDEX] HEX     write a data item (up to the item's size, zero-padded)\n"
    "  prl get FILE | prl set FILE read or replace the roaming list\n"
    "  mip get PROFILE             show a Mobile IP profile and its shared secrets\n"
    "  is683 HEX                   send one IS-683 message, print the modem's answer as hex\n"
    "  status                      a readable dump of the modem\n"
    "  ras add NAME [HANDLE]       record an active dial-up connection (handle default 1)\n"
    "  ras list                    print the active connections: HANDLE NAME\n"
    "  resets                      print how often the device was reset\n"
    "  -h, --help  this text;   -V, --version  the version\n"
    "FILE may be - (the standard input; for prl get the standard output).\n"
    "The device is --device DIR, else $VYRA_DEVICE. Commands that only read (status, nv get,\n"
    "prl get, mip get, ras list, resets, network show, ...) need an existing device; signal,\n"
    "browser, network and ras add may make a new one. Every command but signal, browser,\n"
    "network, ras, resets and push --print needs a running vyra-modem.\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  failure: no daemon, the modem refused, an unreadable file, a device or registry that\n"
    "     cannot be used\n"
    "  2  bad usage (also a push that cannot be composed as asked)\n"
    "Example: vyra-sim --device /tmp/d push https://prov.example/x --segments 3\n";

int usage_error(const std::string& message) { return plat::tool_usage_error("vyra-sim", message.c_str()); }

int failure(const std::string& message) {
  std::fprintf(stderr, "vyra-sim: %s\n", message.c_str());
  return 1;
}

bool parse_number(const std::string& text, uint32_t max, uint32_t* out) {
  if (text.empty() || text[0] == '-') return false;
  char* end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (*end != '\0' || v > max) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

class Modem {
 public:
  ~Modem() { plat::ril_deinitialize(client_); }
  bool Connect() { return plat::ril_initialize(nullptr, nullptr, 0, nullptr, &client_) == 0; }

  uint32_t Control(uint32_t op, const std::vector<uint8_t>& data, std::string* text) {
    std::vector<uint8_t> payload;
    plat::ril_put_u32(&payload, op);
    payload.insert(payload.end(), data.begin(), data.end());
    std::vector<uint8_t> reply;
    uint32_t rc = plat::ril_call(client_, plat::kRilRequestSimControl, payload.data(), payload.size(), &reply, 15000);
    if (text) text->assign(reply.begin(), reply.end());
    return rc;
  }

  // One DIAG packet through request 3100, as the bridge sends it.
  bool Diag(const std::vector<uint8_t>& packet, std::vector<uint8_t>* reply) {
    std::vector<uint8_t> block = sim::diag_request_block(packet.data(), packet.size());
    std::vector<uint8_t> data;
    uint32_t rc = plat::ril_call(client_, plat::kRilRequestDevSpecific, block.data(), block.size(), &data, 15000);
    return rc == plat::kRilResultOk && sim::diag_parse_result(data.data(), data.size(), reply);
  }

 private:
  plat::RilClient* client_ = nullptr;
};

// A whole file, or standard input for "-". On failure the reason is printed already.
std::string read_all(const std::string& path, bool* ok, size_t max_bytes = 64 << 20) {
  std::string data;
  *ok = plat::tool_read_input("vyra-sim", path, &data, max_bytes);
  return data;
}

int cmd_nv(Modem& m, const std::vector<std::string>& a) {
  if (a.empty() || (a[0] != "get" && a[0] != "set")) return usage_error("nv needs get or set");
  bool set = a[0] == "set";
  uint32_t item = 0, index = 0;
  if (a.size() < 2 || !parse_number(a[1], 0xFFFF, &item)) return usage_error("nv needs an item number");
  size_t size = sim::item_size(item);
  if (size == 0) return usage_error("item " + a[1] + " is not one of 464, 465, 3021");
  bool per_profile = sim::item_per_profile(item);
  size_t want = 2 + (per_profile ? 1 : 0) + (set ? 1 : 0);
  if (a.size() != want) return usage_error(per_profile ? "items 465 and 3021 need a profile INDEX" : "wrong number of arguments");
  if (per_profile && !parse_number(a[2], sim::kProfiles - 1, &index))
    return usage_error("INDEX is a profile the simulated modem keeps: 0 to " + std::to_string(sim::kProfiles - 1));
  std::vector<uint8_t> value;
  if (set) {
    if (!sim::hex_decode(a.back(), &value) || value.empty() || value.size() > size)
      return usage_error("item " + a[1] + " holds " +
                         (size == 1 ? std::string("1 byte: HEX must be one hex pair")
                                    : std::to_string(size) + " bytes: HEX must be 1 to " + std::to_string(size) +
                                          " hex pairs"));
    value.resize(size, 0);
    if (per_profile) value[0] = static_cast<uint8_t>(index);
  }
  if (!m.Connect()) return failure("no radio daemon on " + plat::ril_socket_path());
  std::vector<uint8_t> packet(133, 0);
  packet[0] = set ? 0x27 : 0x26;
  plat::put_le16(&packet[diag::kItemNumberOffset], static_cast<uint16_t>(item));
  if (set) std::memcpy(&packet[3], value.data(), value.size());
  if (per_profile) packet[3] = static_cast<uint8_t>(index);
  std::vector<uint8_t> reply;
  if (!m.Diag(packet, &reply) || reply.size() < 133) return failure("the modem did not answer the data-item request");
  uint16_t status = plat::get_le16(&reply[diag::kItemStatusOffset]);
  if (status == sim::kItemInactive) return failure("item " + a[1] + " is not active (status 5)");
  if (status != 0) return failure("the modem refused the item (status " + std::to_string(status) + ")");
  if (!set) std::printf("%s\n", sim::hex_encode(reply.data() + 3, size).c_str());
  return 0;
}

int cmd_prl(Modem& m, const std::vector<std::string>& a) {
  if (a.size() != 2 || (a[0] != "get" && a[0] != "set")) return usage_error("prl needs get FILE or set FILE");
  std::vector<uint8_t> list;
  if (a[0] == "set") {
    bool ok = false;
    std::string bytes = read_all(a[1], &ok);
    if (!ok) return 1;
    list.assign(bytes.begin(), bytes.end());
    if (list.empty() || list.size() > 30720) return failure("a roaming list has 1 to 30720 bytes");
  }
  if (!m.Connect()) return failure("no radio daemon on " + plat::ril_socket_path());
  if (a[0] == "get") {
    for (uint32_t seq = 0; seq < 256; ++seq) {
      std::vector<uint8_t> reply;
      if (!m.Diag({0x49, static_cast<uint8_t>(seq), 0}, &reply) || reply.size() < 8 || reply[0] != 0x49 ||
          reply[2] != 0 || reply[3] != 0)
        return failure("roaming-list block " + std::to_string(seq) + " could not be read");
      size_t bits = reply[6] | static_cast<size_t>(reply[7]) << 8;
      if (bits <= 960 && 8 + bits / 8 <= reply.size()) list.insert(list.end(), reply.begin() + 8, reply.begin() + 8 + static_cast<std::ptrdiff_t>(bits / 8));
      if (reply[5] == 0) break;
    }
    return plat::tool_write_output("vyra-sim", a[1], std::string(list.begin(), list.end())) ? 0 : 1;
  }
  // SSPR Download Request segments of 120 bytes through the IS-683 tunnel.
  for (size_t offset = 0; offset < list.size();) {
    size_t n = list.size() - offset > 120 ? 120 : list.size() - offset;
    bool last = offset + n == list.size();
    std::vector<uint8_t> packet(248, 0);
    packet[0] = 0xDA;
    packet[2] = 0x01;
    packet[3] = 128;
    uint8_t* s = &packet[5];
    s[0] = 0x08;
    s[2] = 0x7C;
    s[3] = last ? 1 : 0;
    s[4] = static_cast<uint8_t>(offset >> 8);
    s[5] = static_cast<uint8_t>(offset);
    s[6] = static_cast<uint8_t>(n);
    std::memcpy(s + 7, list.data() + offset, n);
    std::vector<uint8_t> reply;
    if (!m.Diag(packet, &reply) || reply.size() < 9 || reply[3] != 0) return failure("the modem refused a segment");
    if (reply[8] != 0) return failure("the modem rejected the list (IS-683 result " + std::to_string(reply[8]) + ")");
    offset += n;
  }
  return 0;
}

// Reads one per-profile data item; empty with a message on failure.
std::vector<uint8_t> read_profile_item(Modem& m, uint32_t item, uint32_t profile, std::string* why) {
  std::vector<uint8_t> packet(133, 0);
  packet[0] = 0x26;
  plat::put_le16(&packet[diag::kItemNumberOffset], static_cast<uint16_t>(item));
  packet[3] = static_cast<uint8_t>(profile);
  std::vector<uint8_t> reply;
  if (!m.Diag(packet, &reply) || reply.size() < 133) {
    *why = "the modem did not answer the data-item request";
    return {};
  }
  uint16_t status = plat::get_le16(&reply[diag::kItemStatusOffset]);
  if (status != 0 && status != sim::kItemInactive) {
    *why = "the modem refused item " + std::to_string(item) + " (status " + std::to_string(status) + ")";
    return {};
  }
  return std::vector<uint8_t>(reply.begin() + 3, reply.begin() + 3 + static_cast<std::ptrdiff_t>(sim::item_size(item)));
}

int cmd_mip(Modem& m, const std::vector<std::string>& a) {
  uint32_t profile = 0;
  if (a.size() != 2 || a[0] != "get") return usage_error("mip needs get PROFILE");
  if (!parse_number(a[1], sim::kProfiles - 1, &profile))
    return usage_error("PROFILE is a profile the simulated modem keeps: 0 to " + std::to_string(sim::kProfiles - 1) +
                       " (the bridge takes 0 to 14; the others are never active here)");
  if (!m.Connect()) return failure("no radio daemon on " + plat::ril_socket_path());
  std::string why;
  std::vector<uint8_t> p = read_profile_item(m, sim::kItemMipProfile, profile, &why);
  if (p.empty()) return failure(why);
  std::vector<uint8_t> s = read_profile_item(m, sim::kItemMipSecrets, profile, &why);
  if (s.empty()) return failure(why);
  size_t nai = p[1] <= 72 ? p[1] : 72;
  size_t ss1 = s[1] <= 32 ? s[1] : 32, ss2 = s[34] <= 32 ? s[34] : 32;
  std::printf("profile %u\n", profile);
  std::printf("nai %s\n", std::string(reinterpret_cast<const char*>(&p[2]), nai).c_str());
  std::printf("mn-ha-spi %s0x%08X\n", p[74] ? "" : "(not set) ", plat::get_le32(&p[75]));
  std::printf("mn-aaa-spi %s0x%08X\n", p[79] ? "" : "(not set) ", plat::get_le32(&p[80]));
  std::printf("reverse-tunneling %u\n", p[84]);
  std::printf("home-address 0x%08X\n", plat::get_le32(&p[85]));
  std::printf("home-agent-primary 0x%08X\n", plat::get_le32(&p[89]));
  std::printf("home-agent-secondary 0x%08X\n", plat::get_le32(&p[93]));
  std::printf("shared-secret-1 %s\n", sim::hex_encode(&s[2], ss1).c_str());
  std::printf("shared-secret-2 %s\n", sim::hex_encode(&s[35], ss2).c_str());
  return 0;
}

// One IS-683 message through the 0xDA tunnel, as the bridge sends it.
int cmd_is683(Modem& m, const std::vector<std::string>& a) {
  std::vector<uint8_t> message;
  if (a.size() != 1 || !sim::hex_decode(a[0], &message) || message.empty() || message.size() > 243)
    return usage_error("is683 needs 1 to 243 bytes of hex pairs");
  if (!m.Connect()) return failure("no radio daemon on " + plat::ril_socket_path());
  std::vector<uint8_t> packet(248, 0);
  packet[0] = 0xDA;
  packet[2] = 0x01;
  packet[3] = static_cast<uint8_t>(message.size());
  packet[4] = static_cast<uint8_t>(message.size() >> 8);
  std::memcpy(&packet[5], message.data(), message.size());
  std::vector<uint8_t> reply;
  if (!m.Diag(packet, &reply) || reply.size() < 6 || reply[0] != 0xDA)
    return failure("the modem did not answer the tunnel request");
  if (reply[3] != 0) return failure("the modem refused the message (status " + std::to_string(reply[3]) + ")");
  size_t n = reply[4] | static_cast<size_t>(reply[5]) << 8;
  if (n > 243 || 6 + n > reply.size()) return failure("the modem's answer is malformed");
  std::printf("%s\n", sim::hex_encode(&reply[6], n).c_str());
  return 0;
}

int cmd_control(Modem& m, uint32_t op, const std::vector<uint8_t>& data, bool print) {
  if (!m.Connect()) return failure("no radio daemon on " + plat::ril_socket_path());
  std::string text;
  uint32_t rc = m.Control(op, data, &text);
  if (rc != plat::kRilResultOk) return failure(text.empty() ? "the radio daemon refused the command" : text);
  if (print) std::printf("%s%s", text.c_str(), !text.empty() && text.back() != '\n' ? "\n" : "");
  return 0;
}

std::vector<uint8_t> word(uint32_t v) {
  std::vector<uint8_t> w;
  plat::ril_put_u32(&w, v);
  return w;
}

// ---------------------------------------------------------------------------------------
// push: compose a Service Loading push and inject its messages (or print them)

bool parse_ports(const std::string& text, uint16_t* source, uint16_t* destination) {
  size_t colon = text.find(':');
  uint32_t a = 0, b = 0;
  if (colon == std::string::npos || !parse_number(text.substr(0, colon), 0xFFFF, &a) ||
      !parse_number(text.substr(colon + 1), 0xFFFF, &b))
    return false;
  *source = static_cast<uint16_t>(a);
  *destination = static_cast<uint16_t>(b);
  return true;
}

int cmd_push(Modem& m, const std::vector<std::string>& a) {
  sim::PushRequest request;
  bool print = false, have_url = false;
  std::string body_file;
  for (size_t i = 0; i < a.size(); ++i) {
    const std::string& opt = a[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= a.size()) return false;
      *out = a[++i];
      return true;
    };
    std::string v;
    uint32_t n = 0;
    if (opt == "--print") {
      print = true;
    } else if (opt == "--xml") {
      request.text = true;
    } else if (opt == "--no-app-id") {
      request.app_id.reset();
    } else if (opt == "--app-id") {
      if (!value(&v)) return usage_error("--app-id needs TEXT");
      request.app_id = v;
    } else if (opt == "--segments") {
      if (!value(&v) || !parse_number(v, 255, &n) || n == 0) return usage_error("--segments needs a number from 1 to 255");
      request.segments = n;
    } else if (opt == "--port") {
      if (!value(&v) || !parse_ports(v, &request.source_port, &request.destination_port))
        return usage_error("--port needs SRC:DST, each 0 to 65535");
    } else if (opt == "--message-id") {
      if (!value(&v) || !parse_number(v, 0xFFFF, &n)) return usage_error("--message-id needs a number from 0 to 65535");
      request.message_id = static_cast<uint16_t>(n);
    } else if (opt == "--encoding") {
      if (!value(&v) || !parse_number(v, 1, &n)) return usage_error("--encoding needs 0 or 1");
      request.encoding = static_cast<uint8_t>(n);
    } else if (opt == "--header-length") {
      if (!value(&v) || !parse_number(v, 65535, &n) || n == 0) return usage_error("--header-length needs a number from 1 to 65535");
      request.header_length = n;
    } else if (opt == "--content-type") {
      if (!value(&v) || !parse_number(v, 0x7F, &n)) return usage_error("--content-type needs a code from 0x00 to 0x7F");
      request.content_type = static_cast<uint8_t>(n);
    } else if (opt == "--body") {
      if (!value(&body_file)) return usage_error("--body needs FILE");
    } else if (opt.size() > 1 && opt[0] == '-') {
      return usage_error("push: unknown option '" + opt + "'");
    } else if (!have_url) {
      request.url = opt;
      have_url = true;
    } else {
      return usage_error("push takes one URL");
    }
  }
  if (have_url == !body_file.empty()) return usage_error("push needs a URL or --body FILE (one of them)");
  if (have_url && request.url.empty()) return usage_error("the URL is empty");
  if (!body_file.empty()) {
    bool ok = false;
    std::string bytes = read_all(body_file, &ok);
    if (!ok) return 1;
    request.body = sim::PushBytes(bytes.begin(), bytes.end());
  }
  std::vector<sim::PushBytes> messages;
  std::string why;
  if (!sim::compose_push(request, &messages, &why)) return usage_error(why);
  if (print) {
    for (const sim::PushBytes& message : messages)
      std::printf("%s\n", sim::hex_encode(message.data(), message.size()).c_str());
    return std::fflush(stdout) == 0 ? 0 : failure("cannot write to standard output");
  }
  if (plat::device_root().empty()) return usage_error("no device: use --device DIR or set VYRA_DEVICE");
  if (int rc = plat::tool_check_device("vyra-sim", plat::DeviceUse::kExisting); rc != plat::kToolContinue) return rc;
  if (!m.Connect()) return failure("no radio daemon on " + plat::ril_socket_path());
  for (size_t i = 0; i < messages.size(); ++i) {
    std::string text;
    if (m.Control(sim::kSimMessage, messages[i], &text) != plat::kRilResultOk)
      return failure("the radio daemon refused message " + std::to_string(i + 1) + " of " +
                     std::to_string(messages.size()) + (text.empty() ? std::string() : ": " + text));
  }
  return 0;
}

// 0 when the device's registry can be read (a device without one has nothing in it), else
// 1 after the reason: a figure read from a registry that cannot be read would be made up.
int registry_usable() {
  uint32_t ignored = 0;
  if (plat::reg_get_dword(plat::RegRoot::HKLM, u"Software\\VYRA\\Simulator", u"ResetCount", &ignored) ==
      plat::kRegStoreFailed)
    return failure("the registry of the device cannot be read: " + plat::reg_last_error());
  return 0;
}

// The simulated network of the connection manager (HKLM "Software\VYRA\Simulator\Network").
int cmd_network(const std::vector<std::string>& a) {
  const char16_t* key = plat::kNetworkKey;
  // The arguments are checked before the device: a usage error never makes one.
  int device = plat::kToolContinue;
  auto writable = [&] { return (device = plat::tool_check_device("vyra-sim", plat::DeviceUse::kCreate)) == plat::kToolContinue; };
  auto set_sz = [&](const char16_t* name, const std::string& value) {
    return writable() && plat::reg_set_sz(plat::RegRoot::HKLM, key, name, plat::utf8_to_utf16(value)) == plat::kRegOk;
  };
  auto set_dword = [&](const char16_t* name, uint32_t value) {
    return writable() && plat::reg_set_dword(plat::RegRoot::HKLM, key, name, value) == plat::kRegOk;
  };
  auto stored = [&](bool ok) {
    if (device != plat::kToolContinue) return device;
    return ok ? 0 : failure("cannot write the registry: " + plat::reg_last_error());
  };
  if (a.size() == 1 && (a[0] == "up" || a[0] == "down" || a[0] == "wait")) return stored(set_sz(u"Mode", a[0]));
  uint32_t number = 0;
  if (a.size() == 2 && a[0] == "fail") {
    if (!parse_number(a[1], 0xFFFFFFFF, &number)) return usage_error("fail needs a STATUS number (0x21, 33, ...)");
    return stored(set_sz(u"Mode", "fail") && set_dword(u"FailStatus", number));
  }
  if (a.size() == 2 && (a[0] == "delay" || a[0] == "drop")) {
    if (!parse_number(a[1], 0xFFFFFFFF, &number)) return usage_error(a[0] + " needs a number of milliseconds");
    return stored(set_dword(a[0] == "delay" ? u"ConnectDelay" : u"DropAfter", number));
  }
  if ((a.size() == 2 || a.size() == 3) && a[0] == "proxy" && (a[1] == "on" || a[1] == "off")) {
    if (a.size() == 3 && (a[1] != "on" || a[2].empty())) return usage_error("proxy on takes a HOST:PORT");
    bool ok = set_dword(u"Proxy", a[1] == "on" ? 1 : 0);
    if (ok && a.size() == 3) ok = set_sz(u"ProxyServer", a[2]);
    return stored(ok);
  }
  if (a.size() == 2 && a[0] == "backend" && (a[1] == "simulated" || a[1] == "networkmanager"))
    return stored(set_sz(u"Backend", a[1]));
  if (a.size() == 1 && a[0] == "show") {
    if (int rc = plat::tool_check_device("vyra-sim", plat::DeviceUse::kExisting); rc != plat::kToolContinue) return rc;
    auto sz = [&](const char16_t* name, const char* fallback) {
      std::u16string v;
      return plat::reg_get_sz(plat::RegRoot::HKLM, key, name, &v) == plat::kRegOk ? plat::utf16_to_utf8(v)
                                                                                 : std::string(fallback);
    };
    auto dword = [&](const char16_t* name, uint32_t fallback) {
      uint32_t v = fallback;
      plat::reg_get_dword(plat::RegRoot::HKLM, key, name, &v);
      return v;
    };
    std::printf("backend %s\nmode %s\nfail-status 0x%X\ndelay %u\ndrop %u\nproxy %s %s\n",
                sz(u"Backend", "simulated").c_str(), sz(u"Mode", "up").c_str(), dword(u"FailStatus", 0x21),
                dword(u"ConnectDelay", 500), dword(u"DropAfter", 0), dword(u"Proxy", 0) ? "on" : "off",
                sz(u"ProxyServer", "127.0.0.1:3128").c_str());
    return 0;
  }
  return usage_error("network needs up, down, wait, fail STATUS, delay MS, drop MS, proxy on [HOST:PORT]|off, "
                     "backend simulated|networkmanager or show");
}

// The handset's browser saves a provisioning document where the client looks for it and
// signals "browser_event". The file is written beside and renamed into place, so the client
// never reads half of it.
int cmd_browser(const std::vector<std::string>& a) {
  if (a.size() != 1) return usage_error("browser needs FILE");
  bool ok = false;
  std::string document = read_all(a[0], &ok);
  if (!ok) return 1;
  std::string path = plat::host_path(std::string_view("\\Program Files\\Fennick3.0\\content.mmc"));
  if (path.empty()) return failure("no device: give --device DIR or set VYRA_DEVICE");
  if (!plat::make_parent_dirs(path)) return failure("cannot make the folder of " + path);
  std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(document.data(), static_cast<std::streamsize>(document.size()));
    if (!out.flush()) return failure("cannot write " + temporary);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) return failure("cannot write " + path);
  plat::NamedEvent* e = plat::event_open("browser_event");
  if (e == nullptr) return failure("cannot open the named event 'browser_event'");
  bool set = plat::event_set(e);
  plat::event_close(e);
  return set ? 0 : failure("cannot signal 'browser_event'");
}

// What each command needs from the device: read-only ones an existing device, the ones
// that record something may make it; push, network and ras decide per sub-command.
plat::DeviceUse device_for_command(const char* command) {
  using plat::DeviceUse;
  if (command == nullptr) return DeviceUse::kNone;
  const std::string c = command;
  if (c == "push" || c == "network" || c == "ras") return DeviceUse::kNone;  // checked by the command
  if (c == "signal" || c == "browser") return DeviceUse::kCreate;
  for (const char* existing : {"message", "state", "call-end", "radio", "status", "nv", "prl", "mip", "is683", "resets"})
    if (c == existing) return DeviceUse::kExisting;
  return DeviceUse::kNone;  // not a command: reported as bad usage
}

}  // namespace

int main(int argc, char** argv) {
  plat::ToolSpec program{"vyra-sim", kUsage, plat::DeviceUse::kNone, device_for_command};
  if (int rc = plat::tool_start(program, argc, argv); rc != plat::kToolContinue) return rc;
  if (argc < 2) return usage_error("no command");
  if (std::strcmp(argv[1], "push") == 0) {
    Modem m;
    return cmd_push(m, std::vector<std::string>(argv + 2, argv + argc));
  }
  std::string cmd = argv[1];
  std::vector<std::string> a(argv + 2, argv + argc);
  Modem m;
  if (cmd == "message") {
    std::vector<uint8_t> data;
    if (a.size() == 2 && a[0] == "--hex") {
      if (!sim::hex_decode(a[1], &data)) return usage_error("--hex needs hex pairs");
    } else if (a.size() == 1) {
      bool ok = false;
      std::string bytes = read_all(a[0], &ok, sim::kMaxMessage + 1);
      if (!ok) return 1;
      data.assign(bytes.begin(), bytes.end());
    } else {
      return usage_error("message needs FILE (- for the standard input) or --hex HEX");
    }
    if (data.empty() || data.size() > sim::kMaxMessage) return usage_error("a message has 1 to 1024 bytes");
    return cmd_control(m, sim::kSimMessage, data, true);  // "delivered" or "stored"
  }
  if (cmd == "ras") {
    if (a.size() == 1 && a[0] == "list") {
      if (int rc = plat::tool_check_device("vyra-sim", plat::DeviceUse::kExisting); rc != plat::kToolContinue) return rc;
      if (int rc = registry_usable(); rc != 0) return rc;
      plat::RasConn conns[64] = {};
      conns[0].size = sizeof(plat::RasConn);
      uint32_t bytes = sizeof conns, count = 0;
      if (plat::ras_enum_connections(conns, &bytes, &count) != 0) return failure("too many connections to list");
      for (uint32_t i = 0; i < count; ++i)
        std::printf("%u %s\n", conns[i].handle, plat::utf16_to_utf8(conns[i].entry_name).c_str());
      return 0;
    }
    if ((a.size() == 2 || a.size() == 3) && a[0] == "add") {
      unsigned long handle = 1;
      if (a.size() == 3) {
        char* end = nullptr;
        handle = std::strtoul(a[2].c_str(), &end, 0);
        if (a[2].empty() || *end != '\0' || handle == 0 || handle > 0xFFFFFFFFul)
          return usage_error("HANDLE is a number from 1 to 0xFFFFFFFF");
      }
      if (a[1].empty()) return usage_error("NAME is empty");
      if (int rc = plat::tool_check_device("vyra-sim", plat::DeviceUse::kCreate); rc != plat::kToolContinue) return rc;
      return plat::ras_add_connection(plat::utf8_to_utf16(a[1]), static_cast<uint32_t>(handle))
                 ? 0
                 : failure("cannot record the connection");
    }
    return usage_error("ras needs add NAME [HANDLE] or list");
  }
  if (cmd == "resets") {
    if (!a.empty()) return usage_error("resets takes no arguments");
    if (int rc = registry_usable(); rc != 0) return rc;
    std::printf("%u\n", plat::ui_reset_count());
    return 0;
  }
  if (cmd == "signal") {
    bool pulse = a.size() == 2 && a[1] == "--pulse";
    if (a.empty() || a.size() > 2 || (a.size() == 2 && !pulse)) return usage_error("signal needs NAME [--pulse]");
    plat::NamedEvent* e = plat::event_open(a[0]);
    if (e == nullptr) return failure("cannot open the named event '" + a[0] + "'");
    bool ok = pulse ? plat::event_pulse(e) : plat::event_set(e);
    plat::event_close(e);
    return ok ? 0 : failure("cannot signal '" + a[0] + "'");
  }
  if (cmd == "state") {
    static const char* names[] = {"idle", "call", "data-active", "data-dormant"};
    for (uint32_t i = 0; i < 4; ++i)
      if (a.size() == 1 && a[0] == names[i]) return cmd_control(m, sim::kSimState, word(i), false);
    return usage_error("state needs idle, call, data-active or data-dormant");
  }
  if (cmd == "network") return cmd_network(a);
  if (cmd == "browser") return cmd_browser(a);
  if (cmd == "call-end") {
    if (!a.empty()) return usage_error("call-end takes no arguments");
    return cmd_control(m, sim::kSimCallEnd, {}, false);
  }
  if (cmd == "radio") {
    if (a.size() != 1 || (a[0] != "on" && a[0] != "off")) return usage_error("radio needs on or off");
    return cmd_control(m, sim::kSimRadio, word(a[0] == "on" ? 1 : 0), false);
  }
  if (cmd == "status") {
    if (!a.empty()) return usage_error("status takes no arguments");
    return cmd_control(m, sim::kSimStatus, {}, true);
  }
  if (cmd == "nv") return cmd_nv(m, a);
  if (cmd == "prl") return cmd_prl(m, a);
  if (cmd == "mip") return cmd_mip(m, a);
  if (cmd == "is683") return cmd_is683(m, a);
  return usage_error((!cmd.empty() && cmd[0] == '-' ? "unknown option '" : "unknown command '") + cmd + "'");
}
