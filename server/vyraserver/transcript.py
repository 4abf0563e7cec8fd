"""The transcript: one JSON object per line for every request (and every connection that
failed before a request was read), the verdict last. Lines are flushed as they are
written, so a reader may follow the file while the server runs."""

import base64
import datetime
import json
import threading


def now_text():
    return datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="milliseconds").replace("+00:00", "Z")


def encode_body(data):
    """A body for the transcript: {"length", "text"} when it is readable UTF-8 text,
    else {"length", "base64"}."""
    entry = {"length": len(data)}
    if not data:
        return entry
    try:
        text = data.decode("utf-8")
        if all(c.isprintable() or c in "\r\n\t" for c in text):
            entry["text"] = text
            return entry
    except UnicodeDecodeError:
        pass
    entry["base64"] = base64.b64encode(data).decode("ascii")
    return entry


class Transcript:
    def __init__(self, path):
        self._lock = threading.Lock()
        self._sequence = 0
        self._file = open(path, "w", encoding="utf-8") if path else None

    def write(self, record):
        """Stamps record with the time and a sequence number and appends it."""
        with self._lock:
            self._sequence += 1
            line = dict(time=now_text(), seq=self._sequence, **record)
            if self._file:
                self._file.write(json.dumps(line, ensure_ascii=False) + "\n")
                self._file.flush()

    def close(self):
        with self._lock:
            if self._file:
                self._file.close()
                self._file = None
