"""MMC documents as the server sees them: the client's replies, multipart bodies, and a
summary of the command documents the server sends.

A reply is an XML document whose root `mmc` holds one `status` element (attributes
`mmcID` and `mmc`, the status word) with one empty `detail` element per reported method
(`id`, `name`, `object`, `value` or `valueref`, `result`). Element and attribute names are
compared without regard to letter case, as the client does. A reply that carries binary
values comes as multipart/related: the document in the part typed MMC_TYPE, each value in
an application/octet-stream part whose Content-ID the `detail`'s valueref names.
"""

import base64
import binascii
import quopri
import re
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass, field

from .matchers import quote

MMC_TYPE = "application/vnd.zevorize.mmc-xml"


class ReplyError(Exception):
    """A request body that is not a reply the server can read; the text says why."""


# ---------------------------------------------------------------- content types

def parse_content_type(value):
    """(media type in lower case, {parameter name in lower case: value}) of a header value."""
    if value is None:
        return None, {}
    media, _, rest = value.partition(";")
    params = {}
    for match in re.finditer(r'\s*([^=;\s]+)\s*=\s*("(?:[^"\\]|\\.)*"|[^;]*)\s*;?', rest):
        name, raw = match.group(1).lower(), match.group(2).strip()
        if raw.startswith('"') and raw.endswith('"') and len(raw) >= 2:
            raw = re.sub(r"\\(.)", r"\1", raw[1:-1])
        params.setdefault(name, raw)
    return media.strip().lower(), params


# ---------------------------------------------------------------- multipart bodies

@dataclass
class Part:
    headers: list                # [(name, value)]
    data: bytes                  # after transfer decoding

    def header(self, name):
        for n, v in self.headers:
            if n.lower() == name.lower():
                return v
        return None

    @property
    def content_type(self):
        return self.header("Content-Type")

    @property
    def content_id(self):
        """The Content-ID without its angle brackets, or None."""
        value = self.header("Content-ID")
        if value is None:
            return None
        value = value.strip()
        return value[1:-1] if value.startswith("<") and value.endswith(">") else value


def _parse_part_headers(block):
    headers = []
    for line in re.split(r"\r?\n", block.decode("latin-1")):
        if not line:
            continue
        if line[0] in " \t" and headers:
            name, value = headers[-1]
            headers[-1] = (name, value + " " + line.strip())
            continue
        name, colon, value = line.partition(":")
        if not colon:
            raise ReplyError("part header line %s has no colon" % quote(line, 100))
        headers.append((name.strip(), value.strip()))
    return headers


def _transfer_decode(part):
    encoding = (part.header("Content-Transfer-Encoding") or "").strip().lower()
    if encoding == "base64":
        try:
            part.data = base64.b64decode(re.sub(rb"[^A-Za-z0-9+/=]", b"", part.data))
        except binascii.Error as exc:
            raise ReplyError("part %s: bad base64: %s" % (part.content_id, exc))
    elif encoding == "quoted-printable":
        part.data = quopri.decodestring(part.data)


def split_multipart(body, boundary):
    """The parts of a multipart body (RFC 2046): each delimiter line "--boundary" at a line
    start, the line break before it belonging to the delimiter, "--boundary--" closing."""
    if not boundary:
        raise ReplyError("multipart body without a boundary parameter")
    delimiter = b"--" + boundary.encode("latin-1")
    starts = []
    for match in re.finditer(re.escape(delimiter), body):
        at = match.start()
        if at == 0 or body[at - 1:at] == b"\n":
            starts.append(at)
    if not starts:
        raise ReplyError("multipart body holds no delimiter line for boundary %s" % quote(boundary))
    parts = []
    closed = False
    for index, at in enumerate(starts):
        after = at + len(delimiter)
        if body[after:after + 2] == b"--":
            closed = True
            break
        line_end = body.find(b"\n", after)
        if line_end < 0 or index + 1 == len(starts):
            break
        segment = body[line_end + 1:starts[index + 1]]
        # The line break before the next delimiter is part of the delimiter.
        if segment.endswith(b"\r\n"):
            segment = segment[:-2]
        elif segment.endswith(b"\n"):
            segment = segment[:-1]
        match = re.search(rb"\r?\n\r?\n", segment)
        if segment.startswith(b"\r\n") or segment.startswith(b"\n"):
            head, data = b"", segment[2 if segment.startswith(b"\r\n") else 1:]
        elif match:
            head, data = segment[:match.start()], segment[match.end():]
        else:
            raise ReplyError("multipart part %d has no blank line after its headers" % (len(parts) + 1))
        part = Part(_parse_part_headers(head), data)
        _transfer_decode(part)
        parts.append(part)
    if not closed:
        raise ReplyError("multipart body does not end with the closing delimiter \"--%s--\"" % boundary)
    return parts


def build_multipart(parts, boundary, line_end=b"\r\n"):
    """A multipart body from [(headers [(name, value)], data)]."""
    delimiter = b"--" + boundary.encode("latin-1")
    out = []
    for headers, data in parts:
        if delimiter in data:
            raise ValueError("boundary %r occurs inside a part" % boundary)
        out.append(delimiter + line_end)
        out.extend(("%s: %s" % (n, v)).encode("latin-1") + line_end for n, v in headers)
        out.append(line_end + data + line_end)
    out.append(delimiter + b"--" + line_end)
    return b"".join(out)


# ---------------------------------------------------------------- replies

@dataclass
class Reply:
    content_type: str
    status: dict = field(default_factory=dict)       # attribute name in lower case -> value
    details: list = field(default_factory=list)      # each [(attribute name, value)] in order
    parts: list = field(default_factory=list)        # binary Parts, in order
    doctype: str = None

    def summary(self):
        """What the transcript keeps of a reply."""
        return {"status": self.status.get("mmc"), "mmcID": self.status.get("mmcid"),
                "details": [dict(d) for d in self.details],
                "parts": [{"content_id": p.content_id, "content_type": p.content_type,
                           "length": len(p.data)} for p in self.parts]}


def detail_value(detail, name):
    for n, v in detail:
        if n.lower() == name.lower():
            return v
    return None


def _local(tag):
    return tag.rsplit("}", 1)[-1].lower()


def parse_reply(content_type, body):
    """The reply of a request body; ReplyError when it is none."""
    if not body:
        raise ReplyError("the request carries no reply (no body)")
    media, params = parse_content_type(content_type)
    if media is None:
        raise ReplyError("the reply has no Content-Type")
    parts = []
    if media.startswith("multipart/"):
        all_parts = split_multipart(body, params.get("boundary"))
        documents = [p for p in all_parts if (parse_content_type(p.content_type)[0] or "") == MMC_TYPE]
        if not documents:
            raise ReplyError("multipart reply has no part of type %s" % MMC_TYPE)
        document = documents[-1].data
        parts = [p for p in all_parts if p is not documents[-1]]
    elif media == MMC_TYPE:
        document = body
    else:
        raise ReplyError("reply Content-Type is %s, not %s or multipart" % (quote(content_type), MMC_TYPE))
    reply = Reply(content_type=content_type, parts=parts)
    doctype = re.search(rb"<!DOCTYPE[^>]*>", document)
    if doctype:
        reply.doctype = doctype.group(0).decode("latin-1")
    try:
        root = ElementTree.fromstring(document)
    except ElementTree.ParseError as exc:
        raise ReplyError("reply is not well-formed XML: %s" % exc)
    if _local(root.tag) != "mmc":
        raise ReplyError("reply root element is <%s>, not <mmc>" % _local(root.tag))
    status = next((child for child in root if _local(child.tag) == "status"), None)
    if status is None:
        raise ReplyError("reply <mmc> holds no <status> element")
    reply.status = {name.lower(): value for name, value in status.attrib.items()}
    reply.details = [list(child.attrib.items()) for child in status if _local(child.tag) == "detail"]
    return reply


# ---------------------------------------------------------------- command documents

def summarize_document(text):
    """The methods of a command document the server sends, for the transcript; None when
    the text is no readable MMC document (a scenario may send one on purpose)."""
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError:
        return None
    if _local(root.tag) != "mmc":
        return None
    attributes = {name.lower(): value for name, value in root.attrib.items()}
    methods = [{name.lower(): value for name, value in element.attrib.items()}
               for element in root.iter() if _local(element.tag) == "method"]
    return {"mmcID": attributes.get("mmcid"), "status-uri": attributes.get("status-uri"),
            "methods": methods}
