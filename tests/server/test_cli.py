"""The command line, scenario files that cannot be used, routing between scenarios, the
ways the server stops, and the expectations a round can hold a request to."""

import os
import signal
import socket
import subprocess
import sys
import unittest

from harness import (MMC_TYPE, SCENARIOS, SERVER, ServerTest, handset_request, raw_exchange, reply_text)


def run_server(*args):
    return subprocess.run([sys.executable, SERVER, *args], capture_output=True, text=True, timeout=30)


def get(server, path, extra=()):
    return raw_exchange(server.url, handset_request(server.url, path, extra=extra))


class CommandLine(ServerTest):
    def test_help_says_what_the_tool_is_for_and_version_answers(self):
        result = run_server("--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn("This is a test and demo tool. It is not a provisioning server for real handsets",
                      " ".join(result.stdout.split()))
        self.assertIn("Exit status:", result.stdout)
        version = run_server("--version")
        self.assertEqual((version.returncode, version.stdout), (0, "vyra-server 0.1.0\n"))

    def test_bad_usage_exits_2_and_unusable_scenarios_1_with_the_place_named(self):
        good = self.scenario("good.json", {"rounds": [{"answer": {"status": 204}}]})
        usage = [
            ((), "no SCENARIO file (try --help)"),
            ((good, "--https", "0"), "--https needs --cert and --key"),
            ((good, "--http", "70000"), "is not a port number"),
            ((good, "--timeout", "-1"), "is not between 0 and 86400 seconds"),
            ((good, "--frob"), "unknown option '--frob' (try --help)"),
        ]
        for args, words in usage:
            result = run_server(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(words, result.stderr, args)
            self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
        cases = [
            ((self.path("missing.json"),), "missing.json: cannot read: No such file or directory"),
            ((self.scenario("a.json", {"rounds": [{"answer": {"staus": 200}}]}),),
             'a.json.rounds[0].answer: unknown key "staus"'),
            ((self.scenario("b.json", {"rounds": [{"expect": {"path": {"regex": "("}}, "answer": {}}]}),),
             "b.json.rounds[0].expect.path: bad regular expression /(/"),
            ((self.scenario("c.json", {"rounds": [{"answer": {"document_file": "none.xml"}}]}),),
             "c.json.rounds[0].answer.document_file: cannot read"),
            ((self.scenario("d.json", {"rounds": [{"answer": {"document": "${bse}"}}]}),),
             "unknown placeholder ${bse}"),
            ((self.scenario("e.json", {"rounds": [{"answer": {"document": "${https}"}}]}),),
             "uses ${https}, but the server has no HTTPS listener"),
            ((self.scenario("f.json", {"rounds": []}),), "f.json.rounds: a scenario needs at least one round"),
            ((self.scenario("g.json", {"rounds": [{"auth": {"scheme": "ntlm"}, "answer": {}}]}),),
             'g.json.rounds[0].auth.scheme: "basic" or "digest"'),
            ((good, good), 'two scenarios are named "good"'),
        ]
        broken = self.path("h.json")
        with open(broken, "w") as handle:
            handle.write('{"rounds": [}')
        cases.append(((broken,), "h.json: not JSON: Expecting value at line 1 column 13"))
        for args, words in cases:
            result = run_server(*args)
            # A listener the scenario needs but the command line lacks is bad usage; a
            # scenario file that cannot be used is a failure.
            self.assertEqual(result.returncode, 2 if "listener" in words else 1, args)
            self.assertIn(words, result.stderr, args)

    def test_check_lists_what_the_example_scenarios_play(self):
        examples = sorted(os.path.join(SCENARIOS, name) for name in os.listdir(SCENARIOS) if name.endswith(".json"))
        result = run_server("--check", *examples)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('round 1 (moved): "GET" "/moved/start" -> 302 to /moved/v2/start', result.stdout)
        self.assertIn("with Digest credentials of mip0@vyra.invalid", result.stdout)

    def test_a_port_in_use_exits_3(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            port = taken.getsockname()[1]
            result = run_server(self.scenario("s.json", {"rounds": [{"answer": {}}]}), "--http", str(port))
        self.assertEqual(result.returncode, 3)
        self.assertIn("cannot listen on 127.0.0.1 port %d" % port, result.stderr)


class Stopping(ServerTest):
    ONE = {"rounds": [{"answer": {"status": 204}}]}

    def test_without_exit_when_done_the_server_runs_until_sigterm_or_sigint(self):
        for number in (signal.SIGTERM, signal.SIGINT):
            server = self.start(self.scenario("s.json", self.ONE), "--url-file", self.path("url"))
            with open(self.path("url")) as handle:
                self.assertEqual(handle.read(), server.urls[0] + "\n")
            self.assertEqual(get(server, "/")[0], 204)
            self.assertIsNone(server.process.poll())
            server.process.send_signal(number)
            self.assertEqual(server.wait(), 0, server.stderr())
            self.assertIn("stopping on %s" % signal.Signals(number).name, server.stderr())

    def test_timeout_ends_an_unfinished_scenario_with_a_failed_verdict(self):
        server = self.start(self.scenario("s.json", self.ONE), "--timeout", "0.5")
        self.assertEqual(server.wait(), 1)
        self.assertIn('scenario "s" stopped after 0 of 1 rounds; round 1 never came', server.stderr())
        self.assertIn("gave up after 0.5 s (--timeout)", server.stderr())

    def test_quiet_keeps_only_failures(self):
        server = self.start(self.scenario("s.json", {"rounds": [{"expect": {"path": "/a"}, "answer": {}},
                                                                {"answer": {}}]}), "--quiet", "--exit-when-done")
        get(server, "/b")
        get(server, "/a")
        self.assertEqual(server.wait(), 1)
        self.assertEqual(server.stderr().splitlines(), [
            'vyra-server: s round 1: GET /b -> 200 (1 of 1 expectations FAILED)',
            'vyra-server:     FAILED path is "/a": got "/b"',
            "vyra-server: verdict: FAILED",
            'vyra-server:   - s round 1: path is "/a": got "/b"'])


class Routing(ServerTest):
    def test_mounts_route_by_longest_prefix_and_one_mount_plays_its_scenarios_in_turn(self):
        first = self.scenario("first.json", {"mount": "/p", "rounds": [{"answer": {"body": {"text": "first"}}}]})
        second = self.scenario("second.json", {"mount": "/p/", "rounds": [{"answer": {"body": {"text": "second"}}}]})
        deeper = self.scenario("deeper.json", {"mount": "/p/q", "rounds": [{"answer": {"body": {"text": "deeper"}}}]})
        server = self.start(first, second, deeper, "--exit-when-done", "--transcript", self.path("transcript.jsonl"))
        self.assertEqual(get(server, "/p/q/x")[2], b"deeper")
        self.assertEqual(get(server, "/p/qq")[2], b"first")       # /p/q is no prefix of /p/qq at a "/"
        self.assertEqual(get(server, "/p")[2], b"second")
        self.assertEqual(server.wait(), 0, server.stderr())
        self.assertEqual([line.get("scenario") for line in self.transcript()[:3]], ["deeper", "first", "second"])

    def test_requests_that_no_round_expects_fail_the_verdict(self):
        server = self.start(self.scenario("s.json", {"mount": "/p", "rounds": [{"answer": {"status": 204}}]}),
                            "--transcript", self.path("transcript.jsonl"))
        self.assertEqual(get(server, "/other")[0], 404)
        self.assertEqual(get(server, "/p/1")[0], 204)
        status, _, body = get(server, "/p/2")
        self.assertEqual((status, body), (404, b'unexpected request GET /p/2: scenario "s" had already ended\n'))
        server.terminate()
        self.assertEqual(server.wait(), 1)
        self.assertIn("unexpected request GET /other: no scenario is mounted there", server.stderr())
        self.assertEqual([line["kind"] for line in self.transcript()], ["unexpected", "round", "unexpected", "verdict"])


class Expectations(ServerTest):
    def test_headers_their_order_and_the_body_are_checked(self):
        scenario = {"rounds": [{
            "expect": {"method": {"one_of": ["GET", "HEAD"]}, "query": "a=1",
                       "headers": {"accept": MMC_TYPE, "x-wap-profile": {"prefix": "http://"},
                                   "Content-Type": None, "Cookie": True},
                       "header_order": ["Host", "User-Agent", "Accept"], "body": {"empty": True}},
            "answer": {"status": 204, "headers": {"X-Base": "${base}/x"}}}]}
        server = self.start(self.scenario("s.json", scenario), "--exit-when-done")
        status, headers, _ = get(server, "/?a=1")
        self.assertEqual((status, headers["x-base"]), (204, server.url + "/x"))
        self.assertEqual(server.wait(), 1)
        stderr = server.stderr()
        self.assertIn("GET /?a=1 -> 204 (2 of 8 expectations FAILED)", stderr)
        self.assertIn("FAILED header Cookie is present: got nothing", stderr)
        self.assertIn("FAILED headers in the order Host, User-Agent, Accept: they came in the order Host, Accept, "
                      "User-Agent", stderr)

    def test_reply_details_match_exactly_in_order_or_in_any_order(self):
        details = [[("id", "1"), ("name", "open"), ("result", "ok")],
                   [("id", "2"), ("name", "read"), ("object", "phone:model"), ("value", "A&B"), ("result", "ok")],
                   [("id", "3"), ("name", "read"), ("object", "phone:oem"), ("result", "DeviceBusy")]]
        text = reply_text("error", 2, details).replace(b"A&B", b"A&amp;B")
        want = [{"id": "3", "result": "DeviceBusy"}, {"id": "2", "value": "A&B"}]
        rounds = [{"expect": {"reply": {"details": want, "details_match": "any-order", "status": "error"}},
                   "answer": {}},
                  {"expect": {"reply": {"details": want, "details_match": "in-order"}}, "answer": {}},
                  {"expect": {"reply": {"details": want[::-1] + [{"id": "4"}], "mmcID": 2}}, "answer": {}},
                  {"expect": {"reply": {"status": "ok"}}, "answer": {}}]
        server = self.start(self.scenario("s.json", {"rounds": rounds}), "--exit-when-done")
        for body, content_type in ((text, MMC_TYPE), (text, MMC_TYPE), (text, MMC_TYPE), (b"<mmc>", "text/xml")):
            raw_exchange(server.url, handset_request(server.url, "/", body, content_type))
        self.assertEqual(server.wait(), 1)
        prefix = "vyra-server:   - "
        reasons = [line[len(prefix):] for line in server.stderr().splitlines() if line.startswith(prefix)]
        self.assertEqual([r.split(":")[0] for r in reasons], ["s round 2"] + ["s round 3"] * 3 + ["s round 4"])
        # in order, detail 3 was taken by the first expectation; detail 2 comes before it
        self.assertEqual(reasons[0], 's round 2: a reply detail {id="2" value="A&B"}: no detail left '
                                     'to match')
        self.assertEqual(reasons[1], 's round 3: reply detail 1 {id="2" value="A&B"}: id: got "1", expected "2"; '
                                     'value: got nothing, expected "A&B"')
        self.assertIn("an MMC reply: reply Content-Type is \"text/xml\"", reasons[4])


if __name__ == "__main__":
    unittest.main()
