"""HTTPS with a test CA made by openssl for each test run."""

import http.client
import socket
import ssl
import subprocess
import sys
import tempfile
import unittest

from harness import SERVER, ServerTest, make_certs, read_until_closed

_CERT_DIR = None


def setUpModule():
    global _CERT_DIR
    _CERT_DIR = tempfile.TemporaryDirectory(prefix="vyra-server-certs-")


def tearDownModule():
    _CERT_DIR.cleanup()


class Https(ServerTest):
    @classmethod
    def setUpClass(cls):
        cls.certs = make_certs(_CERT_DIR.name)

    def scenario_both(self):
        # ${base} is the listener the request came in on; ${http} and ${https} name each.
        document = ('<mmc mmcID="1" status-uri="${base}/t/reply" other="${http}|${https}">'
                    '<method id="1" name="open"/></mmc>')
        return self.scenario("s.json", {"mount": "/t", "rounds": [
            {"expect": {"scheme": "https", "path": "/t/start"}, "answer": {"document": document}},
            {"expect": {"scheme": "http", "path": "/t/start"}, "answer": {"document": document}}]})

    def start_both(self, *extra):
        return self.start(self.scenario_both(), "--http", "0", "--https", "0", "--cert", self.certs["server.pem"],
                          "--key", self.certs["server.key"], "--transcript", self.path("transcript.jsonl"),
                          *extra, listeners=2)

    def test_a_client_that_trusts_the_test_ca_is_served_on_both_listeners(self):
        server = self.start_both("--exit-when-done")
        http_url, https_url = (u.rstrip("/") for u in server.urls)
        self.assertTrue(http_url.startswith("http://127.0.0.1:") and https_url.startswith("https://127.0.0.1:"))
        context = ssl.create_default_context(cafile=self.certs["ca.pem"])
        host, port = https_url[len("https://"):].split(":")
        connection = http.client.HTTPSConnection(host, int(port), context=context, timeout=10)
        connection.request("GET", "/t/start")
        body = connection.getresponse().read()
        connection.close()
        self.assertIn(('status-uri="%s/t/reply" other="%s|%s"' % (https_url, http_url, https_url)).encode(), body)
        result = subprocess.run(["curl", "-sS", http_url + "/t/start"], capture_output=True, timeout=20)
        self.assertIn(('status-uri="%s/t/reply"' % http_url).encode(), result.stdout)
        self.assertEqual(server.wait(), 0, server.stderr())
        self.assertEqual([line.get("listener") for line in self.transcript()[:2]], ["https", "http"])

    def test_a_client_that_refuses_the_certificate_is_noted_and_the_server_goes_on(self):
        server = self.start_both()
        https_url = server.urls[1].rstrip("/")
        refused = subprocess.run(["curl", "-sS", https_url + "/t/start"], capture_output=True, timeout=20)
        self.assertNotEqual(refused.returncode, 0)
        accepted = subprocess.run(["curl", "-sS", "--cacert", self.certs["ca.pem"], https_url + "/t/start"],
                                  capture_output=True, timeout=20)
        self.assertIn(b"status-uri", accepted.stdout)
        server.terminate()
        self.assertEqual(server.wait(), 1)
        failures = [line for line in self.transcript() if line["kind"] == "tls-failure"]
        self.assertEqual(len(failures), 1)
        self.assertIn("TLS handshake failed", failures[0]["problem"])
        self.assertIn("stopped after 1 of 2 rounds; round 2 never came (last connection problem: tls failure",
                      server.stderr())

    def test_plain_http_to_the_https_port_is_a_failed_handshake_not_a_hang(self):
        server = self.start_both("--io-timeout", "1")
        port = int(server.urls[1].rstrip("/").rsplit(":", 1)[1])
        with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
            sock.sendall(b"GET /t/start HTTP/1.1\r\nHost: x\r\n\r\n")
            self.assertNotIn(b"HTTP/1.1", read_until_closed(sock))
        with socket.create_connection(("127.0.0.1", port), timeout=10) as silent:
            self.assertEqual(read_until_closed(silent), b"")     # closed after the I/O time-out
        server.terminate()
        server.wait()
        kinds = [line["kind"] for line in self.transcript()]
        self.assertEqual(kinds.count("tls-failure"), 2)

    def test_an_unusable_key_stops_the_start_with_status_3(self):
        server_key = self.path("other.key")
        subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-out", server_key], check=True, capture_output=True, timeout=30)
        plain = self.scenario("plain.json", {"rounds": [{"answer": {"status": 204}}]})
        result = subprocess.run([sys.executable, SERVER, plain, "--https", "0",
                                 "--cert", self.certs["server.pem"], "--key", server_key],
                                capture_output=True, timeout=20)
        self.assertEqual(result.returncode, 3)
        self.assertIn(b"cannot use certificate", result.stderr)


if __name__ == "__main__":
    unittest.main()
