/* kova.h: the telephony bridge KovaDll (libkova.so).
 *
 * The bridge reads and writes the handset's provisioned settings (registry, files and the
 * modem over the radio interface), tells its one client about incoming provisioning
 * messages and about activation and stop requests, and shows the user the course of a
 * provisioning session.
 *
 * Every operation returns a 32-bit status: 0 success, -1 failure unless said otherwise. Each
 * takes the client handle first; only KovaInitialize and KovaDeinitialize use it. Every
 * record passed in is owned by the caller: the bridge copies into it and never allocates for
 * the caller. The library serves one client; its modem operations are serialised by one
 * lock, so a call from the client and the session watchdog's restores never interleave.
 *
 * Records are byte layouts (packed); their sizes and offsets are checked at compile time.
 */
#ifndef KOVA_H
#define KOVA_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KOVA_API __attribute__((visibility("default")))
#else
#define KOVA_API
#endif

/* ---- Client handle and callback --------------------------------------------------- */

/* Opaque; from KovaInitialize to KovaDeinitialize. */
typedef struct KovaClient* KOVA_HANDLE;

/* The client callback: code (below), data and size as the code says, and the user value
 * given to KovaInitialize. It runs on one of the bridge's threads (notification thread,
 * radio notification thread, dormancy monitor), never under a lock of the bridge, and may
 * run on two of them at once: the client queues the work and returns. It returns 0, or a
 * negative code when it could not take a message (KOVA_NOTIFY_MESSAGE): the message then
 * stays with the radio and is offered again to the next client. */
typedef int32_t (*KOVA_CALLBACK)(uint32_t code, const void* data, uint32_t size, uint32_t user);

#define KOVA_NOTIFY_MESSAGE 0x20001u       /* data: KovaMessageRecord (valid during the call), 1028 */
#define KOVA_NOTIFY_VYRAACTIVATE 0x40001u  /* no data, 0: "ZEM_NOTIFY_VYRAACTIVATE" was signalled */
#define KOVA_NOTIFY_VYRASTOP 0x40002u      /* no data, 0: "ZEM_NOTIFY_VYRASTOP" was signalled */

#define KOVA_MESSAGE_MAX 1024u

#pragma pack(push, 1)

/* An incoming provisioning message as the radio delivered it: little-endian payload
 * length, then up to 1024 payload bytes (the WAP/WDP push data). */
typedef struct KovaMessageRecord {
  uint32_t length;
  uint8_t data[KOVA_MESSAGE_MAX];
} KovaMessageRecord;

/* ---- Parameter records ------------------------------------------------------------ */

/* Generic parameter ids. */
enum {
  kKovaMMCGenericWdp = 1,
  kKovaMMCGenericHomepage = 2,
  kKovaMMCGenericPrlStorage = 3,
  kKovaMMCGenericModel = 4,
  kKovaMMCGenericOEM = 5,
  kKovaMMCGenericPsaVersion = 6,
  kKovaMMCGenericSwVersion = 7,
  kKovaMMCGenericBootUrl = 8,
  kKovaMMCGenericDomainTrusted = 9
};

/* 132 bytes. length: for a set, the capacity of value in characters including the
 * terminating zero (at most 128); a get leaves it alone. value: zero-terminated, ANSI. */
typedef struct _KovaMMCGenericParam {
  uint16_t id;
  uint16_t length;
  char value[128];
} _KovaMMCGenericParam;

/* Simple IP selector bits: exactly one names the slot a get or set works on. */
enum {
  KOVA_SIP_EDGE_PROXY0 = 0x0001,
  KOVA_SIP_EDGE_PROXY1 = 0x0002,
  KOVA_SIP_DATA_EXCHANGE0 = 0x0004,
  KOVA_SIP_DATA_EXCHANGE1 = 0x0008,
  KOVA_SIP_DATA_GATEWAY0 = 0x0010,
  KOVA_SIP_DATA_GATEWAY1 = 0x0020,
  KOVA_SIP_CONFIG_SERVER0 = 0x0040,
  KOVA_SIP_CONFIG_SERVER1 = 0x0080,
  KOVA_SIP_IM_STORE0 = 0x0100,
  KOVA_SIP_IM_STORE1 = 0x0200,
  KOVA_SIP_RETRY_TIMER0 = 0x0400,
  KOVA_SIP_RETRY_TIMER1 = 0x0800,
  KOVA_SIP_RETRY_COUNT0 = 0x1000,
  KOVA_SIP_RETRY_COUNT1 = 0x2000
};

/* 1118 bytes: 14 slots, each a length byte and its data. On a get the length byte is the
 * character count; on a set it is the capacity including the terminating zero. */
typedef struct _KovaMMCNAISIPData {
  uint16_t profile; /* not used */
  uint16_t selector;
  uint8_t edge_proxy0_len;
  char edge_proxy0[20];
  uint8_t edge_proxy1_len;
  char edge_proxy1[20];
  uint8_t data_exchange0_len;
  char data_exchange0[128];
  uint8_t data_exchange1_len;
  char data_exchange1[128];
  uint8_t data_gateway0_len;
  char data_gateway0[128];
  uint8_t data_gateway1_len;
  char data_gateway1[128];
  uint8_t config_server0_len;
  char config_server0[128];
  uint8_t config_server1_len;
  char config_server1[128];
  uint8_t im_store0_len;
  char im_store0[128];
  uint8_t im_store1_len;
  char im_store1[128];
  uint8_t retry_timer0_len;
  char retry_timer0[9];
  uint8_t retry_timer1_len;
  char retry_timer1[9];
  uint8_t retry_count0_len;
  char retry_count0[9];
  uint8_t retry_count1_len;
  char retry_count1[9];
} _KovaMMCNAISIPData;

/* Mobile IP field mask bits (KovaMMCSetNAIMIPParam). */
enum {
  KOVA_MIP_NAI = 0x001,
  KOVA_MIP_SS2 = 0x002,
  KOVA_MIP_SS1 = 0x004,
  KOVA_MIP_MN_HA_SPI = 0x008,
  KOVA_MIP_MN_AAA_SPI = 0x010,
  KOVA_MIP_REV_TUN = 0x020,
  KOVA_MIP_HOME_ADDR = 0x040,
  KOVA_MIP_HA_PRIMARY = 0x080,
  KOVA_MIP_HA_SECONDARY = 0x100
};

/* 143 bytes: profile index, field mask (set only), then the 140-byte parameter block.
 * Addresses and SPIs travel to and from the modem item little-endian. */
typedef struct _KovaMMCNAIMIPData {
  uint8_t profile;
  uint16_t mask;
  uint32_t nai_length; /* low byte used */
  uint8_t nai[72];
  uint32_t ss2_length;
  uint8_t ss2[16];
  uint32_t ss1_length;
  uint8_t ss1[16];
  uint32_t mn_ha_spi;
  uint32_t mn_aaa_spi;
  uint32_t home_address;
  uint32_t ha_primary;
  uint32_t ha_secondary;
  uint32_t rev_tunneling; /* low byte used */
} _KovaMMCNAIMIPData;

/* Reserved: the PPG operations always fail and never read it. */
typedef struct _KovaMMCNAIPPGData {
  uint16_t profile;
  uint16_t length;
  char value[128];
} _KovaMMCNAIPPGData;

/* type 1 or 2; the bridge stores 9 digits and a terminating zero in text. */
typedef struct _KovaMMCCDMAParamData {
  uint16_t type;
  uint16_t length;
  char text[10];
} _KovaMMCCDMAParamData;

/* A caller-owned buffer: length in bytes (capacity or count, as each operation says). */
typedef struct _KovaMMCDataBuffer {
  uint16_t length;
  uint8_t* data;
} _KovaMMCDataBuffer;

typedef struct _KovaMMCRootCertSize {
  uint16_t index;
  uint16_t size; /* out */
} _KovaMMCRootCertSize;

typedef struct _KovaMMCRootCert {
  uint16_t index;
  uint16_t length; /* capacity for a read, byte count for a write */
  uint8_t* data;
} _KovaMMCRootCert;

#pragma pack(pop)

/* ---- Status values (KovaSendStatus) ----------------------------------------------- */

#define KOVA_STATUS_VYRASTART 1
#define KOVA_STATUS_VYRAEND 2
#define KOVA_STATUS_VYRAERROR 3
#define KOVA_STATUS_CONNECTING 4
#define KOVA_STATUS_DISCONNECTING 5
#define KOVA_STATUS_CONNECTED 6
#define KOVA_STATUS_CONNECTIONFAILED 7

/* ---- Life cycle ------------------------------------------------------------------- */

/* Opens the bridge for a client: stores callback and user (handed back as the callback's
 * fourth argument), opens the radio interface (a failure there is silent: later modem
 * operations fail), starts "\Windows\CDMAConn.exe" "/n" and the notification thread.
 * classes is accepted and ignored. A second call without KovaDeinitialize reattaches the
 * radio interface. -1 when handle_out is NULL or memory runs out.
 * Callbacks may start before it returns (a message the radio kept for the client): the
 * client makes ready what its callback needs first. They run on the notification thread
 * (0x40001, 0x40002), the radio's notification thread and the dormancy monitor (0x20001). */
KOVA_API int32_t KovaInitialize(KOVA_CALLBACK callback, uint32_t classes, uint32_t user, KOVA_HANDLE* handle_out);

/* Ends the session watchdog and the notification thread, clears the callback, closes the
 * radio interface and releases the handle; no callback is made after it returns. It waits
 * for callbacks running on other threads (so it may be called from inside a callback, which
 * is not waited for) and for an exchange in progress (up to 15 s). Messages the bridge
 * still holds go back to the radio, which offers them to the next client. -1 for a NULL
 * handle. */
KOVA_API int32_t KovaDeinitialize(KOVA_HANDLE handle);

/* ---- Session status --------------------------------------------------------------- */

/* KOVA_STATUS_VYRASTART / VYRAEND / VYRAERROR drive the session's user interface; other
 * values give -1. code is ignored. */
KOVA_API int32_t KovaSendStatus(KOVA_HANDLE handle, uint32_t status, uint32_t code);

/* ---- Generic parameters (registry) ------------------------------------------------ */

/* record->id 1 to 9; value filled zero-terminated (a missing value reads as empty). */
KOVA_API int32_t KovaMMCGetGenericParam(KOVA_HANDLE handle, _KovaMMCGenericParam* record);
/* Ids 4, 5 and 7 are read-only (0, nothing written). Registry failures are not reported. */
KOVA_API int32_t KovaMMCSetGenericParam(KOVA_HANDLE handle, _KovaMMCGenericParam* record);
/* buffer: 128 bytes, filled zero-terminated. */
KOVA_API int32_t KovaMMCGetNAIUrl(KOVA_HANDLE handle, char* buffer);
/* text: zero-terminated, at most 128 characters. */
KOVA_API int32_t KovaMMCSetNAIUrl(KOVA_HANDLE handle, const char* text);
/* Copies the writable values back from the defaults key. */
KOVA_API int32_t KovaMMCRestore(KOVA_HANDLE handle);

/* ---- NAI profiles ----------------------------------------------------------------- */

/* The active data-profile index (modem data item 464). The first success of the process
 * also remembers it for the session end. */
KOVA_API int32_t KovaMMCGetCurrentNAIID(KOVA_HANDLE handle, uint8_t* index_out);
/* Makes index the active data profile (data item 464). */
KOVA_API int32_t KovaMMCSetCurrentNAIID(KOVA_HANDLE handle, uint8_t index);
/* record->profile (0 to 14) in; the NAI, SPIs, addresses and reverse tunnelling of that
 * Mobile IP profile (items 465) out; the mask and the secrets are not touched. A profile the
 * modem never had reads as zeros. -1 (record unchanged) for a bad index, no answer, or an
 * answer about another item or profile. */
KOVA_API int32_t KovaMMCGetNAIMIPParam(KOVA_HANDLE handle, _KovaMMCNAIMIPData* record);
/* Writes the fields named in record->mask into profile record->profile (items 465 and 3021,
 * read, changed and written back as one operation that nothing else interleaves with).
 * -1 before anything is written for a bad index, an NAI over 72 bytes or a secret over 16;
 * -1 after item 465 was written and 3021 failed: 465 is put back as it was. */
KOVA_API int32_t KovaMMCSetNAIMIPParam(KOVA_HANDLE handle, _KovaMMCNAIMIPData* record);
/* record->selector: exactly one KOVA_SIP_* bit; fills that slot's length byte (characters)
 * and zero-terminated text from the registry (missing: empty). -1 for another selector or
 * a stored value that does not fit the slot with its terminator. */
KOVA_API int32_t KovaMMCGetNAISIPParam(KOVA_HANDLE handle, _KovaMMCNAISIPData* record);
/* record->selector: one KOVA_SIP_* bit; the slot's length byte is its capacity with the
 * terminator and the text must end inside it (else -1, nothing stored). Registry failures
 * are not reported. */
KOVA_API int32_t KovaMMCSetNAISIPParam(KOVA_HANDLE handle, _KovaMMCNAISIPData* record);
/* Does nothing; 0. */
KOVA_API int32_t KovaMMCSetRestoreDefaultNAI(KOVA_HANDLE handle);
/* Always -1; the record is not read. */
KOVA_API int32_t KovaMMCGetNAIPPG(KOVA_HANDLE handle, _KovaMMCNAIPPGData* record);
KOVA_API int32_t KovaMMCSetNAIPPG(KOVA_HANDLE handle, _KovaMMCNAIPPGData* record);
KOVA_API int32_t DactMMCSetNAIPPG(KOVA_HANDLE handle, _KovaMMCNAIPPGData* record);
/* *state_out: 1 when a packet-data connection is up, else 0. */
KOVA_API int32_t KovaDSGetNAISignedState(KOVA_HANDLE handle, uint32_t* state_out);
/* Does nothing; 0. */
KOVA_API int32_t KovaDSSetNAISignedState(KOVA_HANDLE handle, uint32_t state);
/* record->type 1 or 2 in; 9 digits, a terminator and length 9 out. -1 for another type. */
KOVA_API int32_t KovaMMCGetCDMAParam(KOVA_HANDLE handle, _KovaMMCCDMAParamData* record);

/* ---- Roaming list, user zone list, IS-683 ----------------------------------------- */

/* *size_out: the roaming list's own size field (its first two bytes, big-endian), from the
 * first block the modem returns. -1 for NULL or a bad first block. */
KOVA_API int32_t KovaMMCGetPRLDataSize(KOVA_HANDLE handle, uint16_t* size_out);
/* record->length: capacity in, list size out. */
KOVA_API int32_t KovaMMCGetPRLData(KOVA_HANDLE handle, _KovaMMCDataBuffer* record);
/* Replaces the roaming list (the old one is kept as a backup for a failed session). */
KOVA_API int32_t KovaMMCSetPRLData(KOVA_HANDLE handle, _KovaMMCDataBuffer* record);
/* The user zone list lives in the library's memory (8192 bytes, zero at load) and never
 * reaches the modem. *size_out: 8192; 0 always. */
KOVA_API int32_t KovaMMCGetPUZLDataSize(KOVA_HANDLE handle, uint16_t* size_out);
/* Copies the 8192 bytes when record->length is exactly 8192 (else nothing); 0 always. */
KOVA_API int32_t KovaMMCGetPUZLData(KOVA_HANDLE handle, _KovaMMCDataBuffer* record);
/* Copies up to 8192 of record->length bytes in (none for an empty record); 0 always. */
KOVA_API int32_t KovaMMCSetPUZLData(KOVA_HANDLE handle, _KovaMMCDataBuffer* record);
/* Hands one IS-683 message (at most 243 bytes) to the modem and keeps its answer. 0 always;
 * a failure leaves a kept length of 0 and ends the session with an error. */
KOVA_API int32_t KovaMMCProcessIS683Data(KOVA_HANDLE handle, _KovaMMCDataBuffer* record);
/* *size_out: the length of the answer kept by the last KovaMMCProcessIS683Data (0 after a
 * failure). -1 for NULL. */
KOVA_API int32_t KovaMMCGetIS683ResultSize(KOVA_HANDLE handle, uint16_t* size_out);
/* Copies record->length bytes (at most 256) of the kept answer area, zero beyond the answer.
 * -1 for NULL data or a longer length. */
KOVA_API int32_t KovaMMCGetIS683Result(KOVA_HANDLE handle, _KovaMMCDataBuffer* record);

/* ---- Root certificates ("\Program Files\vyra\RootCert%d.crt") --------------------- */

/* record->index in; record->size: the bytes of certificate slot 0 to 3, 0 when it is
 * missing, over 4096 bytes or the index is out of range. -1 for NULL only. */
KOVA_API int32_t KovaMMCGetRootCertSize(KOVA_HANDLE handle, _KovaMMCRootCertSize* record);
/* index_size[0]: index in; index_size[1]: size out (the same pair as _KovaMMCRootCertSize). */
KOVA_API int32_t KovaMMCGetRootCertDataSize(KOVA_HANDLE handle, uint16_t* index_size);
/* record->index (0 to 3) and record->length (capacity, at most 4096) in; the certificate's
 * bytes into record->data. -1 for a missing certificate, one larger than the capacity or a
 * short read; record->length is not changed (ask the size first). */
KOVA_API int32_t KovaMMCGetRootCert(KOVA_HANDLE handle, _KovaMMCRootCert* record);
/* Stores record->length bytes (at most 4096) as certificate slot record->index (0 to 3),
 * making the program folder when needed. Written beside and renamed over the old one: -1
 * leaves the old certificate as it was. */
KOVA_API int32_t KovaMMCSetRootCert(KOVA_HANDLE handle, _KovaMMCRootCert* record);

#ifdef __cplusplus
}

static_assert(sizeof(KovaMessageRecord) == 1028, "message record");
static_assert(sizeof(_KovaMMCGenericParam) == 132, "generic parameter record");
static_assert(offsetof(_KovaMMCGenericParam, value) == 4, "generic parameter value");
static_assert(sizeof(_KovaMMCNAISIPData) == 1118, "Simple IP record");
static_assert(offsetof(_KovaMMCNAISIPData, edge_proxy1_len) == 25, "Simple IP slot 2");
static_assert(offsetof(_KovaMMCNAISIPData, data_exchange0_len) == 46, "Simple IP slot 3");
static_assert(offsetof(_KovaMMCNAISIPData, im_store1_len) == 949, "Simple IP slot 10");
static_assert(offsetof(_KovaMMCNAISIPData, retry_timer0_len) == 1078, "Simple IP slot 11");
static_assert(offsetof(_KovaMMCNAISIPData, retry_count1_len) == 1108, "Simple IP slot 14");
static_assert(sizeof(_KovaMMCNAIMIPData) == 3 + 140, "Mobile IP record");
static_assert(offsetof(_KovaMMCNAIMIPData, nai) == 7, "Mobile IP NAI");
static_assert(offsetof(_KovaMMCNAIMIPData, rev_tunneling) == 139, "Mobile IP reverse tunnelling");
static_assert(sizeof(_KovaMMCCDMAParamData) == 14, "CDMA parameter record");
static_assert(offsetof(_KovaMMCDataBuffer, data) == 2, "data buffer");
static_assert(sizeof(_KovaMMCRootCertSize) == 4, "root certificate size record");
static_assert(offsetof(_KovaMMCRootCert, data) == 4, "root certificate record");
#endif

#endif /* KOVA_H */
