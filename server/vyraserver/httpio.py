"""HTTP/1.1 on one connection: reading requests, writing answers.

Written out by hand rather than on http.server so that the transcript sees the request
exactly as it came (header order, duplicates, the body's bytes) and so that every read
has a deadline: a client that stops talking in the middle of a request is dropped after
the I/O time-out instead of holding a thread forever.
"""

import re
import socket
import time
import urllib.parse
from dataclasses import dataclass, field
from http import HTTPStatus

MAX_HEADER_BLOCK = 64 * 1024         # request line and header lines together, bytes
MAX_BODY = 64 * 1024 * 1024          # one request body, bytes
_RECV_CHUNK = 64 * 1024

_TOKEN = re.compile(r"^[!#$%&'*+.^_`|~0-9A-Za-z-]+$")
_HEADER_END = re.compile(rb"\r?\n\r?\n")


class ClientGone(Exception):
    """The connection ended (or stayed silent) before the first byte of a request."""


class RequestError(Exception):
    """A request that could not be read whole.

    kind is "incomplete" (the client stopped sending or closed mid-request: a transport
    failure, the client may try again), "malformed" (bytes that are not HTTP/1.1) or
    "too-large" (over one of the caps). status is the HTTP status to answer with, or None
    when the connection is beyond answering. received holds the bytes read so far.
    """

    def __init__(self, kind, words, status=None, received=b""):
        super().__init__(words)
        self.kind = kind
        self.words = words
        self.status = status
        self.received = received


@dataclass
class Request:
    method: str
    target: str
    version: str
    headers: list            # [(name, value)] in arrival order, names as sent
    body: bytes = b""
    path: str = ""           # the target's path, without the query
    query: str = None        # the text after "?", or None

    def header(self, name):
        """Value of the header name (any letter case); repeated headers joined by ", "."""
        values = [v for n, v in self.headers if n.lower() == name.lower()]
        return ", ".join(values) if values else None

    def wants_close(self):
        tokens = [t.strip().lower() for t in (self.header("Connection") or "").split(",")]
        if self.version == "HTTP/1.0":
            return "keep-alive" not in tokens
        return "close" in tokens


def split_target(target):
    """(path, query) of an origin-form or absolute-form request target."""
    if target == "*":
        return "*", None
    if "://" in target.split("?", 1)[0]:
        parts = urllib.parse.urlsplit(target)
        path = parts.path or "/"
        query = parts.query if "?" in target else None
        return path, query
    path, mark, query = target.partition("?")
    return path, (query if mark else None)


class Connection:
    """A socket read through a buffer, every read bounded by the I/O time-out."""

    def __init__(self, sock, io_timeout):
        self.sock = sock
        self.io_timeout = io_timeout
        self.buffer = b""

    def _receive(self, deadline):
        """Appends what the peer sends next; raises on time-out or end of stream."""
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise socket.timeout()
        self.sock.settimeout(max(remaining, 0.001))
        data = self.sock.recv(_RECV_CHUNK)
        if not data:
            raise EOFError()
        self.buffer += data

    def read_request(self, first, on_continue=None,
                     max_header=MAX_HEADER_BLOCK, max_body=MAX_BODY):
        """Reads one whole request.

        first says whether this is the connection's first request: silence before a first
        request is a problem worth reporting, silence between kept-alive requests is not.
        on_continue() is called before the body is read when the client sent
        "Expect: 100-continue". The request's bytes stay at the front of the buffer until
        it is whole, so a request cut short can be shown as it came.
        """
        deadline = time.monotonic() + self.io_timeout
        started = len(self.buffer) > 0
        try:
            while True:
                end = _HEADER_END.search(self.buffer)
                if end:
                    break
                if len(self.buffer) > max_header:
                    raise RequestError("too-large", "request header block over %d bytes" % max_header,
                                       431, self.buffer[:max_header])
                self._receive(deadline)
                started = True
            head = self.buffer[:end.start()]
            if len(head) > max_header:
                raise RequestError("too-large", "request header block over %d bytes" % max_header, 431, head)
            request = _parse_head(head)
            length, chunked = _body_framing(request, max_body)
            if (length or chunked) and on_continue and \
                    (request.header("Expect") or "").lower() == "100-continue":
                on_continue()
            at = end.end()
            if chunked:
                request.body, at = self._read_chunked(deadline, max_body, at)
            elif length:
                while len(self.buffer) - at < length:
                    self._receive(deadline)
                request.body = self.buffer[at:at + length]
                at += length
            self.buffer = self.buffer[at:]
            return request
        except socket.timeout:
            if not started:
                if first:
                    raise RequestError("incomplete", "connection opened but no request arrived within %g s"
                                       % self.io_timeout)
                raise ClientGone()
            raise RequestError("incomplete", "client stopped sending mid-request (%d bytes received; the "
                               "request was not whole after %g s)" % (len(self.buffer), self.io_timeout),
                               received=self.buffer)
        except EOFError:
            if not started:
                raise ClientGone()
            raise RequestError("incomplete", "client closed the connection mid-request (%d bytes received)"
                               % len(self.buffer), received=self.buffer)
        except OSError as exc:
            if not started:
                raise ClientGone()
            raise RequestError("incomplete", "connection failed mid-request: %s" % exc, received=self.buffer)

    def _read_line(self, deadline, at, limit):
        """(line without its line end, position after it) of the line at position at."""
        while True:
            end = self.buffer.find(b"\n", at)
            if end >= 0:
                return self.buffer[at:end].rstrip(b"\r"), end + 1
            if len(self.buffer) - at > limit:
                raise RequestError("malformed", "chunk line over %d bytes" % limit, 400)
            self._receive(deadline)

    def _read_chunked(self, deadline, max_body, at):
        """(decoded body, position after the chunked body) from position at."""
        body = b""
        while True:
            line, at = self._read_line(deadline, at, 1024)
            size_text = line.split(b";", 1)[0].strip()
            if not re.fullmatch(rb"[0-9A-Fa-f]{1,15}", size_text):
                raise RequestError("malformed", "bad chunk size %r" % size_text.decode("latin-1"), 400)
            size = int(size_text, 16)
            if size == 0:
                break
            if len(body) + size > max_body:
                raise RequestError("too-large", "request body over %d bytes" % max_body, 413)
            while len(self.buffer) - at < size + 2:
                self._receive(deadline)
            if self.buffer[at + size:at + size + 2] != b"\r\n":
                raise RequestError("malformed", "chunk data not followed by CR LF", 400)
            body += self.buffer[at:at + size]
            at += size + 2
        while True:                      # trailer lines, ignored, up to the empty line
            line, at = self._read_line(deadline, at, MAX_HEADER_BLOCK)
            if not line:
                return body, at

    def send(self, data):
        self.sock.settimeout(self.io_timeout)
        self.sock.sendall(data)


def _parse_head(head):
    text = head.decode("latin-1")
    lines = re.split(r"\r?\n", text)
    parts = lines[0].split(" ")
    if len(parts) != 3 or not _TOKEN.match(parts[0]) or not parts[1] or \
            parts[2] not in ("HTTP/1.0", "HTTP/1.1"):
        raise RequestError("malformed", "bad request line %r" % lines[0][:200], 400, head)
    headers = []
    for line in lines[1:]:
        name, colon, value = line.partition(":")
        if not colon or not _TOKEN.match(name):
            raise RequestError("malformed", "bad header line %r" % line[:200], 400, head)
        headers.append((name, value.strip(" \t")))
    path, query = split_target(parts[1])
    return Request(method=parts[0], target=parts[1], version=parts[2], headers=headers,
                   path=path, query=query)


def _body_framing(request, max_body):
    """(Content-Length, chunked?) of a request, checked against the body cap."""
    encoding = request.header("Transfer-Encoding")
    if encoding is not None:
        if encoding.split(",")[-1].strip().lower() != "chunked":
            raise RequestError("malformed", "transfer coding %r is not chunked" % encoding, 501)
        return 0, True
    lengths = {v.strip() for n, v in request.headers if n.lower() == "content-length"}
    if not lengths:
        return 0, False
    if len(lengths) > 1 or not next(iter(lengths)).isdigit():
        raise RequestError("malformed", "bad Content-Length %r" % ", ".join(sorted(lengths)), 400)
    length = int(next(iter(lengths)))
    if length > max_body:
        raise RequestError("too-large", "request body of %d bytes is over %d" % (length, max_body), 413)
    return length, False


def reason_phrase(status):
    try:
        return HTTPStatus(status).phrase
    except ValueError:
        return "Status %d" % status


@dataclass
class Response:
    status: int
    headers: list = field(default_factory=list)   # [(name, value)] as sent, before the framing ones
    body: bytes = b""
    close: bool = False

    def header(self, name):
        for n, v in self.headers:
            if n.lower() == name.lower():
                return v
        return None


def encode_response(response, head_only=False, server_name="vyra-server"):
    """The response's bytes. Content-Length is always given, except where a status has no
    body at all (1xx, 204, 304), so the client never has to wait for the close."""
    lines = ["HTTP/1.1 %d %s" % (response.status, reason_phrase(response.status)),
             "Server: %s" % server_name]
    lines += ["%s: %s" % (n, v) for n, v in response.headers]
    bodiless = response.status < 200 or response.status in (204, 304)
    if not bodiless:
        lines.append("Content-Length: %d" % len(response.body))
    lines.append("Connection: %s" % ("close" if response.close else "keep-alive"))
    data = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
    if not bodiless and not head_only:
        data += response.body
    return data
