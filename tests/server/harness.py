"""Running vyra-server as a real process on a free loopback port, and speaking to it.

Replies are written the way the client writes them: the XML declaration and document
type line, CR LF line ends, one `detail` per reported method, and for binary values a
multipart/related body whose parts end with an empty line before the delimiter.
"""

import json
import os
import selectors
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SERVER = os.environ.get("VYRA_SERVER", os.path.join(SOURCE_DIR, "server", "vyra-server"))
MAKE_CERTS = os.path.join(SOURCE_DIR, "server", "make-test-certs")
SCENARIOS = os.path.join(SOURCE_DIR, "server", "scenarios")
MMC_TYPE = "application/vnd.zevorize.mmc-xml"
START_LIMIT = 15.0


class ServerProcess:
    """vyra-server with the given arguments; the URLs it prints are in .urls."""

    def __init__(self, *args, listeners=1):
        self.process = subprocess.Popen([sys.executable, SERVER, *args], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
        self._stderr = []
        self._drain = threading.Thread(target=self._read_stderr, daemon=True)
        self._drain.start()
        self.urls = self._read_urls(listeners)
        self.url = self.urls[0].rstrip("/")

    def _read_stderr(self):
        for line in self.process.stderr:
            self._stderr.append(line.decode("utf-8", "replace"))

    def _read_urls(self, count):
        urls = []
        selector = selectors.DefaultSelector()
        selector.register(self.process.stdout, selectors.EVENT_READ)
        deadline = time.monotonic() + START_LIMIT
        pending = b""
        while len(urls) < count:
            left = deadline - time.monotonic()
            if left <= 0 or not selector.select(left):
                self.kill()
                raise AssertionError("vyra-server printed no URL: %s" % self.stderr())
            chunk = os.read(self.process.stdout.fileno(), 4096)
            if not chunk:
                self.process.wait(5)
                self._drain.join(5)
                raise AssertionError("vyra-server exited with %s before listening: %s"
                                     % (self.process.returncode, self.stderr()))
            pending += chunk
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                urls.append(line.decode())
        selector.close()
        return urls

    def wait(self, timeout=15):
        """The exit status; the test fails when the server is still running after timeout."""
        try:
            code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError("vyra-server did not exit within %g s" % timeout)
        self._drain.join(5)
        return code

    def stderr(self):
        return "".join(self._stderr)

    def terminate(self):
        if self.process.poll() is None:
            self.process.terminate()

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(5)

    def close(self):
        self.kill()
        for stream in (self.process.stdout, self.process.stderr):
            stream.close()


def read_transcript(path):
    with open(path, encoding="utf-8") as handle:
        return [json.loads(line) for line in handle]


def make_certs(directory):
    """A test CA and a server certificate for 127.0.0.1, made with openssl now."""
    subprocess.run([MAKE_CERTS, directory], check=True, capture_output=True, timeout=60)
    return {name: os.path.join(directory, name) for name in ("ca.pem", "ca.der", "server.pem", "server.key")}


# ---------------------------------------------------------------- the client's side

DOCTYPE = '<!DOCTYPE mmc PUBLIC "-//VYRA//DTD MMC 2.0//EN" "http://dtd.vyra.invalid/mmc2.dtd" >'


def reply_text(status, mmc_id, details):
    """A reply document; details are [(name, value)] lists in the client's order."""
    lines = ['<?xml version="1.0"?>', DOCTYPE, "<mmc>", '<status mmcID="%s" mmc="%s">' % (mmc_id, status)]
    for detail in details:
        lines.append("<detail %s/>" % "".join('%s="%s" ' % (n, v) for n, v in detail))
    lines += ["</status>", "</mmc>", ""]
    return "\r\n".join(lines).encode()


def multipart_reply(text, binaries, boundary="----ZEMVYRA4711"):
    """(content type, body) of a reply with binary parts, framed as the client frames it."""
    body = b"--%s\r\nContent-Type: %s\r\nContent-ID: <element.mmcpart.1>\r\n\r\n" % (boundary.encode(),
                                                                                   MMC_TYPE.encode())
    body += text + b"\r\n\r\n"
    for data in binaries:
        body += b"--%s\r\nContent-Type: application/octet-stream\r\nContent-ID: <element.mmcpart.0>\r\n\r\n" \
            % boundary.encode()
        body += data + b"\r\n\r\n"
    body += b"--%s--" % boundary.encode()
    content_type = "multipart/related; boundary=%s; type=%s; start=<element.mmcpart.1>" % (boundary, MMC_TYPE)
    return content_type, body


def raw_exchange(url, request_bytes, timeout=10):
    """Sends request_bytes on a fresh connection and returns (status, headers dict, body)."""
    host, port = url.split("://", 1)[1].rsplit(":", 1)
    with socket.create_connection((host.strip("[]"), int(port)), timeout=timeout) as sock:
        sock.sendall(request_bytes)
        return parse_response(read_until_closed(sock))


def read_until_closed(sock):
    """Everything the peer sends until it closes (the socket's own time-out applies)."""
    data = b""
    while True:
        try:
            chunk = sock.recv(65536)
        except ConnectionResetError:     # closed with our bytes unread
            return data
        if not chunk:
            return data
        data += chunk


def parse_response(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split(" ")[1])
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return status, headers, body


def handset_request(url, path, body=None, content_type=None, extra=()):
    """The bytes of a request as the client sends it straight to the server."""
    hostport = url.split("://", 1)[1]
    lines = ["%s %s HTTP/1.1" % ("POST" if body else "GET", path), "Host: %s" % hostport, "Connection: close",
             "Accept: %s" % MMC_TYPE]
    if content_type:
        lines.append("Content-Type: %s" % content_type)
    lines += ["Cache-Control: no-cache", *extra, "x-wap-profile: http://uaprof.vyra.invalid/handset.xml",
              "User-Agent: vYRA/ZEM Fennick/3.0 MMP/2.0"]
    if body:
        lines.append("Content-Length: %d" % len(body))
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + (body or b"")


class ServerTest(unittest.TestCase):
    """A temporary directory per test, and servers that are stopped whatever happens."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vyra-server-test-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def start(self, *args, listeners=1):
        server = ServerProcess(*args, listeners=listeners)
        self.addCleanup(server.close)
        return server

    def path(self, name):
        return os.path.join(self.dir, name)

    def scenario(self, name, value):
        """Writes a scenario (a dict) to the test directory and returns its path."""
        path = self.path(name)
        with open(path, "w", encoding="utf-8") as handle:
            json.dump(value, handle)
        return path

    def transcript(self):
        return read_transcript(self.path("transcript.jsonl"))
