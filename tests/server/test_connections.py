"""Clients that stop talking, send what is no HTTP, or too much: the server never hangs on
them, notes them, and says whether they cost the verdict."""

import socket
import time
import unittest

from harness import MMC_TYPE, ServerTest, handset_request, raw_exchange, read_until_closed

ONE_ROUND = {"rounds": [{"expect": {"method": "POST", "body": {"text": "0123456789"}},
                         "answer": {"body": {"text": "done"}}}]}


def connect(server):
    host, port = server.url.split("://")[1].rsplit(":", 1)
    return socket.create_connection((host, int(port)), timeout=10)


class StalledClients(ServerTest):
    def test_a_client_that_stops_mid_request_is_dropped_while_others_are_served(self):
        server = self.start(self.scenario("s.json", ONE_ROUND), "--io-timeout", "1",
                            "--transcript", self.path("transcript.jsonl"))
        stalled = connect(server)
        stalled.sendall(b"POST /x HTTP/1.1\r\nHost: a\r\nContent-Length: 10\r\n\r\n0123")
        closed_by_peer = connect(server)
        closed_by_peer.sendall(b"POST /x HTTP/1.1\r\nHost: a\r\nContent-Le")
        closed_by_peer.close()
        silent = connect(server)
        # The stalled connections hold up no one: the round is played at once.
        status, _, body = raw_exchange(server.url, b"POST /x HTTP/1.1\r\nHost: a\r\nContent-Length: 10\r\n"
                                                   b"Connection: close\r\n\r\n0123456789")
        self.assertEqual((status, body), (200, b"done"))
        self.assertEqual(read_until_closed(stalled), b"")
        self.assertEqual(read_until_closed(silent), b"")
        stalled.close()
        silent.close()
        server.terminate()
        self.assertEqual(server.wait(), 0, server.stderr())
        problems = {line["problem"].split(" (")[0]: line for line in self.transcript()
                    if line["kind"] == "incomplete-request"}
        self.assertIn("client stopped sending mid-request", problems)
        self.assertEqual(problems["client stopped sending mid-request"]["received"]["text"],
                         "POST /x HTTP/1.1\r\nHost: a\r\nContent-Length: 10\r\n\r\n0123")
        self.assertIn("client closed the connection mid-request", problems)
        self.assertIn("connection opened but no request arrived within 1 s", problems)

    def test_a_delayed_answer_is_cut_short_by_sigterm(self):
        server = self.start(self.scenario("s.json", {"rounds": [{"answer": {"delay": 600, "status": 204}}]}))
        sock = connect(server)
        sock.sendall(b"GET / HTTP/1.1\r\nHost: a\r\n\r\n")
        time.sleep(0.3)
        server.terminate()
        self.assertEqual(server.wait(10), 0, server.stderr())
        sock.close()

    def test_a_dropped_answer_closes_the_connection_without_a_byte(self):
        server = self.start(self.scenario("s.json", {"rounds": [{"answer": {"drop": True}}]}), "--exit-when-done")
        sock = connect(server)
        sock.sendall(b"GET / HTTP/1.1\r\nHost: a\r\n\r\n")
        self.assertEqual(read_until_closed(sock), b"")
        sock.close()
        self.assertEqual(server.wait(), 0, server.stderr())


class BadRequests(ServerTest):
    def test_bytes_that_are_no_http_fail_the_verdict(self):
        server = self.start(self.scenario("s.json", ONE_ROUND), "--transcript", self.path("transcript.jsonl"))
        for garbage, status in ((b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 400),
                                (b"POST / HTTP/1.1\r\nBad header line\r\n\r\n", 400),
                                (b"POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\n", 400),
                                (b"GET / HTTP/1.1\r\nX: " + b"a" * 70000 + b"\r\n\r\n", 431),
                                (b"POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", 413)):
            self.assertEqual(raw_exchange(server.url, garbage)[0], status, garbage[:40])
        server.terminate()
        self.assertEqual(server.wait(), 1)
        kinds = [line["kind"] for line in self.transcript()]
        self.assertEqual(kinds[:5], ["malformed-request"] * 3 + ["too-large-request"] * 2)
        self.assertIn("malformed request from 127.0.0.1", server.stderr())
        self.assertIn("bad request line", server.stderr())
        self.assertIn("too large request from 127.0.0.1", server.stderr())

    def test_chunked_bodies_and_expect_continue_are_read_whole(self):
        scenario = {"rounds": [{"expect": {"body": {"text": "0123456789"}}, "answer": {"status": 204}},
                               {"expect": {"body": {"text": "0123456789"}}, "answer": {"status": 204}}]}
        server = self.start(self.scenario("s.json", scenario), "--exit-when-done")
        status, _, _ = raw_exchange(server.url, b"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n"
                                                b"Connection: close\r\n\r\n4;x=y\r\n0123\r\n6\r\n456789\r\n0\r\n\r\n")
        self.assertEqual(status, 204)
        with connect(server) as sock:
            sock.sendall(b"POST / HTTP/1.1\r\nHost: a\r\nExpect: 100-continue\r\nContent-Length: 10\r\n\r\n")
            self.assertEqual(sock.recv(100), b"HTTP/1.1 100 Continue\r\n\r\n")
            sock.sendall(b"0123456789")
            self.assertTrue(sock.recv(100).startswith(b"HTTP/1.1 204 No Content\r\n"))
        self.assertEqual(server.wait(), 0, server.stderr())

    def test_kept_alive_requests_play_one_round_each(self):
        scenario = {"rounds": [{"expect": {"path": "/1"}, "answer": {"body": {"text": "one"}}},
                               {"expect": {"path": "/2"}, "answer": {"body": {"text": "two"}}}]}
        server = self.start(self.scenario("s.json", scenario), "--exit-when-done")
        with connect(server) as sock:
            sock.sendall(b"GET /1 HTTP/1.1\r\nHost: a\r\n\r\nGET /2 HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n")
            data = read_until_closed(sock)
        self.assertEqual(data.count(b"HTTP/1.1 200 OK"), 2)
        self.assertTrue(data.endswith(b"two"))
        self.assertEqual(server.wait(), 0, server.stderr())

    def test_the_handsets_request_reaches_the_transcript_byte_for_byte(self):
        server = self.start(self.scenario("s.json", ONE_ROUND), "--exit-when-done",
                            "--transcript", self.path("transcript.jsonl"))
        request = handset_request(server.url, "/", b"0123456789", MMC_TYPE)
        raw_exchange(server.url, request)
        self.assertEqual(server.wait(), 0, server.stderr())
        line = self.transcript()[0]
        head = "\r\n".join("%s: %s" % tuple(h) for h in line["headers"])
        self.assertEqual("POST / HTTP/1.1\r\n%s\r\n\r\n%s" % (head, line["body"]["text"]), request.decode())


if __name__ == "__main__":
    unittest.main()
