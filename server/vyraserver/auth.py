"""Basic and Digest challenges (RFC 7617, RFC 7616 with MD5 or SHA-256) and the check of
the credentials that come back.

A Digest challenge offers qop="auth" unless the round says otherwise, and an opaque value.
The check is lenient where handset libraries are known to cut corners, so that the same
scenario serves them and standard clients (curl, the client's HTTP library):

- a response without qop is accepted even when qop was offered (RFC 2069 form);
- the method may be hashed as the request's own method or as "GET" (a reduced handset form
  hashes "GET" for every request);
- the uri may be the request target or an absolute URL whose path and query are the target;
- an opaque that is not sent back is not missed, but one sent back must be the issued one.

Everything else is checked: user, realm, a nonce this server issued, the algorithm, the
password through the response.
"""

import base64
import binascii
import hashlib
import re
import secrets
import threading
import urllib.parse
from dataclasses import dataclass

from .matchers import quote

DEFAULT_REALM = "vyra"
ALGORITHMS = {"MD5": hashlib.md5, "SHA-256": hashlib.sha256}


@dataclass
class AuthDemand:
    scheme: str          # "basic" or "digest"
    user: str
    password: str
    realm: str = DEFAULT_REALM
    qop: bool = True     # Digest: offer qop="auth"
    algorithm: str = "MD5"


def _hash(algorithm, text):
    return ALGORITHMS[algorithm](text.encode("utf-8")).hexdigest()


def parse_auth_params(text):
    """{name in lower case: value} of 'a="x", b=y' (quoted values unescaped)."""
    params = {}
    for match in re.finditer(r'\s*([A-Za-z0-9_-]+)\s*=\s*("((?:[^"\\]|\\.)*)"|[^,\s]*)\s*,?', text):
        value = match.group(3)
        value = re.sub(r"\\(.)", r"\1", value) if value is not None else match.group(2)
        params[match.group(1).lower()] = value
    return params


class Authenticator:
    """Issues challenges and checks credentials; remembers the nonces it handed out, each
    with its opaque value."""

    def __init__(self):
        self._nonces = {}
        self._lock = threading.Lock()

    def challenge(self, demand):
        """The WWW-Authenticate value for a 401 answer."""
        if demand.scheme == "basic":
            return 'Basic realm="%s"' % demand.realm
        nonce, opaque = secrets.token_hex(16), secrets.token_hex(8)
        with self._lock:
            self._nonces[nonce] = opaque
        return 'Digest realm="%s",%s nonce="%s", opaque="%s", algorithm=%s' % (
            demand.realm, ' qop="auth",' if demand.qop else "", nonce, opaque, demand.algorithm)

    def check(self, demand, request):
        """(None, words) without credentials, (False, why) refused, (True, how) accepted."""
        value = request.header("Authorization")
        if value is None:
            return None, "no Authorization header"
        scheme, _, rest = value.strip().partition(" ")
        if scheme.lower() != demand.scheme:
            return False, "credentials use %s, the round demands %s" % (scheme or "nothing",
                                                                       demand.scheme.capitalize())
        if demand.scheme == "basic":
            return self._check_basic(demand, rest.strip())
        return self._check_digest(demand, request, parse_auth_params(rest))

    @staticmethod
    def _check_basic(demand, token):
        try:
            text = base64.b64decode(token, validate=True).decode("utf-8")
        except (binascii.Error, UnicodeDecodeError):
            return False, "Basic credentials are not base64 of user:password"
        user, colon, password = text.partition(":")
        if not colon:
            return False, "Basic credentials hold no colon"
        if user != demand.user:
            return False, "user is %s, expected %s" % (quote(user), quote(demand.user))
        if password != demand.password:
            return False, "wrong password for user %s" % quote(user)
        return True, "Basic credentials of %s accepted" % quote(user)

    def _check_digest(self, demand, request, params):
        missing = [p for p in ("username", "realm", "nonce", "uri", "response") if p not in params]
        if missing:
            return False, "Digest credentials lack %s" % ", ".join(missing)
        if params["username"] != demand.user:
            return False, "user is %s, expected %s" % (quote(params["username"]), quote(demand.user))
        if params["realm"] != demand.realm:
            return False, "realm is %s, expected %s" % (quote(params["realm"]), quote(demand.realm))
        with self._lock:
            opaque = self._nonces.get(params["nonce"])
        if opaque is None:
            return False, "nonce %s was never issued by this server" % quote(params["nonce"])
        if "opaque" in params and params["opaque"] != opaque:
            return False, "opaque %s is not the one issued with the nonce" % quote(params["opaque"])
        if not _uri_names_target(params["uri"], request.target):
            return False, "uri %s does not name the request target %s" % (quote(params["uri"]),
                                                                          quote(request.target))
        algorithm = params.get("algorithm", "MD5")
        if algorithm.upper() != demand.algorithm.upper():
            return False, "algorithm %s, expected %s" % (quote(algorithm), demand.algorithm)
        ha1 = _hash(demand.algorithm, "%s:%s:%s" % (demand.user, demand.realm, demand.password))
        qop = params.get("qop")
        if qop and (qop != "auth" or "nc" not in params or "cnonce" not in params):
            return False, "qop %s without nc and cnonce, or not \"auth\"" % quote(qop)
        for method in dict.fromkeys((request.method, "GET")):
            ha2 = _hash(demand.algorithm, "%s:%s" % (method, params["uri"]))
            if qop:
                expected = _hash(demand.algorithm, ":".join((ha1, params["nonce"], params["nc"], params["cnonce"],
                                                             qop, ha2)))
            else:
                expected = _hash(demand.algorithm, "%s:%s:%s" % (ha1, params["nonce"], ha2))
            if params["response"].lower() == expected:
                how = "" if method == request.method else " (method hashed as GET)"
                return True, "Digest credentials of %s accepted%s" % (quote(demand.user), how)
        return False, "Digest response does not fit the password of %s" % quote(demand.user)


def _uri_names_target(uri, target):
    if uri == target:
        return True
    if "://" not in uri:
        return False
    parts = urllib.parse.urlsplit(uri)
    return (parts.path or "/") + ("?" + parts.query if parts.query else "") == target
