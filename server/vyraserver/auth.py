"""Basic and Digest challenges (RFC 7617, RFC 7616 with MD5) and the check of the
credentials that come back.

The handset's HTTP library answers a Digest challenge in a reduced form: no qop, no
cnonce, the full request URL as the uri, and the method hashed as "GET" whatever the
request's method is. A response is therefore accepted when it fits the request's own
method or "GET"; a uri is accepted when it is the request target or an absolute URL whose
path and query are the target. Clients that use qop="auth" (curl, browsers) are checked by
the full rule.
"""

import base64
import binascii
import hashlib
import re
import secrets
import threading
import urllib.parse
from dataclasses import dataclass

DEFAULT_REALM = "vyra"


@dataclass
class AuthDemand:
    scheme: str          # "basic" or "digest"
    user: str
    password: str
    realm: str = DEFAULT_REALM


def _md5(text):
    return hashlib.md5(text.encode("latin-1", "replace")).hexdigest()


def parse_auth_params(text):
    """{name in lower case: value} of 'a="x", b=y' (quoted values unescaped)."""
    params = {}
    for match in re.finditer(r'\s*([A-Za-z0-9_-]+)\s*=\s*("((?:[^"\\]|\\.)*)"|[^,\s]*)\s*,?', text):
        value = match.group(3)
        value = re.sub(r"\\(.)", r"\1", value) if value is not None else match.group(2)
        params[match.group(1).lower()] = value
    return params


class Authenticator:
    """Issues challenges and checks credentials; remembers the nonces it handed out."""

    def __init__(self):
        self._nonces = set()
        self._lock = threading.Lock()

    def challenge(self, demand):
        """The WWW-Authenticate value for a 401 answer."""
        if demand.scheme == "basic":
            return 'Basic realm="%s"' % demand.realm
        nonce = secrets.token_hex(16)
        with self._lock:
            self._nonces.add(nonce)
        return 'Digest realm="%s", nonce="%s", algorithm=MD5' % (demand.realm, nonce)

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
            return False, "user is %r, expected %r" % (user, demand.user)
        if password != demand.password:
            return False, "wrong password for user %r" % user
        return True, "Basic credentials of %r accepted" % user

    def _check_digest(self, demand, request, params):
        missing = [p for p in ("username", "realm", "nonce", "uri", "response") if p not in params]
        if missing:
            return False, "Digest credentials lack %s" % ", ".join(missing)
        if params["username"] != demand.user:
            return False, "user is %r, expected %r" % (params["username"], demand.user)
        if params["realm"] != demand.realm:
            return False, "realm is %r, expected %r" % (params["realm"], demand.realm)
        with self._lock:
            known = params["nonce"] in self._nonces
        if not known:
            return False, "nonce %r was never issued by this server" % params["nonce"]
        if not _uri_names_target(params["uri"], request.target):
            return False, "uri %r does not name the request target %r" % (params["uri"], request.target)
        algorithm = params.get("algorithm", "MD5")
        if algorithm.upper() != "MD5":
            return False, "algorithm %r is not MD5" % algorithm
        ha1 = _md5("%s:%s:%s" % (demand.user, demand.realm, demand.password))
        qop = params.get("qop")
        for method in dict.fromkeys((request.method, "GET")):
            ha2 = _md5("%s:%s" % (method, params["uri"]))
            if qop:
                if qop != "auth" or "nc" not in params or "cnonce" not in params:
                    return False, "qop %r without nc and cnonce, or not \"auth\"" % qop
                expected = _md5(":".join((ha1, params["nonce"], params["nc"], params["cnonce"], qop, ha2)))
            else:
                expected = _md5("%s:%s:%s" % (ha1, params["nonce"], ha2))
            if params["response"].lower() == expected:
                how = "" if method == request.method else " (method hashed as GET)"
                return True, "Digest credentials of %r accepted%s" % (demand.user, how)
        return False, "Digest response does not fit the password of %r" % demand.user


def _uri_names_target(uri, target):
    if uri == target:
        return True
    if "://" not in uri:
        return False
    parts = urllib.parse.urlsplit(uri)
    return (parts.path or "/") + ("?" + parts.query if parts.query else "") == target
