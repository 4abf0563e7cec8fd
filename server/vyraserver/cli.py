"""The command line of vyra-server: options, start, the wait for the end, the verdict."""

import argparse
import os
import signal
import sys
import threading
import time

from . import VERSION
from .engine import Engine
from .listener import ListenError, listener_url, make_tls_context, open_listener
from .matchers import ScenarioError
from .scenario import LISTENER_PLACEHOLDERS, load_scenario
from .transcript import Transcript

EXIT_PASSED = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_CANNOT_SERVE = 3

DESCRIPTION = """\
Plays the provisioning server of the vyra client from scenario files: it answers each
request with the command documents, multipart bodies, challenges, redirects or statuses of
the scenario's next round, checks the client's requests and replies against what the round
expects, writes a transcript and ends with a verdict.

This is a test and demo tool. It is not a provisioning server for real handsets: it knows
nothing of subscribers or devices, keeps no state beyond its scenarios, and trusts the
scenario files it is given.
"""

EPILOG = """\
The server prints the base URL of each listener on standard output, one line each (plain
HTTP first), as soon as it accepts connections. Requests go to the scenario whose "mount"
is the longest prefix of their path; scenarios on the same mount are served one after the
other. The format of scenario files is described in server/README.md.

Exit status:
  0  every scenario ran to its end and every expectation held
  1  the verdict failed (an expectation failed, a scenario did not end, a request that no
     round expected or that was no HTTP arrived, or --timeout passed; reasons on stderr), or
     a scenario file or the transcript could not be read, used or written
  2  bad usage
  3  the server could not listen (address in use, unusable certificate or key)
"""


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        # One line, as every program of the system says it (docs/tools.md).
        prefix = "unrecognized arguments: "
        if message.startswith(prefix) and message[len(prefix):].startswith("-"):
            message = "unknown option '%s'" % message[len(prefix):].split()[0]
        self.exit(EXIT_USAGE, "%s: %s (try --help)\n" % (self.prog, message))


def _seconds(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError("%r is not a number of seconds" % text)
    if not 0 < value <= 86400:
        raise argparse.ArgumentTypeError("%r is not between 0 and 86400 seconds" % text)
    return value


def _port(text):
    if not text.isdigit() or int(text) > 65535:
        raise argparse.ArgumentTypeError("%r is not a port number (0 to 65535; 0 picks a free port)" % text)
    return int(text)


def build_parser():
    parser = _Parser(prog="vyra-server", description=DESCRIPTION, epilog=EPILOG,
                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("scenarios", nargs="*", metavar="SCENARIO", help="scenario file (JSON)")
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--http", type=_port, metavar="PORT",
                        help="serve plain HTTP on PORT; 0 picks a free port (the default when --https is absent)")
    parser.add_argument("--https", type=_port, metavar="PORT",
                        help="serve HTTPS on PORT; 0 picks a free port; needs --cert and --key")
    parser.add_argument("--cert", metavar="FILE", help="the server's certificate (PEM; may hold its chain)")
    parser.add_argument("--key", metavar="FILE", help="the certificate's private key (PEM)")
    parser.add_argument("--transcript", metavar="FILE",
                        help="write one JSON line per request, and the verdict last, to FILE (replaced)")
    parser.add_argument("--url-file", metavar="FILE",
                        help="write the listeners' base URLs to FILE once connections are accepted")
    parser.add_argument("--exit-when-done", action="store_true",
                        help="stop as soon as every scenario has ended (default: run until SIGTERM or SIGINT)")
    parser.add_argument("--timeout", type=_seconds, metavar="SECONDS",
                        help="stop after SECONDS; scenarios not ended by then fail the verdict")
    parser.add_argument("--io-timeout", type=_seconds, default=10.0, metavar="SECONDS",
                        help="drop a connection that stays silent this long in the middle of a request, "
                             "or before its first request (default 10)")
    parser.add_argument("--check", action="store_true",
                        help="only check the scenario files and print what they play")
    parser.add_argument("--quiet", action="store_true", help="print only failures and the verdict's reasons")
    parser.add_argument("--version", action="version", version="vyra-server %s" % VERSION)
    return parser


class _Log:
    def __init__(self, quiet):
        self.quiet = quiet
        self.lock = threading.Lock()

    def __call__(self, line, failed=False):
        if self.quiet and not failed:
            return
        with self.lock:
            sys.stderr.write("vyra-server: %s\n" % line)
            sys.stderr.flush()


def _describe(scenario):
    count = len(scenario.rounds)
    lines = ['scenario "%s" (%s), mount %s: %d round%s' % (scenario.name, scenario.file, scenario.mount,
                                                          count, "" if count == 1 else "s")]
    for rnd in scenario.rounds:
        expect = rnd.expect
        wanted = " ".join(m.short() for m in (expect.method, expect.path) if m is not None) or "any request"
        auth = " with %s credentials of %s" % (rnd.auth.scheme.capitalize(), rnd.auth.user) if rnd.auth else ""
        lines.append("  %s: %s%s -> %s" % (rnd.label(), wanted, auth, rnd.answer.describe()))
    return "\n".join(lines)


def _write_url_file(path, urls):
    temporary = "%s.%d.tmp" % (path, os.getpid())
    with open(temporary, "w", encoding="utf-8") as handle:
        handle.write("".join(url + "\n" for url in urls))
    os.replace(temporary, path)


def main(argv=None):
    parser = build_parser()
    options = parser.parse_args(argv)
    if not options.scenarios:
        parser.error("no SCENARIO file")
    if options.https is not None and (options.cert is None or options.key is None):
        parser.error("--https needs --cert and --key")
    if options.https is None and (options.cert is not None or options.key is not None):
        parser.error("--cert and --key go with --https PORT")
    if options.http is None and options.https is None:
        options.http = 0
    log = _Log(options.quiet)

    try:
        scenarios = [load_scenario(path) for path in options.scenarios]
    except ScenarioError as exc:
        sys.stderr.write("vyra-server: %s\n" % exc)
        return EXIT_FAILED
    names = [s.name for s in scenarios]
    for name in names:
        if names.count(name) > 1:
            sys.stderr.write('vyra-server: two scenarios are named "%s"; give one a "name"\n' % name)
            return EXIT_FAILED
    for scenario in scenarios:
        for placeholder, scheme in LISTENER_PLACEHOLDERS.items():
            if placeholder in scenario.placeholders() and getattr(options, scheme) is None:
                sys.stderr.write("vyra-server: %s uses ${%s}, but the server has no %s listener: give --%s PORT"
                                 " (try --help)\n" % (scenario.file, placeholder, scheme.upper(), scheme))
                return EXIT_USAGE
    if options.check:
        print("\n".join(_describe(s) for s in scenarios))
        return EXIT_PASSED

    try:
        transcript = Transcript(options.transcript)
    except OSError as exc:
        sys.stderr.write("vyra-server: cannot write the transcript %s: %s\n" % (options.transcript, exc.strerror))
        return EXIT_FAILED
    engine = Engine(scenarios, transcript, log)
    servers = []
    try:
        if options.http is not None:
            servers.append(open_listener(options.host, options.http, "http", None, engine, options.io_timeout))
        if options.https is not None:
            tls = make_tls_context(options.cert, options.key)
            servers.append(open_listener(options.host, options.https, "https", tls, engine, options.io_timeout))
    except ListenError as exc:
        for server in servers:
            server.server_close()
        sys.stderr.write("vyra-server: %s\n" % exc)
        transcript.close()
        return EXIT_CANNOT_SERVE

    urls = {server.scheme: listener_url(server, options.host) for server in servers}
    for server in servers:
        base = urls[server.scheme]
        server.values.update({"base": base, "scheme": server.scheme, "host": options.host,
                              "port": str(server.server_address[1])})
        server.values.update({scheme: url for scheme, url in urls.items()})

    stop_signal = []
    for number in (signal.SIGTERM, signal.SIGINT):
        signal.signal(number, lambda signum, frame: stop_signal.append(signum))
    threads = [threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
               for server in servers]
    log("serving %d scenario%s: %s" % (len(scenarios), "" if len(scenarios) == 1 else "s",
                                      ", ".join('"%s" at %s' % (s.name, s.mount) for s in scenarios)))
    for thread in threads:
        thread.start()
    if options.url_file:
        try:
            _write_url_file(options.url_file, [urls[s.scheme] + "/" for s in servers])
        except OSError as exc:
            sys.stderr.write("vyra-server: cannot write %s: %s\n" % (options.url_file, exc.strerror))
    for server in servers:
        print(urls[server.scheme] + "/", flush=True)

    deadline = time.monotonic() + options.timeout if options.timeout else None
    timed_out = None
    while not stop_signal:
        if options.exit_when_done and engine.all_ended.is_set():
            break
        if deadline is not None and time.monotonic() >= deadline:
            if not engine.all_ended.is_set():
                timed_out = "gave up after %g s (--timeout)" % options.timeout
            break
        time.sleep(0.05)
    if stop_signal:
        log("stopping on %s" % signal.Signals(stop_signal[0]).name)
    engine.stopping.set()
    engine.wait_for_answers(5)
    for server in servers:
        server.shutdown()
        server.server_close()

    passed, reasons, summary = engine.verdict(timed_out)
    transcript.write({"kind": "verdict", "passed": passed, "reasons": reasons, "scenarios": summary})
    transcript.close()
    if passed:
        log("verdict: passed (%s)" % ", ".join('"%s" %d of %d rounds' % (s["name"], s["played"], s["rounds"])
                                               for s in summary))
        return EXIT_PASSED
    log("verdict: FAILED", failed=True)
    for reason in reasons:
        log("  - %s" % reason, failed=True)
    return EXIT_FAILED
