"""Scenario files: loading, checking, and the records the engine plays from.

A scenario is one JSON object: a name, the mount (the path prefix it serves) and its
rounds, one round per request it expects. Every key is checked when the file is loaded, so
a typing error stops the server before the client is started, with the file and the place
named. server/README.md describes the format for authors.
"""

import base64
import binascii
import json
import os
import re
from dataclasses import dataclass, field

from .auth import ALGORITHMS, DEFAULT_REALM, AuthDemand
from .matchers import ScenarioError, compile_matcher
from .mmc import MMC_TYPE

PLACEHOLDER = re.compile(r"\$\{([^}]*)\}")
PLACEHOLDERS = ("base", "http", "https", "scheme", "host", "port")
LISTENER_PLACEHOLDERS = {"http": "http", "https": "https"}
MAX_DELAY = 3600.0


# ---------------------------------------------------------------- records

@dataclass
class Content:
    """Bytes given by a scenario; text contents get their placeholders filled in."""
    data: bytes
    text: bool
    label: str

    def render(self, values):
        if not self.text:
            return self.data
        return fill_placeholders(self.data.decode("utf-8"), values).encode("utf-8")

    def placeholders(self):
        return set(PLACEHOLDER.findall(self.data.decode("utf-8"))) if self.text else set()


@dataclass
class BodyExpectation:
    exact: Content = None        # the body's exact bytes
    matcher: object = None       # or a matcher on the body as text
    empty: bool = False          # or no body at all


@dataclass
class DetailExpectation:
    attributes: list             # [(attribute name, Matcher)]
    part: Content = None         # the bytes of the part its valueref names

    def describe(self):
        shown = " ".join("%s=%s" % (name, m.short()) for name, m in self.attributes)
        if self.part is not None:
            shown += (" " if shown else "") + "part=(%s)" % self.part.label
        return "{%s}" % shown


@dataclass
class ReplyExpectation:
    status: object = None        # Matcher of the status word, or None
    mmc_id: object = None
    doctype: object = None
    details: list = None         # [DetailExpectation] or None
    details_match: str = "exact"
    part_count: int = None


@dataclass
class Expect:
    method: object = None
    path: object = None
    query: object = None
    scheme: object = None
    headers: list = field(default_factory=list)      # [(name, Matcher)]
    header_order: list = field(default_factory=list)
    body: BodyExpectation = None
    reply: ReplyExpectation = None


@dataclass
class AnswerPart:
    content: Content
    content_type: str
    content_id: str = None
    transfer_encoding: str = None
    headers: list = field(default_factory=list)


@dataclass
class Multipart:
    parts: list
    boundary: str
    subtype: str = "related"
    type: str = None
    line_end: bytes = b"\r\n"


@dataclass
class Answer:
    status: int = 200
    content_type: str = None
    content: Content = None
    multipart: Multipart = None
    location: str = None
    headers: list = field(default_factory=list)      # [(name, value)], placeholders filled at answer time
    delay: float = 0.0
    drop: bool = False

    def describe(self):
        if self.drop:
            return "drop the connection"
        what = str(self.status)
        if self.location:
            what += " to " + self.location
        if self.multipart:
            what += " multipart/%s of %d parts" % (self.multipart.subtype, len(self.multipart.parts))
        elif self.content is not None:
            what += " %s (%s)" % (self.content_type, self.content.label)
        return what


@dataclass
class Round:
    number: int                  # from 1
    name: str
    expect: Expect
    auth: AuthDemand
    answer: Answer

    def label(self):
        return "round %d%s" % (self.number, " (%s)" % self.name if self.name else "")


@dataclass
class Scenario:
    name: str
    file: str
    mount: str
    description: str
    rounds: list

    def placeholders(self):
        used = set()
        for rnd in self.rounds:
            answer = rnd.answer
            contents = [answer.content] + [p.content for p in (answer.multipart.parts if answer.multipart else [])]
            used |= {name for c in contents if c is not None for name in c.placeholders()}
            headers = answer.headers + [h for p in (answer.multipart.parts if answer.multipart else [])
                                        for h in p.headers]
            for text in [answer.location or ""] + [v for _, v in headers]:
                used |= set(PLACEHOLDER.findall(text))
        return used


def fill_placeholders(text, values):
    return PLACEHOLDER.sub(lambda m: values.get(m.group(1), m.group(0)), text)


# ---------------------------------------------------------------- reading

class _Fields:
    """One JSON object of a scenario, its keys checked against the ones allowed."""

    def __init__(self, value, where, allowed):
        if not isinstance(value, dict):
            raise ScenarioError("%s: expected an object, found %s" % (where, json.dumps(value)[:80]))
        unknown = [k for k in value if k not in allowed]
        if unknown:
            raise ScenarioError("%s: unknown key %s (known: %s)" % (where, json.dumps(unknown[0]),
                                                                   ", ".join(allowed)))
        self.value = value
        self.where = where

    def has(self, key):
        return key in self.value

    def get(self, key, kind=None, default=None):
        if key not in self.value:
            return default
        found = self.value[key]
        # true and false are ints to Python, never to a scenario author
        if kind is not None and (not isinstance(found, kind) or (isinstance(found, bool) and kind is not bool)):
            names = {str: "a text", bool: "true or false", int: "a whole number", list: "a list",
                     dict: "an object", (int, float): "a number"}
            raise ScenarioError("%s.%s: expected %s" % (self.where, key, names.get(kind, str(kind))))
        return found

    def text(self, key, default=None):
        return self.get(key, str, default)

    def one_of(self, keys):
        present = [k for k in keys if k in self.value]
        if len(present) > 1:
            raise ScenarioError("%s: give only one of %s" % (self.where, ", ".join(present)))
        return present[0] if present else None


class _Loader:
    def __init__(self, path):
        self.path = path
        self.directory = os.path.dirname(os.path.abspath(path))

    def read_file(self, name, where):
        full = name if os.path.isabs(name) else os.path.join(self.directory, name)
        try:
            with open(full, "rb") as handle:
                return handle.read()
        except OSError as exc:
            raise ScenarioError("%s: cannot read %s: %s" % (where, full, exc.strerror or exc))

    def lines_or_text(self, value, where):
        if isinstance(value, str):
            return value
        if isinstance(value, list) and all(isinstance(v, str) for v in value):
            return "\n".join(value)
        raise ScenarioError("%s: expected a text or a list of lines" % where)

    def text_content(self, text, label, where):
        for name in PLACEHOLDER.findall(text):
            if name not in PLACEHOLDERS:
                raise ScenarioError("%s: unknown placeholder ${%s} (known: %s)"
                                    % (where, name, ", ".join("${%s}" % p for p in PLACEHOLDERS)))
        return Content(text.encode("utf-8"), True, label)

    def content(self, fields, where, document_keys=True):
        """The content named by one of document, document_file, text, file, base64, hex."""
        keys = (["document", "document_file"] if document_keys else []) + ["text", "file", "base64", "hex"]
        key = fields.one_of(keys)
        if key is None:
            return None, None
        value = fields.value[key]
        at = "%s.%s" % (where, key)
        if key in ("document", "text"):
            text = self.lines_or_text(value, at)
            return key, self.text_content(text, "inline %s" % key, at)
        if not isinstance(value, str):
            raise ScenarioError("%s: expected a text" % at)
        if key == "document_file":
            data = self.read_file(value, at)
            try:
                return key, self.text_content(data.decode("utf-8"), "file %s" % value, at)
            except UnicodeDecodeError:
                raise ScenarioError("%s: %s is not UTF-8 text" % (at, value))
        if key == "file":
            return key, Content(self.read_file(value, at), False, "file %s" % value)
        try:
            if key == "base64":
                data = base64.b64decode(re.sub(r"\s", "", value), validate=True)
            else:
                data = bytes.fromhex(value)
        except (binascii.Error, ValueError) as exc:
            raise ScenarioError("%s: not %s: %s" % (at, key, exc))
        return key, Content(data, False, "%d bytes given as %s" % (len(data), key))

    # ---- expectations

    def expect(self, value, where):
        f = _Fields(value, where, ["method", "path", "query", "scheme", "headers", "header_order", "body",
                                   "reply"])
        expect = Expect()
        for key in ("method", "path", "query", "scheme"):
            if f.has(key):
                setattr(expect, key, compile_matcher(f.value[key], "%s.%s" % (where, key)))
        headers = f.get("headers", dict, {})
        expect.headers = [(name, compile_matcher(written, "%s.headers.%s" % (where, name)))
                          for name, written in headers.items()]
        order = f.get("header_order", list, [])
        if not all(isinstance(n, str) and n for n in order):
            raise ScenarioError("%s.header_order: expected a list of header names" % where)
        expect.header_order = order
        if f.has("body"):
            expect.body = self.body_expectation(f.value["body"], where + ".body")
        if f.has("reply"):
            expect.reply = self.reply_expectation(f.value["reply"], where + ".reply")
        return expect

    def body_expectation(self, value, where):
        f = _Fields(value, where, ["text", "file", "base64", "hex", "empty", "regex", "contains", "prefix"])
        if f.one_of(["text", "file", "base64", "hex", "empty", "regex", "contains", "prefix"]) is None:
            raise ScenarioError("%s: say what the body must be (text, file, base64, hex, empty, regex, "
                                "contains or prefix)" % where)
        if f.has("empty"):
            if f.value["empty"] is not True:
                raise ScenarioError("%s.empty: only true is meaningful" % where)
            return BodyExpectation(empty=True)
        for key in ("regex", "contains", "prefix"):
            if f.has(key):
                return BodyExpectation(matcher=compile_matcher({key: f.value[key]}, where))
        key, content = self.content(f, where, document_keys=False)
        if key == "text":
            content = Content(content.data, False, "text")      # compared as written
        return BodyExpectation(exact=content)

    def reply_expectation(self, value, where):
        f = _Fields(value, where, ["status", "mmcID", "doctype", "details", "details_match", "part_count"])
        reply = ReplyExpectation()
        if f.has("status"):
            reply.status = compile_matcher(f.value["status"], where + ".status")
        if f.has("mmcID"):
            reply.mmc_id = compile_matcher(f.value["mmcID"], where + ".mmcID")
        if f.has("doctype"):
            reply.doctype = compile_matcher(f.value["doctype"], where + ".doctype")
        reply.details_match = f.text("details_match", "exact")
        if reply.details_match not in ("exact", "in-order", "any-order"):
            raise ScenarioError("%s.details_match: one of \"exact\", \"in-order\", \"any-order\"" % where)
        reply.part_count = f.get("part_count", int)
        if f.has("details"):
            details = f.get("details", list)
            reply.details = [self.detail_expectation(d, "%s.details[%d]" % (where, i))
                             for i, d in enumerate(details)]
        return reply

    def detail_expectation(self, value, where):
        if not isinstance(value, dict):
            raise ScenarioError("%s: expected an object of attribute names and values" % where)
        attributes = []
        part = None
        for name, written in value.items():
            if name == "part":
                part_fields = _Fields(written, where + ".part", ["text", "file", "base64", "hex"])
                _, part = self.content(part_fields, where + ".part", document_keys=False)
                if part is None:
                    raise ScenarioError("%s.part: give text, file, base64 or hex" % where)
                part = Content(part.data, False, part.label)
            else:
                attributes.append((name, compile_matcher(written, "%s.%s" % (where, name))))
        return DetailExpectation(attributes, part)

    # ---- answers

    def answer(self, value, where, round_number):
        f = _Fields(value, where, ["status", "document", "document_file", "multipart", "body", "content_type",
                                   "location", "headers", "delay", "drop"])
        answer = Answer()
        kinds = [k for k in ("document", "document_file", "multipart", "body") if f.has(k)]
        if len(kinds) > 1:
            raise ScenarioError("%s: give only one of %s" % (where, ", ".join(kinds)))
        answer.location = f.text("location")
        status = f.get("status", int, 302 if answer.location else 200)
        if not 200 <= status <= 999:
            raise ScenarioError("%s.status: %d is no final HTTP status (200 to 999)" % (where, status))
        answer.status = status
        if answer.location is not None:
            self.text_content(answer.location, "location", where + ".location")
        answer.content_type = f.text("content_type")
        if f.has("document") or f.has("document_file"):
            _, answer.content = self.content(f, where)
            answer.content_type = answer.content_type or MMC_TYPE
        elif f.has("body"):
            body = _Fields(f.value["body"], where + ".body", ["text", "file", "base64", "hex"])
            key, answer.content = self.content(body, where + ".body", document_keys=False)
            if answer.content is None:
                raise ScenarioError("%s.body: give text, file, base64 or hex" % where)
            answer.content_type = answer.content_type or \
                ("text/plain; charset=utf-8" if key == "text" else "application/octet-stream")
        elif f.has("multipart"):
            answer.multipart = self.multipart(f.value["multipart"], where + ".multipart", round_number)
        answer.headers = self.header_list(f.get("headers"), where + ".headers")
        delay = f.get("delay", (int, float), 0)
        if not 0 <= delay <= MAX_DELAY:
            raise ScenarioError("%s.delay: seconds from 0 to %d" % (where, MAX_DELAY))
        answer.delay = float(delay)
        answer.drop = f.get("drop", bool, False)
        if answer.drop and (kinds or f.has("status") or answer.location):
            raise ScenarioError("%s: a dropped connection has no status, location or body" % where)
        return answer

    def header_list(self, value, where):
        if value is None:
            return []
        pairs = list(value.items()) if isinstance(value, dict) else value
        if not isinstance(pairs, list) or not all(
                isinstance(p, (list, tuple)) and len(p) == 2 and all(isinstance(x, str) for x in p) for p in pairs):
            raise ScenarioError("%s: expected an object of names and texts, or a list of [name, text]" % where)
        for name, text in pairs:
            if not re.fullmatch(r"[!#$%&'*+.^_`|~0-9A-Za-z-]+", name) or re.search(r"[\r\n]", text):
                raise ScenarioError("%s: %r is not a header line" % (where, "%s: %s" % (name, text)))
            self.text_content(text, "header", "%s.%s" % (where, name))
        return [tuple(p) for p in pairs]

    def multipart(self, value, where, round_number):
        f = _Fields(value, where, ["parts", "boundary", "subtype", "type", "line_end"])
        items = f.get("parts", list)
        if not items:
            raise ScenarioError("%s.parts: a multipart answer needs at least one part" % where)
        line_end = f.text("line_end", "crlf")
        if line_end not in ("crlf", "lf"):
            raise ScenarioError("%s.line_end: \"crlf\" or \"lf\"" % where)
        boundary = f.text("boundary", "vyra-server-round-%d-boundary" % round_number)
        if not re.fullmatch(r"[0-9A-Za-z'()+_,./:=?-]{1,70}", boundary):
            raise ScenarioError("%s.boundary: 1 to 70 characters of the MIME boundary alphabet" % where)
        parts = []
        for i, item in enumerate(items):
            at = "%s.parts[%d]" % (where, i)
            pf = _Fields(item, at, ["document", "document_file", "text", "file", "base64", "hex", "content_type",
                                    "content_id", "transfer_encoding", "headers"])
            key, content = self.content(pf, at)
            if content is None:
                raise ScenarioError("%s: give document, document_file, text, file, base64 or hex" % at)
            default_type = MMC_TYPE if key in ("document", "document_file") else \
                "text/plain; charset=utf-8" if key == "text" else "application/octet-stream"
            encoding = pf.text("transfer_encoding")
            if encoding not in (None, "base64", "binary", "8bit", "7bit"):
                raise ScenarioError("%s.transfer_encoding: base64, binary, 8bit or 7bit" % at)
            parts.append(AnswerPart(content=content, content_type=pf.text("content_type", default_type),
                                    content_id=pf.text("content_id"), transfer_encoding=encoding,
                                    headers=self.header_list(pf.get("headers"), at + ".headers")))
        subtype = f.text("subtype", "related")
        return Multipart(parts=parts, boundary=boundary, subtype=subtype,
                         type=f.text("type", MMC_TYPE if subtype == "related" else None),
                         line_end=b"\r\n" if line_end == "crlf" else b"\n")

    def auth(self, value, where):
        f = _Fields(value, where, ["scheme", "user", "password", "realm", "qop", "algorithm"])
        scheme = f.text("scheme", "").lower()
        if scheme not in ("basic", "digest"):
            raise ScenarioError("%s.scheme: \"basic\" or \"digest\"" % where)
        user, password = f.text("user"), f.text("password")
        if user is None or password is None:
            raise ScenarioError("%s: give the user and the password the round expects" % where)
        realm = f.text("realm", DEFAULT_REALM)
        if '"' in realm or "\\" in realm:
            raise ScenarioError("%s.realm: no double quote or backslash" % where)
        algorithm = f.text("algorithm", "MD5")
        if algorithm not in ALGORITHMS or (scheme == "basic" and (f.has("algorithm") or f.has("qop"))):
            raise ScenarioError("%s: a Digest round may give \"qop\" (true or false) and \"algorithm\" "
                                "(%s)" % (where, " or ".join('"%s"' % a for a in ALGORITHMS)))
        return AuthDemand(scheme, user, password, realm, qop=f.get("qop", bool, True), algorithm=algorithm)

    def scenario(self, value):
        where = os.path.basename(self.path)
        f = _Fields(value, where, ["name", "description", "mount", "rounds"])
        name = f.text("name", os.path.splitext(os.path.basename(self.path))[0])
        mount = f.text("mount", "/")
        if not mount.startswith("/") or "?" in mount:
            raise ScenarioError("%s.mount: a path beginning with \"/\"" % where)
        if len(mount) > 1:
            mount = mount.rstrip("/")
        items = f.get("rounds", list)
        if not items:
            raise ScenarioError("%s.rounds: a scenario needs at least one round" % where)
        rounds = []
        for i, item in enumerate(items):
            at = "%s.rounds[%d]" % (where, i)
            rf = _Fields(item, at, ["name", "description", "expect", "auth", "answer"])
            if not rf.has("answer"):
                raise ScenarioError("%s: every round needs an answer" % at)
            rounds.append(Round(
                number=i + 1, name=rf.text("name", ""),
                expect=self.expect(rf.value["expect"], at + ".expect") if rf.has("expect") else Expect(),
                auth=self.auth(rf.value["auth"], at + ".auth") if rf.has("auth") else None,
                answer=self.answer(rf.value["answer"], at + ".answer", i + 1)))
        return Scenario(name=name, file=self.path, mount=mount, description=f.text("description", ""),
                        rounds=rounds)


def load_scenario(path):
    """The scenario of one file; ScenarioError with the file, the place and the reason."""
    try:
        with open(path, "rb") as handle:
            raw = handle.read()
    except OSError as exc:
        raise ScenarioError("%s: cannot read: %s" % (path, exc.strerror or exc))
    try:
        value = json.loads(raw.decode("utf-8"))
    except UnicodeDecodeError:
        raise ScenarioError("%s: not UTF-8 text" % path)
    except json.JSONDecodeError as exc:
        raise ScenarioError("%s: not JSON: %s at line %d column %d" % (path, exc.msg, exc.lineno, exc.colno))
    try:
        return _Loader(path).scenario(value)
    except ScenarioError as exc:
        # Places are named by file name; say which file in full once.
        text = str(exc)
        base = os.path.basename(path)
        raise ScenarioError(path + text[len(base):] if text.startswith(base) else "%s: %s" % (path, text))
