"""Value matchers: how a scenario says what a text it expects may look like.

In a scenario file an expected value is written as:

    "ok"                      exactly this text (a number stands for its decimal text)
    null or false             the value must be absent
    true                      present, any value
    {"regex": "p.+"}          the whole value matches the regular expression
    {"contains": "x"}         the value contains the text
    {"prefix": "x"}           the value begins with the text
    {"one_of": ["a", "b"]}    one of these texts

A matcher answers None when the value fits and otherwise says what came instead.
"""

import json
import re


class ScenarioError(Exception):
    """A scenario file that cannot be used; the text names the file and the place."""


def quote(text, limit=200):
    """A value as it appears in messages: JSON-quoted, long ones cut."""
    if text is None:
        return "(absent)"
    shown = json.dumps(text, ensure_ascii=False)
    return shown if len(shown) <= limit else shown[:limit] + "...\" (%d characters)" % len(text)


class Matcher:
    def check(self, actual):
        """None when actual (a text, or None for absent) fits, else what came instead."""
        if self.fits(actual):
            return None
        return "got nothing" if actual is None else "got " + quote(actual)

    def fits(self, actual):
        raise NotImplementedError

    def describe(self):
        """The expectation as the end of a sentence: 'is "ok"', 'matches /.+/'."""
        raise NotImplementedError

    def short(self):
        """The expectation in a few characters, for lists of attributes."""
        raise NotImplementedError


class Exact(Matcher):
    def __init__(self, text):
        self.text = text

    def fits(self, actual):
        return actual == self.text

    def describe(self):
        return "is " + quote(self.text)

    def short(self):
        return quote(self.text)


class Absent(Matcher):
    def fits(self, actual):
        return actual is None

    def describe(self):
        return "is absent"

    def short(self):
        return "(absent)"


class Present(Matcher):
    def fits(self, actual):
        return actual is not None

    def describe(self):
        return "is present"

    def short(self):
        return "*"


class Regex(Matcher):
    def __init__(self, pattern):
        self.pattern = pattern
        self.compiled = re.compile(pattern, re.DOTALL)

    def fits(self, actual):
        return actual is not None and self.compiled.fullmatch(actual) is not None

    def describe(self):
        return "matches /%s/" % self.pattern

    def short(self):
        return "/%s/" % self.pattern


class Contains(Matcher):
    def __init__(self, text):
        self.text = text

    def fits(self, actual):
        return actual is not None and self.text in actual

    def describe(self):
        return "contains %s" % quote(self.text)

    def short(self):
        return "*%s*" % quote(self.text)


class Prefix(Matcher):
    def __init__(self, text):
        self.text = text

    def fits(self, actual):
        return actual is not None and actual.startswith(self.text)

    def describe(self):
        return "begins with %s" % quote(self.text)

    def short(self):
        return "%s*" % quote(self.text)


class OneOf(Matcher):
    def __init__(self, texts):
        self.texts = texts

    def fits(self, actual):
        return actual in self.texts

    def describe(self):
        return "is one of " + ", ".join(quote(t) for t in self.texts)

    def short(self):
        return "|".join(quote(t) for t in self.texts)


def _scalar_text(value):
    if isinstance(value, str):
        return value
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        return None
    return str(value)


def compile_matcher(written, where):
    """The matcher of an expected value as a scenario writes it; ScenarioError naming where if none."""
    if written is None or written is False:
        return Absent()
    if written is True:
        return Present()
    text = _scalar_text(written)
    if text is not None:
        return Exact(text)
    if isinstance(written, dict) and len(written) == 1:
        (kind, arg), = written.items()
        if kind == "regex" and isinstance(arg, str):
            try:
                return Regex(arg)
            except re.error as exc:
                raise ScenarioError("%s: bad regular expression /%s/: %s" % (where, arg, exc))
        if kind in ("contains", "prefix") and isinstance(arg, str):
            return Contains(arg) if kind == "contains" else Prefix(arg)
        if kind == "one_of" and isinstance(arg, list) and arg and \
                all(_scalar_text(a) is not None for a in arg):
            return OneOf([_scalar_text(a) for a in arg])
    raise ScenarioError("%s: %s is not an expected value (a text, a number, true, null, or one of "
                        "{\"regex\"|\"contains\"|\"prefix\": text}, {\"one_of\": [texts]})"
                        % (where, json.dumps(written)))
