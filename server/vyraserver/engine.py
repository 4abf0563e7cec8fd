"""Playing the scenarios: which round a request belongs to, what it is answered, what
held, and the verdict.

Routing: a request goes to the scenario whose mount is the longest prefix of its path (at
a "/" boundary); among scenarios with that same mount, to the first one that has not
ended. So scenarios on different mounts can be served side by side, and scenarios on one
mount one after the other. Within a scenario the rounds are played in order, one request
each; the requests a round's credentials demand before it is played (challenges) are not
rounds.
"""

import base64
import threading
from dataclasses import dataclass, field

from .auth import Authenticator
from .expectations import Outcome, evaluate, looks_like_reply, read_reply
from .httpio import Response
from .mmc import MMC_TYPE, build_multipart, parse_content_type, summarize_document
from .scenario import fill_placeholders
from .transcript import encode_body


@dataclass
class Peer:
    """Where a request came from and which listener took it."""
    address: str
    scheme: str
    values: dict          # the placeholders' values for this listener


@dataclass
class Exchange:
    """What to do with a request: answer it (after delay seconds) or drop the connection."""
    response: Response = None
    delay: float = 0.0
    drop: bool = False
    run: object = None    # the ScenarioRun whose round this was, if any


@dataclass
class ScenarioRun:
    scenario: object
    next_round: int = 0          # index of the round the next request plays
    in_flight: int = 0           # rounds taken but not yet answered
    failures: list = field(default_factory=list)

    def ended(self):
        return self.next_round >= len(self.scenario.rounds) and self.in_flight == 0

    def exhausted(self):
        return self.next_round >= len(self.scenario.rounds)


def _mount_serves(mount, path):
    return mount == "/" or path == mount or path.startswith(mount + "/")


def render_answer(answer, values):
    """(Response, transcript details) of a round's answer."""
    headers = []
    body = b""
    details = {}
    if answer.location is not None:
        headers.append(("Location", fill_placeholders(answer.location, values)))
    content_type = answer.content_type
    if answer.content is not None:
        body = answer.content.render(values)
        if (parse_content_type(content_type)[0] or "") == MMC_TYPE:
            details["document"] = summarize_document(body)
    elif answer.multipart is not None:
        body, content_type, details = _render_multipart(answer, values)
    if content_type:
        headers.append(("Content-Type", content_type))
    headers += [(name, fill_placeholders(text, values)) for name, text in answer.headers]
    return Response(status=answer.status, headers=headers, body=body), details


def _render_multipart(answer, values):
    multipart = answer.multipart
    parts = []
    listed = []
    documents = []
    for part in multipart.parts:
        data = part.content.render(values)
        if (parse_content_type(part.content_type)[0] or "") == MMC_TYPE:
            documents.append(summarize_document(data))
        headers = [("Content-Type", part.content_type)]
        if part.content_id is not None:
            cid = part.content_id
            headers.append(("Content-ID", cid if cid.startswith("<") else "<%s>" % cid))
        if part.transfer_encoding:
            headers.append(("Content-Transfer-Encoding", part.transfer_encoding))
        if part.transfer_encoding == "base64":
            data = base64.encodebytes(data).rstrip(b"\n").replace(b"\n", multipart.line_end)
        headers += [(name, fill_placeholders(text, values)) for name, text in part.headers]
        parts.append((headers, data))
        listed.append({"content_type": part.content_type, "content_id": part.content_id,
                       "length": len(part.content.data), "source": part.content.label})
    body = build_multipart(parts, multipart.boundary, multipart.line_end)
    content_type = answer.content_type or 'multipart/%s; boundary="%s"%s' % (
        multipart.subtype, multipart.boundary, '; type="%s"' % multipart.type if multipart.type else "")
    details = {"parts": listed}
    if documents:
        details["document"] = documents[-1]
    return body, content_type, details


class Engine:
    def __init__(self, scenarios, transcript, log):
        self.runs = [ScenarioRun(s) for s in scenarios]
        self.transcript = transcript
        self.log = log                      # log(line, failed=False)
        self.authenticator = Authenticator()
        self.lock = threading.Lock()
        self.all_ended = threading.Event()
        self.stopping = threading.Event()   # set at shutdown: cuts answer delays short
        self.answered = threading.Condition(self.lock)  # notified as each in-flight answer goes out
        self.stray_failures = []            # failures that belong to no scenario
        self.last_problem = None

    # ---- routing

    def _route(self, path):
        serving = [r for r in self.runs if _mount_serves(r.scenario.mount, path)]
        if not serving:
            return None, "no scenario is mounted there"
        longest = max(len(r.scenario.mount) for r in serving)
        serving = [r for r in serving if len(r.scenario.mount) == longest]
        for run in serving:
            if not run.exhausted():
                return run, None
        return None, "scenario %s had already ended" % " and ".join('"%s"' % r.scenario.name for r in serving)

    # ---- requests

    def serve(self, request, peer):
        """Decides the answer to one request and writes its transcript line."""
        record = {"kind": "round", "client": peer.address, "listener": peer.scheme,
                  "method": request.method, "target": request.target, "path": request.path,
                  "version": request.version, "headers": [list(h) for h in request.headers],
                  "body": encode_body(request.body)}
        reply, reply_error = read_reply(request)
        if reply is not None:
            record["reply"] = reply.summary()
        elif looks_like_reply(request):
            record["reply_error"] = str(reply_error)
        with self.lock:
            run, why_not = self._route(request.path)
            if run is None:
                words = "unexpected request %s %s: %s" % (request.method, request.target, why_not)
                self.stray_failures.append(words)
                response = Response(404, [("Content-Type", "text/plain; charset=utf-8")],
                                    (words + "\n").encode("utf-8"))
                record.update(kind="unexpected", expectations=[Outcome("a scenario for this request", False,
                                                                       why_not).record()])
                return self._answered_record(record, response, words, failed=True)
            rnd = run.scenario.rounds[run.next_round]
            credentials = None
            if rnd.auth is not None:
                accepted, how = self.authenticator.check(rnd.auth, request)
                if not accepted:
                    return self._challenge(run, rnd, request, record, accepted, how)
                credentials = Outcome(how, True)
            run.next_round += 1
            run.in_flight += 1
        outcomes = ([credentials] if credentials else []) + evaluate(rnd.expect, request, peer.scheme, reply,
                                                                     reply_error)
        label = "%s %s" % (run.scenario.name, rnd.label())
        failed = [o for o in outcomes if not o.held]
        with self.lock:
            run.failures += ["%s: %s: %s" % (label, o.what, o.why) for o in failed]
        record.update(scenario=run.scenario.name, round=rnd.number, round_name=rnd.name,
                      expectations=[o.record() for o in outcomes])
        answer = rnd.answer
        if answer.drop:
            record["answer"] = {"dropped": True}
            self.transcript.write(record)
            self._log_request(label, request, "connection dropped", outcomes)
            return Exchange(drop=True, delay=answer.delay, run=run)
        try:
            response, details = render_answer(answer, peer.values)
        except ValueError as exc:      # a boundary that occurs inside a part
            words = "%s: cannot build the answer: %s" % (label, exc)
            with self.lock:
                run.failures.append(words)
            response, details = Response(500, [], b""), {}
        exchange = Exchange(response=response, delay=answer.delay, run=run)
        record["answer"] = self._answer_record(response, details)
        self.transcript.write(record)
        self._log_request(label, request, self._status_words(response), outcomes)
        return exchange

    def _challenge(self, run, rnd, request, record, accepted, how):
        """A 401 for a round that demands credentials; wrong ones (accepted False) fail."""
        label = "%s %s" % (run.scenario.name, rnd.label())
        scheme = rnd.auth.scheme.capitalize()
        response = Response(401, [("WWW-Authenticate", self.authenticator.challenge(rnd.auth)),
                                  ("Content-Type", "text/plain; charset=utf-8")], b"credentials required\n")
        record.update(kind="challenge", scenario=run.scenario.name, round=rnd.number, round_name=rnd.name,
                      expectations=[])
        request_words = "%s: %s %s -> 401" % (label, request.method, request.target)
        if accepted is None:
            return self._answered_record(record, response, "%s %s challenge (%s)" % (request_words, scheme, how))
        run.failures.append("%s: credentials refused: %s" % (label, how))
        record["expectations"].append(Outcome("%s credentials of %s" % (scheme, rnd.auth.user), False, how).record())
        return self._answered_record(record, response, "%s %s challenge again (credentials refused: %s)"
                                     % (request_words, scheme, how), failed=True)

    def _answered_record(self, record, response, words, failed=False):
        """Writes the transcript line and the log line of a request that is not a round."""
        record["answer"] = self._answer_record(response, {})
        self.transcript.write(record)
        self.log(words, failed=failed)
        response.close = True
        return Exchange(response=response)

    @staticmethod
    def _answer_record(response, details):
        entry = {"status": response.status, "headers": [list(h) for h in response.headers],
                 "body": encode_body(response.body)}
        entry.update(details)
        return entry

    @staticmethod
    def _status_words(response):
        words = str(response.status)
        content_type = response.header("Content-Type")
        location = response.header("Location")
        if location:
            words += " to " + location
        if content_type:
            words += " " + content_type.split(";")[0]
        return words

    def _log_request(self, label, request, answered, outcomes):
        failed = [o for o in outcomes if not o.held]
        if failed:
            counted = "%d of %d expectations FAILED" % (len(failed), len(outcomes))
        else:
            counted = "%d expectation%s held" % (len(outcomes), "" if len(outcomes) == 1 else "s")
        self.log("%s: %s %s -> %s (%s)" % (label, request.method, request.target, answered, counted),
                 failed=bool(failed))
        for outcome in failed:
            self.log("    FAILED %s: %s" % (outcome.what, outcome.why), failed=True)

    def finished(self, exchange):
        """Called once the answer of an exchange was sent (or the connection dropped)."""
        if exchange.run is None:
            return
        with self.lock:
            exchange.run.in_flight -= 1
            if all(r.ended() for r in self.runs):
                self.all_ended.set()
            self.answered.notify_all()

    def wait_for_answers(self, timeout):
        """At shutdown: lets the answers already decided (a delay cut short) go out before the
        verdict is taken, for at most timeout seconds."""
        with self.answered:
            self.answered.wait_for(lambda: all(r.in_flight == 0 for r in self.runs), timeout)

    # ---- connection problems

    def problem(self, kind, words, peer, received=b"", counts=False):
        """A connection that ended without a readable request. counts: the verdict fails."""
        record = {"kind": kind, "client": peer.address, "listener": peer.scheme, "problem": words}
        if received:
            record["received"] = encode_body(received)
        self.transcript.write(record)
        words = "%s from %s: %s" % (kind.replace("-", " "), peer.address, words)
        with self.lock:
            self.last_problem = words
            if counts:
                self.stray_failures.append(words)
        self.log(words, failed=counts)

    # ---- verdict

    def verdict(self, timed_out=None):
        """(passed, [reasons in words], [scenario records]) as things stand."""
        with self.lock:
            reasons = []
            summary = []
            for run in self.runs:
                scenario = run.scenario
                reasons += run.failures
                total = len(scenario.rounds)
                summary.append({"name": scenario.name, "mount": scenario.mount, "rounds": total,
                                "played": run.next_round, "ended": run.ended(), "failures": len(run.failures)})
                if not run.ended():
                    if run.exhausted():
                        words = "scenario \"%s\" did not end: its last answer was never delivered" % scenario.name
                    else:
                        rnd = scenario.rounds[run.next_round]
                        words = "scenario \"%s\" stopped after %d of %d rounds; %s never came" % (
                            scenario.name, run.next_round, total, rnd.label())
                        if self.last_problem:
                            words += " (last connection problem: %s)" % self.last_problem
                    reasons.append(words)
            reasons += self.stray_failures
            if timed_out:
                reasons.append(timed_out)
            return not reasons, reasons, summary
