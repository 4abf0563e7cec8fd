"""The example scenarios of server/scenarios played through, as the client would play
them: passing when the client's replies are right, failing with the reason in words when
they are not."""

import email.parser
import email.policy
import os
import re
import subprocess
import unittest

from harness import (MMC_TYPE, SCENARIOS, ServerTest, handset_request, multipart_reply, raw_exchange,
                     reply_text)

PUSH = os.path.join(SCENARIOS, "session-read-write-commit.json")
PRL = os.path.join(SCENARIOS, "multipart-roaming-list.json")
REDIRECT = os.path.join(SCENARIOS, "redirect.json")
NOT_FOUND = os.path.join(SCENARIOS, "not-found.json")

with open(os.path.join(SCENARIOS, "roaming-list.prl"), "rb") as _handle:
    ROAMING_LIST = _handle.read()


def status_uri(document):
    return re.search(rb'status-uri="([^"]*)"', document).group(1).decode()


def path_of(url):
    return "/" + url.split("://", 1)[1].split("/", 1)[1]


class PushSession(ServerTest):
    """session-read-write-commit.json: read, write (one refused), commit, read back."""

    def play(self, model_result="WriteOnly", retry_timer="30"):
        server = self.start(PUSH, "--exit-when-done", "--transcript", self.path("transcript.jsonl"))
        status, headers, document = raw_exchange(server.url, handset_request(server.url, "/push/start"))
        self.assertEqual((status, headers["content-type"]), (200, MMC_TYPE))
        uri = status_uri(document)
        self.assertEqual(uri, server.url + "/push/read-reply")

        read = reply_text("ok", 2, [[("id", "1"), ("name", "open"), ("result", "ok")]] + [
            [("id", str(i)), ("name", "read"), ("object", obj), ("value", value), ("result", "ok")]
            for i, obj, value in ((2, "phone:model", "VX-7"), (3, "phone:oem", "Vyra"),
                                  (4, "phone:version.software", "1.0.2"),
                                  (5, "phone:boot.url", "http://prov.example/boot"))])
        _, _, document = raw_exchange(server.url, handset_request(server.url, path_of(uri), read, MMC_TYPE))
        self.assertIn(b'value="%s/boot"' % server.url.encode(), document)

        written = reply_text("warning", 2, [
            [("id", "6"), ("name", "write"), ("object", "phone:boot.url"), ("result", "ok")],
            [("id", "7"), ("name", "write"), ("object", "phone:nai..0.sip.retrytimer..0"), ("result", "ok")],
            [("id", "8"), ("name", "write"), ("object", "phone:model"), ("result", model_result)],
            [("id", "9"), ("name", "write"), ("object", "browser:display.message"), ("result", "ok")]])
        _, _, document = raw_exchange(server.url, handset_request(server.url, path_of(status_uri(document)),
                                                                   written, MMC_TYPE))
        committed = reply_text("ok", 2, [
            [("id", "10"), ("name", "commit"), ("result", "ok")],
            [("id", "11"), ("name", "read"), ("object", "phone:boot.url"), ("value", server.url + "/boot"),
             ("result", "ok")],
            [("id", "12"), ("name", "read"), ("object", "phone:nai..0.sip.retrytimer..0"), ("value", retry_timer),
             ("result", "ok")],
            [("id", "13"), ("name", "disconnect"), ("result", "ok")]])
        status, headers, body = raw_exchange(server.url, handset_request(server.url, path_of(status_uri(document)),
                                                                          committed, MMC_TYPE))
        self.assertEqual((status, body), (200, b"session complete\n"))
        return server

    def test_right_replies_pass_and_the_transcript_tells_the_session(self):
        server = self.play()
        self.assertEqual(server.wait(), 0, server.stderr())
        self.assertIn('verdict: passed ("read-write-commit" 4 of 4 rounds)', server.stderr())
        lines = self.transcript()
        rounds = [line for line in lines if line["kind"] == "round"]
        self.assertEqual([r["round"] for r in rounds], [1, 2, 3, 4])
        self.assertEqual([r["method"] for r in rounds], ["GET", "POST", "POST", "POST"])
        self.assertTrue(all(e["held"] for r in rounds for e in r["expectations"]))
        self.assertEqual(rounds[0]["headers"][0], ["Host", server.url.split("://")[1]])
        self.assertEqual(rounds[0]["answer"]["document"]["methods"][1],
                         {"id": "2", "name": "read", "object": "phone:model"})
        self.assertEqual(rounds[2]["reply"]["status"], "warning")
        self.assertEqual(rounds[2]["reply"]["details"][2]["result"], "WriteOnly")
        self.assertIn("<mmc>", rounds[1]["body"]["text"])
        self.assertEqual(lines[-1]["kind"], "verdict")
        self.assertTrue(lines[-1]["passed"])
        self.assertEqual(lines[-1]["scenarios"][0]["played"], 4)

    def test_a_wrong_reply_fails_the_verdict_with_the_reason_in_words(self):
        server = self.play(model_result="ok", retry_timer="31")
        self.assertEqual(server.wait(), 1)
        stderr = server.stderr()
        self.assertIn("verdict: FAILED", stderr)
        self.assertIn('read-write-commit round 3 (commit): reply detail 3 {id="8" name="write" '
                      'object="phone:model" result="WriteOnly"}: result: got "ok", expected "WriteOnly"', stderr)
        self.assertIn('value: got "31", expected "30"', stderr)
        verdict = self.transcript()[-1]
        self.assertFalse(verdict["passed"])
        self.assertEqual(len(verdict["reasons"]), 2)


class MultipartRoamingList(ServerTest):
    """multipart-roaming-list.json: a binary part for a cid: reference, read back."""

    def test_the_binary_part_travels_and_comes_back(self):
        server = self.start(PRL, "--exit-when-done", "--transcript", self.path("transcript.jsonl"))
        status, headers, body = raw_exchange(server.url, handset_request(server.url, "/prl/start"))
        self.assertEqual(status, 200)
        self.assertRegex(headers["content-type"], r'^multipart/related; boundary="[^"]+"; type="%s"$' % MMC_TYPE)
        message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
            b"Content-Type: " + headers["content-type"].encode() + b"\r\n\r\n" + body)
        document, binary = list(message.iter_parts())
        self.assertEqual(document.get_content_type(), MMC_TYPE)
        self.assertIn(b'valueref="cid:roaming-list"', document.get_payload(decode=True))
        self.assertEqual(binary["Content-ID"], "<roaming-list>")
        self.assertEqual(binary["Content-Transfer-Encoding"], "base64")
        self.assertEqual(binary.get_payload(decode=True), ROAMING_LIST)

        details = [[("id", "1"), ("name", "open"), ("result", "ok")],
                   [("id", "2"), ("name", "write"), ("object", "phone:cdma.prl"), ("result", "ok")],
                   [("id", "3"), ("name", "commit"), ("result", "ok")],
                   [("id", "4"), ("name", "read"), ("object", "phone:cdma.prl"),
                    ("valueref", "cid:element.mmcpart.0"), ("result", "ok")]]
        content_type, reply = multipart_reply(reply_text("ok", 2, details), [ROAMING_LIST])
        status, headers, body = raw_exchange(server.url, handset_request(server.url, "/prl/reply", reply,
                                                                          content_type))
        self.assertEqual(status, 200)
        self.assertIn(b'name="disconnect"', body)
        self.assertEqual(server.wait(), 0, server.stderr())
        reply_record = self.transcript()[1]["reply"]
        self.assertEqual(reply_record["parts"], [{"content_id": "element.mmcpart.0",
                                                  "content_type": "application/octet-stream",
                                                  "length": len(ROAMING_LIST) + 2}])

    @unittest.skipUnless(os.environ.get("VYRA_XML"), "VYRA_XML names no vyra-xml program (CTest sets it)")
    def test_the_clients_own_splitter_finds_the_document_and_the_whole_list(self):
        server = self.start(PRL)
        _, headers, body = raw_exchange(server.url, handset_request(server.url, "/prl/start"))
        with open(self.path("answer"), "wb") as handle:
            handle.write(body)
        shown = subprocess.run([os.environ["VYRA_XML"], "--multipart", headers["content-type"], self.path("answer")],
                               capture_output=True, text=True, timeout=30)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertIn('method parent=0 id="2" name="write" object="phone:cdma.prl" valueref="cid:roaming-list"',
                      shown.stdout)
        self.assertIn("part 1: %d bytes\n  Content-Type: application/octet-stream\n  Content-ID: <roaming-list>"
                      % len(ROAMING_LIST), shown.stdout)

    def test_other_bytes_in_the_reply_part_fail(self):
        server = self.start(PRL, "--exit-when-done")
        raw_exchange(server.url, handset_request(server.url, "/prl/start"))
        details = [[("id", "1"), ("name", "open"), ("result", "ok")],
                   [("id", "2"), ("name", "write"), ("object", "phone:cdma.prl"), ("result", "ok")],
                   [("id", "3"), ("name", "commit"), ("result", "ok")],
                   [("id", "4"), ("name", "read"), ("object", "phone:cdma.prl"),
                    ("valueref", "cid:element.mmcpart.0"), ("result", "ok")]]
        other = ROAMING_LIST[:-1] + b"\x00"
        content_type, reply = multipart_reply(reply_text("ok", 2, details), [other])
        raw_exchange(server.url, handset_request(server.url, "/prl/reply", reply, content_type))
        self.assertEqual(server.wait(), 1)
        self.assertIn('part "element.mmcpart.0" has %d bytes and differs from file roaming-list.prl at byte %d'
                      % (len(other) + 2, len(other) - 1), server.stderr())


class RedirectAndNotFound(ServerTest):
    def test_curl_follows_the_relative_and_the_absolute_location(self):
        server = self.start(REDIRECT, "--exit-when-done", "--transcript", self.path("transcript.jsonl"))
        first = subprocess.run(["curl", "-sS", "-L", server.url + "/moved/start"], capture_output=True, timeout=20)
        self.assertIn(b'status-uri="%s/moved/v2/reply"' % server.url.encode(), first.stdout)
        reply = reply_text("ok", 2, [[("id", "1"), ("name", "open"), ("result", "ok")],
                                     [("id", "2"), ("name", "read"), ("object", "phone:model"),
                                      ("value", "VX-7"), ("result", "ok")]])
        second = subprocess.run(["curl", "-sS", "-L", "--post301", "-H", "Content-Type: " + MMC_TYPE,
                                 "--data-binary", "@-", server.url + "/moved/v2/reply"],
                                input=reply, capture_output=True, timeout=20)
        self.assertEqual(second.stdout, b"session complete\n")
        self.assertEqual(server.wait(), 0, server.stderr())
        answers = [line["answer"] for line in self.transcript() if line["kind"] == "round"]
        self.assertEqual([a["status"] for a in answers], [302, 200, 301, 200])
        self.assertIn(["Location", "/moved/v2/start"], answers[0]["headers"])
        self.assertIn(["Location", server.url + "/moved/v3/reply"], answers[2]["headers"])

    def test_a_404_answer_is_a_round_like_any_other(self):
        server = self.start(NOT_FOUND, "--exit-when-done")
        result = subprocess.run(["curl", "-sS", "-o", "-", "-w", "%{http_code} %{content_type}",
                                 server.url + "/gone/start"], capture_output=True, timeout=20)
        self.assertTrue(result.stdout.endswith(b"404 text/html; charset=utf-8"), result.stdout)
        self.assertIn(b"<h1>Not Found</h1>", result.stdout)
        self.assertEqual(server.wait(), 0, server.stderr())


if __name__ == "__main__":
    unittest.main()
