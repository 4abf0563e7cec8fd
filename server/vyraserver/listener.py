"""The listening sockets: plain HTTP or HTTPS, one thread per connection.

A connection's thread does the TLS handshake itself (so a stalled handshake holds up no
one else), then reads requests until the client closes, asks to close, or stays silent
past the I/O time-out.
"""

import socket
import socketserver
import ssl
import traceback

from .engine import Peer
from .httpio import ClientGone, Connection, RequestError, Response, encode_response


class ListenError(Exception):
    """A listener that cannot be set up; the text says why."""


def make_tls_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    try:
        context.load_cert_chain(cert, key)
    except FileNotFoundError as exc:
        raise ListenError("cannot read %s: %s" % (exc.filename, exc.strerror))
    except (ssl.SSLError, OSError) as exc:
        raise ListenError("cannot use certificate %s with key %s: %s" % (cert, key, exc))
    return context


class _Handler(socketserver.BaseRequestHandler):
    def handle(self):
        server = self.server
        engine = server.engine
        sock = self.request
        host, port = self.client_address[:2]
        peer = Peer(address="%s:%d" % (host, port), scheme=server.scheme, values=server.values)
        if server.tls is not None:
            try:
                sock.settimeout(server.io_timeout)
                sock = server.tls.wrap_socket(sock, server_side=True)
            except (ssl.SSLError, OSError) as exc:
                engine.problem("tls-failure", "TLS handshake failed: %s" % (getattr(exc, "reason", None) or exc), peer)
                return
            self.request = sock
        connection = Connection(sock, server.io_timeout)
        first = True
        while not engine.stopping.is_set():
            try:
                request = connection.read_request(
                    first, on_continue=lambda: connection.send(b"HTTP/1.1 100 Continue\r\n\r\n"))
            except ClientGone:
                return
            except RequestError as exc:
                # A request cut short is a transport failure the client may retry; bytes
                # that are no HTTP are the client's fault and fail the verdict.
                engine.problem(exc.kind + "-request", exc.words, peer, exc.received, counts=exc.kind != "incomplete")
                if exc.status:
                    self._send(connection, encode_response(Response(exc.status, close=True,
                                                                    body=(exc.words + "\n").encode())), engine, peer)
                return
            first = False
            try:
                exchange = engine.serve(request, peer)
            except Exception as exc:      # a fault of the server's own fails the verdict, never silently
                engine.problem("server-error", "%s %s: %s" % (request.method, request.target,
                                                              "".join(traceback.format_exception_only(exc)).strip()),
                               peer, counts=True)
                self._send(connection, encode_response(Response(500, close=True)), engine, peer)
                return
            if exchange.delay:
                engine.stopping.wait(exchange.delay)
            if exchange.drop:
                engine.finished(exchange)
                return
            response = exchange.response
            response.close = response.close or request.wants_close() or engine.stopping.is_set()
            self._send(connection, encode_response(response, head_only=request.method == "HEAD"), engine, peer)
            engine.finished(exchange)
            if response.close:
                return

    @staticmethod
    def _send(connection, data, engine, peer):
        try:
            connection.send(data)
        except OSError as exc:
            engine.problem("answer-lost", "the answer could not be sent: %s" % exc, peer)

    def finish(self):
        # The TLS socket replaced the accepted one, which the server closes by itself.
        try:
            self.request.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.request.close()


class _Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    block_on_close = False

    def __init__(self, address, family):
        self.address_family = family
        super().__init__(address, _Handler)


def open_listener(host, port, scheme, tls, engine, io_timeout):
    """A bound, listening server (not yet serving); ListenError when it cannot be had."""
    try:
        infos = socket.getaddrinfo(host, port, type=socket.SOCK_STREAM, flags=socket.AI_PASSIVE)
    except socket.gaierror as exc:
        raise ListenError("cannot resolve %s: %s" % (host, exc.strerror))
    family, _, _, _, address = infos[0]
    try:
        server = _Server(address, family)
    except OSError as exc:
        raise ListenError("cannot listen on %s port %d: %s" % (host, port, exc.strerror or exc))
    server.scheme = scheme
    server.tls = tls
    server.engine = engine
    server.io_timeout = io_timeout
    server.values = {}
    return server


def listener_url(server, host):
    port = server.server_address[1]
    shown = "[%s]" % host if ":" in host else host
    return "%s://%s:%d" % (server.scheme, shown, port)
