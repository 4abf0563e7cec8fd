#include "http/http_results.h"

#include "common/result_text.h"
#include "http/http_internal.h"

namespace {

constexpr result_meaning kHttpResults[] = {
    {HTTP_INVALID_HANDLE, "invalid handle"},
    {HTTP_INVALID_INPUT, "invalid input: a control byte or blank in the URL, a header or a Digest value, "
                         "or a scheme other than http and https"},
    {HTTP_CANCELLED, "cancelled by the status callback"},
    {HTTP_NULL_ARG, "a required argument is missing"},
    {HTTP_OUT_OF_RANGE, "an argument is out of range"},
    {HTTP_EMPTY_URL, "empty URL"},
    {HTTP_BAD_PORT, "the port in the URL is not a number from 1 to 65535"},
    {HTTP_NO_URL, "no URL set on the handle"},
    {HTTP_SOCKET_FAILED, "the socket cannot be created"},
    {HTTP_NONBLOCK_FAILED, "the socket cannot be switched to non-blocking mode"},
    {HTTP_RESOLVE_FAILED, "the host name cannot be resolved"},
    {HTTP_CONNECT_FAILED, "connection failed, or the data connection is gone"},
    {HTTP_SEND_FAILED, "send failed"},
    {HTTP_RECEIVE_FAILED, "receive failed or timed out, or the response is too large"},
    {HTTP_BAD_METHOD, "method other than GET or POST without a proxy"},
    {HTTP_MALFORMED, "malformed response: no status line or end of the headers, or a header block too large"},
    {HTTP_HEADER_NOT_FOUND, "header not found"},
    {HTTP_TLS_FAILED, "the TLS session cannot be set up (a refused certificate included)"},
    {HTTP_TUNNEL_REFUSED, "the proxy refused the tunnel"},
    {HTTP_BAD_CHUNK, "malformed or truncated chunked body"},
};

}  // namespace

std::string http_result_text(int code) { return result_text(code, kHttpResults); }
