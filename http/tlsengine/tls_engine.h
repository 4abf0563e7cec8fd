// The TLS client engine of the HTTP library: a table of operations over one caller-provided
// context block, with all I/O, randomness and the certificate verdict reached through
// callbacks that the glue installs. Realised on OpenSSL (libssl); TLS 1.2 or newer only.
//
// Every operation returns a 16-bit result; 0 (TLSNoErr) is success.
#pragma once

#include <cstddef>
#include <cstdint>

using TLSErr = uint16_t;

constexpr TLSErr TLSNoErr = 0;
constexpr TLSErr TLSClosed = 2;           // the peer closed the session (close_notify)
constexpr TLSErr TLSIOError = 3;
constexpr TLSErr TLSWouldBlock = 4;
constexpr TLSErr TLSNoContext = 5;
constexpr TLSErr TLSMissingCallback = 7;
constexpr TLSErr TLSBufferTooSmall = 8;
constexpr TLSErr TLSHandshakeFailed = 9;
constexpr TLSErr TLSNoSuites = 10;
constexpr TLSErr TLSRandomFailed = 12;
constexpr TLSErr TLSFatalAlert = 17;
constexpr TLSErr TLSBadArgument = 18;
constexpr TLSErr TLSNotFound = 19;
constexpr TLSErr TLSBadCertificate = 21;
constexpr TLSErr TLSCertificateRefused = 22;
constexpr TLSErr TLSEndOfData = 30;       // the connection ended without close_notify
// Results of the random callback when the generator reports one of its own errors.
constexpr TLSErr TLSRandomUnavailable = 1;
constexpr TLSErr TLSGeneratorUnseeded = 0xF001;
constexpr TLSErr TLSGeneratorRequestFailed = 0xF003;

// Alert levels handed to the alert callback.
constexpr int TLSAlertLevelWarning = 1;
constexpr int TLSAlertLevelFatal = 2;

// Subject attributes of TLSGetCertificateAttribute.
constexpr int TLSAttributeCommonName = 0;
constexpr int TLSAttributeOrganization = 1;

// Chain error codes handed to the chain callback.
constexpr uint16_t TLSChainOk = 0;
constexpr uint16_t TLSChainExpired = 23;
constexpr uint16_t TLSChainHostMismatch = 24;
constexpr uint16_t TLSChainBasicConstraints = 25;
constexpr uint16_t TLSChainKeyUsage = 26;
constexpr uint16_t TLSChainUnknownCritical = 27;
constexpr uint16_t TLSChainBadSignature = 28;
constexpr uint16_t TLSChainNameMismatch = 29;
constexpr uint16_t TLSChainOther = 31;

struct TLSBuffer {
  uint32_t length;  // in: capacity or size; out (attributes): text length
  unsigned char* data;
};

struct TLSCipherSuiteList {
  uint32_t byte_count;  // 2 per suite
  const uint16_t* suites;
};

struct TLSCertificate;  // a peer certificate, valid during the chain callback

using TLSReadFunc = TLSErr (*)(uint32_t size, unsigned char* buffer, uint32_t* out_count, void* io_ref);
using TLSWriteFunc = TLSErr (*)(uint32_t size, const unsigned char* bytes, uint32_t* out_count, void* io_ref);
using TLSAlertFunc = TLSErr (*)(void* context, int level);
using TLSRandomFunc = TLSErr (*)(TLSBuffer* request, void* random_ref);
using TLSCheckChainFunc = TLSErr (*)(void* context, const TLSCertificate* cert, void* unused,
                                     uint16_t error, int trusted);

// Session-cache callbacks registered with ConfigureContextForDB. lookup returns 19 when it
// has nothing for the peer.
struct TLSSessionDB {
  TLSErr (*store)(void* ref, const TLSBuffer* peer_id, const TLSBuffer* session);
  TLSErr (*lookup)(void* ref, const TLSBuffer* peer_id, TLSBuffer* session);
  TLSErr (*remove)(void* ref, const TLSBuffer* peer_id);
  void* ref;
};

// Protocol settings accepted for compatibility; every one negotiates TLS 1.2 or 1.3.
constexpr int TLSProtocolDefault = 769;
constexpr int TLSProtocolTLSRecords = 102;

uint32_t TLSGetContextSize(uint32_t work_buffer_size);
TLSErr TLSInitContext(void* context, uint32_t work_buffer_size, void* parent);
TLSErr ConfigureContextForDB(void* context, const TLSSessionDB* db);
TLSErr TLSSetPeerID(void* context, uint32_t length, const void* id);
// Host name for server name indication and for matching the certificate (1 to 255 bytes).
TLSErr TLSSetPeerName(void* context, const char* host);
TLSErr TLSSetIORef(void* context, void* io_ref);
TLSErr TLSEnableNonBlocking(void* context);
TLSErr TLSSetAlertFunc(void* context, TLSAlertFunc f);
TLSErr TLSSetReadFunc(void* context, TLSReadFunc f);
TLSErr TLSSetWriteFunc(void* context, TLSWriteFunc f);
TLSErr TLSSetRandomFunc(void* context, TLSRandomFunc f);
TLSErr TLSSetRandomRef(void* context, void* ref);
TLSErr TLSSetCheckCertificateChainFunc(void* context, TLSCheckChainFunc f);
TLSErr TLSSetProtocolVersion(void* context, int setting);
TLSErr TLSSetCipherSuites(void* context, const TLSCipherSuiteList* list);
TLSErr TLSSetCryptographicStrength(void* context, int level);
// A trusted certificate: DER bytes, or PEM text with one or more certificates. 21 when
// nothing in it can be read.
TLSErr TLSAddTrustedRoot(void* context, const TLSBuffer* cert);
// 0 finished; 4 call again (non-blocking); anything else failed.
TLSErr TLSRunHandshake(void* context);
TLSErr TLSReadApplicationData(unsigned char* buffer, uint32_t* length, void* context);
TLSErr TLSWriteApplicationData(const unsigned char* buffer, uint32_t* length, void* context);
// 1 when the context holds received bytes the caller has not read (a record buffered
// behind the last one read), else 0.
int TLSPendingData(void* context);
TLSErr TLSCloseSession(void* context);
TLSErr TLSDeleteContext(void* context);
// attribute 0 = subject common name, 1 = organization; copied NUL-terminated into
// out->data (capacity out->length, set to the text length). 8 too small, 21 unreadable.
TLSErr TLSGetCertificateAttribute(const TLSCertificate* cert, int attribute, TLSBuffer* out);
// Fills length bytes from the operating system's generator. 0, 18, 12.
TLSErr TLSGenerateRandom(unsigned char* buffer, uint32_t length);
// Trusted roots held by the context (tests check de-duplication).
int TLSTrustedRootCount(void* context);
