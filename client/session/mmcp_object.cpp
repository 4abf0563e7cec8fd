#include "client/session/mmcp_object.h"

#include <climits>
#include <cstring>
#include <string_view>

#include "client/formats/mmcp_utils.h"
#include "common/wrapper.h"

const MmcObjectEntry mmc_object_table[kMmcObjectCount + 1] = {
    {"phone:proxy..?.address..?.wdp", kAccessReadWrite, kApplyDeferred, kClassGeneric, 1},
    {"phone:homepage", kAccessReadOnly, kApplyNever, kClassGeneric, 2},
    {"phone:cdma.prl.storage.available", kAccessReadOnly, kApplyNever, kClassGeneric, 3},
    {"phone:model", kAccessReadOnly, kApplyNever, kClassGeneric, 4},
    {"phone:oem", kAccessReadOnly, kApplyNever, kClassGeneric, 5},
    {"phone:psa.version", kAccessReadOnly, kApplyNever, kClassGeneric, 6},
    {"phone:version.software", kAccessReadOnly, kApplyNever, kClassGeneric, 7},
    {"phone:boot.url", kAccessReadWrite, kApplyDeferred, kClassGeneric, 8},
    {"browser:domain.trusted", kAccessReadWrite, kApplyDeferred, kClassGeneric, 9},
    {"phone:cdma.is683", kAccessWriteOnly, kApplyImmediate, kClassIs683Data, 0},
    {"phone:cdma.is683.result", kAccessReadOnly, kApplyNever, kClassIs683Result, 0},
    {"phone:cdma.prl", kAccessReadWrite, kApplyDeferred, kClassPrl, 0},
    {"phone:cdma.vyra.level", kAccessReadOnly, kApplyNever, kClassLevel, 1},
    {"phone:cdma.is683.level", kAccessReadOnly, kApplyNever, kClassLevel, 2},
    {"phone:boot.naiurl", kAccessReadWrite, kApplyDeferred, kClassNaiUrl, 0},
    {"phone:cdma.puzl", kAccessReadWrite, kApplyDeferred, kClassPuzl, 0},
    {"phone:nai.current", kAccessReadOnly, kApplyDeferred, kClassCurrentNai, 0},
    {"phone:nai..?.ppg", kAccessReadWrite, kApplyDeferred, kClassPpg, 0},
    {"phone:nai..?.sip.edgeproxy..?", kAccessReadWrite, kApplyDeferred, kClassSip, 1},
    {"phone:nai..?.sip.dataexchange..?", kAccessReadWrite, kApplyDeferred, kClassSip, 4},
    {"phone:nai..?.sip.datagateway..?", kAccessReadWrite, kApplyDeferred, kClassSip, 16},
    {"phone:nai..?.sip.retrytimer..?", kAccessReadWrite, kApplyDeferred, kClassSip, 1024},
    {"phone:nai..?.sip.retrycount..?", kAccessReadWrite, kApplyDeferred, kClassSip, 4096},
    {"phone:nai..?.sip.configserver..?", kAccessReadWrite, kApplyDeferred, kClassSip, 64},
    {"phone:nai..?.im.store..?", kAccessReadWrite, kApplyDeferred, kClassSip, 256},
    {"browser:display.message", kAccessWriteOnly, kApplyImmediate, kClassDisplayMessage, 0},
    {"browser:display.confirm", kAccessWriteOnly, kApplyImmediate, kClassDisplayConfirm, 0},
    {"browser:reset", kAccessWriteOnly, kApplyDeferred, kClassBrowserReset, 0},
    {"phone:reset", kAccessWriteOnly, kApplyDeferred, kClassPhoneReset, 0},
    {"phone:restartsession", kAccessWriteOnly, kApplyDeferred, kClassRestartSession, 0},
    {"phone:restore", kAccessWriteOnly, kApplyDeferred, kClassRestore, 0},
    {"phone:j2me.splash.0", kAccessWriteOnly, kApplyDeferred, kClassSplash, 0},
    {"phone:j2me.splash.1", kAccessWriteOnly, kApplyDeferred, kClassSplash, 0},
    {"phone:vending.url", kAccessReadWrite, kApplyDeferred, kClassVendingUrl, 0},
    {"phone:downloadserver.url", kAccessReadWrite, kApplyDeferred, kClassDownloadServerUrl, 0},
    {"phone:downloadserver.lock", kAccessReadWrite, kApplyDeferred, kClassDownloadServerLock, 0},
    {"phone:tls.x.509.rootcert..?", kAccessWriteOnly, kApplyDeferred, kClassRootCert, 0},
    {"phone:cdma.nam.mdn", kAccessReadWrite, kApplyImmediate, kClassMdn, 0},
    {"phone:cdma.nam.msid", kAccessReadWrite, kApplyImmediate, kClassMsid, 0},
    {"", 0, 0, 0, 0},
};

int mmc_object_match(const char* name, const char* pattern) {
  if (name == nullptr || pattern == nullptr) return -1;
  constexpr size_t kNone = std::string_view::npos;
  std::string_view n(name), p(pattern);
  size_t at_name = 0, at_pattern = 0;
  for (;;) {
    size_t mark_name = n.find(kObjectIndexMark, at_name);
    size_t mark_pattern = p.find(kObjectIndexMark, at_pattern);
    if (mark_name == kNone || mark_pattern == kNone)
      return n.substr(at_name) == p.substr(at_pattern) ? 0 : -1;
    if (n.substr(at_name, mark_name - at_name) != p.substr(at_pattern, mark_pattern - at_pattern)) return -1;
    if (mark_pattern + 2 >= p.size() || p[mark_pattern + 2] != '?') return -1;
    size_t index_end = n.find('.', mark_name + 2);
    at_name = index_end == kNone ? n.size() : index_end;
    at_pattern = mark_pattern + 3;
    if (at_name == n.size() && at_pattern == p.size()) return 0;
  }
}

int mmc_object_lookup(const char* name) {
  for (int i = 0; mmc_object_table[i].name[0] != '\0'; ++i)
    if (mmc_object_match(name, mmc_object_table[i].name) == 0) return i;
  return -1;
}

char* mmc_object_index(const char* name, int n) {
  size_t start = 0, length = 0;
  if (mmc_object_index_span(name, n, &start, &length) != 1) return nullptr;
  return str_copy_span(name, static_cast<int>(start), static_cast<int>(length));
}

int32_t mmc_index_value(const char* text) {
  if (text == nullptr) return 0;
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > INT32_MAX) return INT32_MAX;
  }
  return static_cast<int32_t>(value);
}
