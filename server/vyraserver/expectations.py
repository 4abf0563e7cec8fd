"""Holding a request against the expectations of its round.

Every check gives one Outcome: what was expected, in words, and when it failed, why. The
transcript keeps them all; the verdict counts the failed ones.
"""

from dataclasses import dataclass

from .matchers import quote
from .mmc import MMC_TYPE, ReplyError, detail_value, parse_content_type, parse_reply


@dataclass
class Outcome:
    what: str
    held: bool
    why: str = None

    def record(self):
        entry = {"what": self.what, "held": self.held}
        if self.why:
            entry["why"] = self.why
        return entry


def _check(what, matcher, actual):
    why = matcher.check(actual)
    return Outcome(what, why is None, why)


def read_reply(request):
    """(Reply or None, ReplyError or None) of a request whose body looks like a reply."""
    try:
        return parse_reply(request.header("Content-Type"), request.body), None
    except ReplyError as exc:
        return None, exc


def looks_like_reply(request):
    media, _ = parse_content_type(request.header("Content-Type"))
    return bool(request.body) and media is not None and (media == MMC_TYPE or media.startswith("multipart/"))


def evaluate(expect, request, scheme, reply, reply_error):
    outcomes = []
    for name, actual in (("method", request.method), ("path", request.path), ("query", request.query),
                         ("scheme", scheme)):
        matcher = getattr(expect, name)
        if matcher is not None:
            outcomes.append(_check("%s %s" % (name, matcher.describe()), matcher, actual))
    for name, matcher in expect.headers:
        outcomes.append(_check("header %s %s" % (name, matcher.describe()), matcher, request.header(name)))
    if expect.header_order:
        outcomes.append(_header_order(expect.header_order, request.headers))
    if expect.body is not None:
        outcomes.append(_body(expect.body, request.body))
    if expect.reply is not None:
        if reply is None:
            outcomes.append(Outcome("an MMC reply", False, str(reply_error)))
        else:
            outcomes.extend(_reply(expect.reply, reply))
    return outcomes


def _header_order(names, headers):
    what = "headers in the order " + ", ".join(names)
    lowered = [n.lower() for n, _ in headers]
    missing = [n for n in names if n.lower() not in lowered]
    if missing:
        return Outcome(what, False, "header %s is missing" % ", ".join(missing))
    positions = [lowered.index(n.lower()) for n in names]
    if positions == sorted(positions):
        return Outcome(what, True)
    came = sorted(names, key=lambda n: lowered.index(n.lower()))
    return Outcome(what, False, "they came in the order " + ", ".join(came))


def _first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def _body(expected, body):
    if expected.empty:
        return Outcome("no body", not body, "the body has %d bytes" % len(body) if body else None)
    if expected.matcher is not None:
        return _check("body %s" % expected.matcher.describe(), expected.matcher,
                      body.decode("utf-8", "replace"))
    want = expected.exact.data
    what = "body of exactly %d bytes (%s)" % (len(want), expected.exact.label)
    if body == want:
        return Outcome(what, True)
    return Outcome(what, False, "the body has %d bytes and differs from byte %d on"
                   % (len(body), _first_difference(body, want)))


# ---------------------------------------------------------------- replies

def _brief(detail):
    return "{%s}" % " ".join("%s=%s" % (n, quote(v, 60)) for n, v in detail)


def _part_of(reply, details, index):
    """The binary part that details[index]'s valueref names. Every reply part of the client
    carries the same Content-ID, so the n-th detail naming an id gets the n-th part of it."""
    ref = detail_value(details[index], "valueref")
    if ref is None or not ref.startswith("cid:"):
        return None, "has no \"cid:\" valueref"
    cid = ref[4:]
    nth = sum(1 for d in details[:index] if detail_value(d, "valueref") == ref)
    named = [p for p in reply.parts if p.content_id == cid]
    if nth >= len(named):
        return None, "names %s, but the reply holds %d part(s) with that Content-ID" % (quote(ref), len(named))
    return named[nth], None


def _detail_mismatches(expected, reply, index):
    detail = reply.details[index]
    why = []
    for name, matcher in expected.attributes:
        problem = matcher.check(detail_value(detail, name))
        if problem:
            why.append("%s: %s, expected %s" % (name, problem, matcher.short()))
    if expected.part is not None:
        part, problem = _part_of(reply, reply.details, index)
        if problem:
            why.append("valueref " + problem)
        else:
            want = expected.part.data
            # The client ends each part's bytes with a line end before the delimiter's own.
            if part.data not in (want, want + b"\r\n"):
                why.append("part %s has %d bytes and differs from %s at byte %d"
                           % (quote(part.content_id), len(part.data), expected.part.label,
                              _first_difference(part.data, want)))
    return why


def _reply(expected, reply):
    outcomes = []
    if expected.status is not None:
        outcomes.append(_check("reply status %s" % expected.status.describe(), expected.status,
                               reply.status.get("mmc")))
    if expected.mmc_id is not None:
        outcomes.append(_check("reply mmcID %s" % expected.mmc_id.describe(), expected.mmc_id,
                               reply.status.get("mmcid")))
    if expected.doctype is not None:
        outcomes.append(_check("reply DOCTYPE %s" % expected.doctype.describe(), expected.doctype, reply.doctype))
    if expected.part_count is not None:
        n = len(reply.parts)
        outcomes.append(Outcome("reply with %d binary part(s)" % expected.part_count, n == expected.part_count,
                                None if n == expected.part_count else "it has %d" % n))
    if expected.details is None:
        return outcomes
    actual = reply.details
    if expected.details_match == "exact":
        if len(actual) != len(expected.details):
            outcomes.append(Outcome("reply with %d detail(s)" % len(expected.details), False,
                                    "it has %d: %s" % (len(actual), " ".join(_brief(d) for d in actual) or "none")))
        for i, want in enumerate(expected.details[:len(actual)]):
            why = _detail_mismatches(want, reply, i)
            outcomes.append(Outcome("reply detail %d %s" % (i + 1, want.describe()), not why,
                                    "; ".join(why) or None))
        return outcomes
    used = set()
    start = 0
    for want in expected.details:
        candidates = range(start, len(actual)) if expected.details_match == "in-order" else \
            [i for i in range(len(actual)) if i not in used]
        found = None
        nearest = None
        for i in candidates:
            why = _detail_mismatches(want, reply, i)
            if not why:
                found = i
                break
            if nearest is None or len(why) < len(nearest[1]):
                nearest = (i, why)
        what = "a reply detail %s" % want.describe()
        if found is not None:
            used.add(found)
            start = found + 1
            outcomes.append(Outcome(what, True))
        elif nearest is None:
            outcomes.append(Outcome(what, False, "no detail left to match"))
        else:
            outcomes.append(Outcome(what, False, "none fits; nearest is detail %d %s: %s"
                                    % (nearest[0] + 1, _brief(actual[nearest[0]]), "; ".join(nearest[1]))))
    return outcomes
