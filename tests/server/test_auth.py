"""Rounds that demand credentials: the challenge, the right and the wrong answer to it,
from curl and in the reduced Digest form of the handset's library."""

import base64
import hashlib
import os
import re
import subprocess
import unittest

from harness import MMC_TYPE, SCENARIOS, ServerTest, handset_request, make_certs, raw_exchange, reply_text

USER, PASSWORD, REALM = "mip0@vyra.invalid", "qzt", "vyra-provisioning"


def two_rounds(scheme, **options):
    auth = dict({"scheme": scheme, "user": USER, "password": PASSWORD, "realm": REALM}, **options)
    document = '<mmc mmcID="1" status-uri="${base}/a/reply"><method id="1" name="open"/></mmc>'
    return {"mount": "/a", "rounds": [
        {"auth": auth, "expect": {"method": "GET", "path": "/a/start"}, "answer": {"document": document}},
        {"auth": auth, "expect": {"method": "POST", "path": "/a/reply"}, "answer": {"body": {"text": "bye"}}}]}


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


def handset_digest(challenge, url, password=PASSWORD):
    """The Authorization value the handset's library writes: method hashed as GET, the full
    URL as uri, no qop."""
    realm = re.search(r'realm="([^"]*)"', challenge).group(1)
    nonce = re.search(r'nonce="([^"]*)"', challenge).group(1)
    response = md5("%s:%s:%s" % (md5("%s:%s:%s" % (USER, realm, password)), nonce, md5("GET:" + url)))
    return 'Digest username="%s",realm="%s",nonce="%s",uri="%s",response="%s"' % (USER, realm, nonce, url,
                                                                                   response)


class Digest(ServerTest):
    def test_the_handset_answers_each_challenge_of_the_example_and_the_session_passes(self):
        server = self.start(os.path.join(SCENARIOS, "digest-challenge.json"), "--exit-when-done",
                            "--transcript", self.path("transcript.jsonl"))
        reply = reply_text("ok", 2, [[("id", "1"), ("name", "open"), ("result", "ok")],
                                     [("id", "2"), ("name", "read"), ("object", "phone:version.software"),
                                      ("value", "1.0.2"), ("result", "ok")]])
        for path, body in (("/secure/start", None), ("/secure/reply", reply)):
            status, headers, _ = raw_exchange(server.url, handset_request(server.url, path, body,
                                                                           MMC_TYPE if body else None))
            self.assertEqual(status, 401)
            self.assertRegex(headers["www-authenticate"], r'^Digest realm="%s", qop="auth", nonce="[0-9a-f]{32}", '
                                                          r'opaque="[0-9a-f]{16}", algorithm=MD5$' % REALM)
            credentials = handset_digest(headers["www-authenticate"], server.url + path)
            status, _, _ = raw_exchange(server.url, handset_request(
                server.url, path, body, MMC_TYPE if body else None, extra=["Authorization: " + credentials]))
            self.assertEqual(status, 200)
        self.assertEqual(server.wait(), 0, server.stderr())
        kinds = [(line["kind"], line.get("round")) for line in self.transcript()]
        self.assertEqual(kinds, [("challenge", 1), ("round", 1), ("challenge", 2), ("round", 2), ("verdict", None)])

    def test_curl_with_the_password_passes_and_with_another_fails(self):
        server = self.start(self.scenario("s.json", two_rounds("digest")), "--exit-when-done")
        good = subprocess.run(["curl", "-sS", "--digest", "-u", "%s:%s" % (USER, PASSWORD), "-o", "/dev/null",
                               "-w", "%{http_code}", server.url + "/a/start"], capture_output=True, timeout=20)
        self.assertEqual(good.stdout, b"200")
        bad = subprocess.run(["curl", "-sS", "--digest", "-u", "%s:wrong" % USER, "-o", "/dev/null",
                              "-w", "%{http_code}", "--data-binary", "x", server.url + "/a/reply"],
                             capture_output=True, timeout=20)
        self.assertEqual(bad.stdout, b"401")
        server.terminate()
        self.assertEqual(server.wait(), 1)
        self.assertIn('s round 2: credentials refused: Digest response does not fit the password of '
                      '"%s"' % USER, server.stderr())
        self.assertIn("stopped after 1 of 2 rounds", server.stderr())

    def test_a_nonce_or_opaque_the_server_never_issued_is_refused(self):
        server = self.start(self.scenario("s.json", two_rounds("digest")), "--exit-when-done")
        forged = handset_digest('realm="%s", nonce="0123"' % REALM, server.url + "/a/start")
        status, headers, _ = raw_exchange(server.url, handset_request(server.url, "/a/start",
                                                                       extra=["Authorization: " + forged]))
        self.assertEqual(status, 401)
        wrong_opaque = handset_digest(headers["www-authenticate"], server.url + "/a/start") + ',opaque="00"'
        self.assertEqual(raw_exchange(server.url, handset_request(server.url, "/a/start",
                                                                  extra=["Authorization: " + wrong_opaque]))[0], 401)
        server.terminate()
        self.assertEqual(server.wait(), 1)
        self.assertIn('nonce "0123" was never issued by this server', server.stderr())
        self.assertIn('opaque "00" is not the one issued with the nonce', server.stderr())


@unittest.skipUnless(os.environ.get("VYRA_HTTP"), "VYRA_HTTP names no vyra-http program (CTest sets it)")
class ClientLibrary(ServerTest):
    """The client's own HTTP library (through vyra-http) against a Digest round over HTTPS."""

    def test_the_librarys_digest_over_https_is_accepted_with_md5_qop_and_sha256(self):
        certs = make_certs(self.path("certs"))
        body = self.path("reply.xml")
        with open(body, "wb") as handle:
            handle.write(b"<mmc/>")
        for options, form in (({}, ",qop=auth,nc=00000001,cnonce="), ({"algorithm": "SHA-256", "qop": False},
                                                                        ",algorithm=SHA-256")):
            transcript = self.path("transcript.jsonl")
            server = self.start(self.scenario("s.json", two_rounds("digest", **options)), "--https", "0",
                                "--cert", certs["server.pem"], "--key", certs["server.key"], "--exit-when-done",
                                "--transcript", transcript)
            for extra in ([], ["-X", "POST", "--data", "@" + body]):
                path = "/a/reply" if extra else "/a/start"
                result = subprocess.run([os.environ["VYRA_HTTP"], "-i", *extra, "--user", "%s:%s" % (USER, PASSWORD),
                                         "--digest", "--cacert", certs["ca.pem"], server.url + path],
                                        capture_output=True, timeout=30)
                self.assertIn(b"HTTP/1.1 200", result.stdout, result.stderr)
            self.assertEqual(server.wait(), 0, server.stderr())
            rounds = [line for line in self.transcript() if line["kind"] == "round"]
            self.assertEqual([r["expectations"][0]["what"] for r in rounds],
                             ['Digest credentials of "%s" accepted' % USER] * 2)
            self.assertIn(form, dict((n.lower(), v) for n, v in rounds[1]["headers"])["authorization"])


class Basic(ServerTest):
    def basic(self, server, path, password, body=None):
        token = base64.b64encode(("%s:%s" % (USER, password)).encode()).decode()
        return raw_exchange(server.url, handset_request(server.url, path, body, MMC_TYPE if body else None,
                                                        extra=["Authorization: Basic " + token]))[0]

    def test_right_credentials_play_the_rounds_and_wrong_ones_are_challenged_again(self):
        server = self.start(self.scenario("s.json", two_rounds("basic")), "--exit-when-done")
        status, headers, _ = raw_exchange(server.url, handset_request(server.url, "/a/start"))
        self.assertEqual((status, headers["www-authenticate"]), (401, 'Basic realm="%s"' % REALM))
        self.assertEqual(self.basic(server, "/a/start", "nope"), 401)
        self.assertEqual(self.basic(server, "/a/start", PASSWORD), 200)
        self.assertEqual(self.basic(server, "/a/reply", PASSWORD, b"<mmc/>"), 200)
        self.assertEqual(server.wait(), 1)
        self.assertIn("credentials refused: wrong password", server.stderr())
        self.assertNotIn("stopped after", server.stderr())

    def test_digest_credentials_do_not_answer_a_basic_round(self):
        server = self.start(self.scenario("s.json", two_rounds("basic")), "--timeout", "5")
        status, _, _ = raw_exchange(server.url, handset_request(
            server.url, "/a/start", extra=['Authorization: Digest username="x"']))
        self.assertEqual(status, 401)
        server.terminate()
        self.assertEqual(server.wait(), 1)
        self.assertIn("credentials use Digest, the round demands Basic", server.stderr())


if __name__ == "__main__":
    unittest.main()
