#!/usr/bin/env python3
"""End to end: the real zorvane.exe from copies of the bundle under Wine, in a
prefix and on an Xvfb display of the suite's own, driven through the stand-in
engine's driver connection (its own Python codec; every reply written out byte
for byte) and looked at by window_probe.exe. Unknown options go to unittest."""

import os
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "testing"))
import hostkit  # noqa: E402
import wine_suite  # noqa: E402
from wine_suite import (BUNDLED, DIED_AT_ONCE, INSTALLED, NULL, OVERRIDE,
                        PROXY_OFF, PROXY_ON, START_FAILED, STARTED, TRUE,
                        log_reply, x)

OPTIONS = WINE = STAGE = None
DESKTOP = r"HKCU\Control Panel\Desktop"
SOCKS_PORT = 10808
NOT_IMPLEMENTED = b""


def probe(*words):
    """The window probe's output lines."""
    run = WINE.run(OPTIONS.probe, *words, timeout=120)
    return run.stdout.decode("utf-8").splitlines()


def faults(host):
    """The faults the stand-in engine wrote to the host's stderr so far."""
    return [line for line in host.process.stderr.decode().splitlines()
            if "fault:" in line]


def play_session(check, hosts):
    """The channel's methods but stopXray and the downloads, the shipped
    stand-in core dying at once and outliving the window (a core's start,
    stop and service are the real-core suite's, downloads the download
    suite's), malformed messages, the window and what the engine
    saw of it, the session's end and closing."""
    folder = hostkit.fresh_copy(OPTIONS.bundle, OPTIONS.scratch, "s")
    host = hostkit.Host(WINE, folder, ["a", "b c", "", "é-ا-😀"])
    hosts.append(host)

    def call(what, method, arguments, expected):
        check(method + ", " + what, host.call(method, arguments), expected)

    def proxy(what, enable):
        check("proxy, " + what, WINE.proxy_settings(),
              (enable, "socks=127.0.0.1:10808", OVERRIDE))

    window = probe("wait-visible", "60", "state", "client")
    check("window at 144 DPI", window[:2],
          ["visible", "window 15 15 840 1080 visible"])
    client = "x".join(window[2].split()[3:5]) if len(window) > 2 else "?"
    # The start that fails ended no core, and nothing listens on 2080: the
    # proxy it leaves would be dead, so it goes off before the start's line.
    lines = [INSTALLED, PROXY_ON, PROXY_OFF, DIED_AT_ONCE]
    # Nothing to compare the first sample with: both rates 0.0. Keys in
    # ascending order, doubles aligned to 8 from the reply's start.
    call("first sample", "getTrafficStats", None, x(
        "00 0d 02 07 08", b"downKbps", "06 0000", bytes(8), "07 06",
        b"upKbps", "06 00000000000000", bytes(8)))
    call("unknown method", "noSuchMethod", None, NOT_IMPLEMENTED)
    call("empty core folder", "checkXrayInstalled", None, TRUE)
    call("installed", "getXrayVersion", None, BUNDLED)
    call("on for 2080", "setSystemProxy",
         {"enabled": True, "localPort": 2080}, NULL)
    call("no socks inbound", "startXray", {"config": '{"inbounds": []}'},
         START_FAILED)
    call("the session's lines", "getLogs", None, log_reply(lines))

    # A message that is no call (its first value is not a string) gets the
    # empty not-implemented reply; a call to getLogs, however damaged after
    # its name, gets the log; arguments that cannot be read to the end are
    # null: startXray's defaults, config "{}", and the core stops.
    # (Random bytes are the dispatcher fuzzer's.)
    get_logs = x("07 07", b"getLogs")
    for what, message, expected in [
            ("name is an integer", x("03 01 00 00 00"), NOT_IMPLEMENTED),
            ("cut after the name", get_logs, log_reply(lines)),
            ("int32 list of 2^32-1 elements", get_logs + x(
                "09 ff ff ff ff ff 00 00 01 00 00 00"), log_reply(lines)),
            ("config cut", x("07 09", b"startXray", "0d 01 07 06", b"config",
                             "07 20", b'{"inbounds'), START_FAILED)]:
        answer = host.send(message)
        check(what, (answer.kind, answer.data), ("reply", expected))

    # WM_FONTCHANGE claimed by the engine: its answer, and no handling of
    # the window's own; then not claimed: the fonts reloaded.
    transcript = host.connection.transcript
    fonts = transcript().count("system fonts reloaded")
    host.connection.claim(0x1d, 7)
    check("WM_FONTCHANGE, claimed then not", (fonts, probe(
        "send", "0x1d", "0", "0", "send", "0x1d", "0", "0")),
          (0, ["sent 0x1d result 7", "sent 0x1d result 0"]))
    text = transcript()
    check("fonts reloaded", text.count("system fonts reloaded"), 1)
    check("arguments as UTF-8", text.count(
        'arguments ["a", "b c", "", "é-ا-😀", "--driver-port=0"]'), 1)
    check("switched away and back", probe("reactivate"), ["reactivated"])
    # Shown once: hidden again, later frames must leave it hidden.
    probe("hide")
    host.call("getLogs")
    transcript()
    check("hidden after later frames", probe("state"),
          ["window 15 15 840 1080 hidden"])
    # What the engine saw: the view made for the client area it fills, the
    # window shown by the first frame and not before, the claimed message,
    # the focus given at each activation (the first when the view was
    # attached), and nothing a real engine would fail on.
    check("the engine's records", host.connection.records(), [
        "activation gave the view the focus",
        "view created at %s in a client area of %s" % (client, client),
        "the first frame drawn with the top-level window hidden",
        "a later frame drawn with the top-level window visible",
        "claimed message 0x001d, result 7",
        "activation gave the view the focus",
        "a later frame drawn with the top-level window hidden"])

    # WM_ENDSESSION: a session that goes on changes nothing; one that ends
    # (after TRUE to the query) switches the proxy off, nothing else.
    call("again", "startXray", hostkit.start_arguments(SOCKS_PORT), NULL)
    check("session goes on", probe("send", "0x16", "0", "0", "send", "0x11",
                                   "0", "0"),
          ["sent 0x16 result 0", "sent 0x11 result 1"])
    proxy("session goes on", "0x1")
    check("session ends", probe("send", "0x16", "1", "0"),
          ["sent 0x16 result 0"])
    proxy("session ended", "0x0")
    call("after the session's end", "getLogs", None, log_reply(
        lines + [DIED_AT_ONCE, PROXY_ON, STARTED, PROXY_OFF]))
    # Restart Manager (an update, an install) asks the program to close, the
    # session going on (ENDSESSION_CLOSEAPP): it closes as the user closes
    # it. A core still running when the window closes outlives the host, and
    # so does the proxy pointing at it.
    call("on again", "setSystemProxy", {"enabled": True}, NULL)
    check("close asked by Restart Manager", probe(
        "send", "0x11", "0", "1", "send", "0x16", "1", "1"),
          ["sent 0x11 result 1", "sent 0x16 result 0"])
    check("exit code after closing", host.process.process.wait(5), 0)
    check("cores after closing", len(hostkit.core_processes(host.folder)), 1)
    proxy("after closing", "0x1")
    check("faults, closing included", faults(host), [])


class EndToEndTest(unittest.TestCase):
    def test_session(self):
        """One host run (a Wine start is slow); each check a subtest."""
        if not hostkit.port_is_free(SOCKS_PORT):
            raise RuntimeError("port 10808 is taken; the session needs it")
        wine_suite.play_and_check(self, play_session)

    def test_wine_session_end(self):
        """Wine's own session end, as Windows sends it: the host ends and the
        proxy its core had is off."""
        folder = hostkit.fresh_copy(OPTIONS.bundle, OPTIONS.scratch, "end")
        port = hostkit.free_port()
        host = hostkit.Host(WINE, folder)
        self.addCleanup(host.kill)
        self.assertEqual(host.call("startXray", hostkit.start_arguments(port)),
                         NULL)
        self.assertEqual(WINE.proxy_settings()[0], "0x1")
        wineboot = subprocess.run(
            ["wineboot", "--end-session"], env=WINE.env,
            stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        self.assertEqual(wineboot.returncode, 0)
        self.assertTrue(hostkit.wait_until(
            lambda: host.process.process.poll() is not None, 60),
            "the host outlived the session")
        self.assertEqual(WINE.proxy_settings()[:2],
                         ("0x0", "socks=127.0.0.1:%d" % port))

    def test_quit_from_another_program(self):
        """A WM_QUIT that the window did not post ends the loop with the
        engine still running: the host ends as closing ends it, using
        nothing of the engine while it is destroyed."""
        folder = hostkit.fresh_copy(OPTIONS.bundle, OPTIONS.scratch, "quit")
        host = hostkit.Host(WINE, folder)
        self.addCleanup(host.kill)
        self.assertEqual(probe("wait-visible", "60", "post", "0x12", "0",
                               "0"), ["visible", "posted 0x12"])
        self.assertEqual((host.process.wait(60), faults(host)), (0, []))

    def test_missing_data_folder(self):
        """No engine can be made: the host asks the embedder for nothing
        more (the stand-in records, as faults, calls a real engine could
        crash on), says so once and ends with 1."""
        folder = hostkit.fresh_copy(OPTIONS.bundle, OPTIONS.scratch, "no-data",
                                    without="data")
        run = WINE.run(os.path.join(folder, "zorvane.exe"), timeout=120)
        reason = "flutter_windows stand-in: no assets folder at "
        lines = [line for line in run.stderr.decode().splitlines()
                 if not line.startswith(reason)]
        self.assertEqual((run.returncode, lines),
                         (1, ["Failed to create view controller."]))


def setUpModule():
    global STAGE, WINE
    # A display of its own: the 1080-pixel window at 144 DPI must fit.
    STAGE = wine_suite.Stage(OPTIONS, 1920, 1440)
    WINE = STAGE.wine
    # 150 %: the window's origin and size scaled, as a plain 100 % would not
    # show. Setting it also sets the prefix up.
    WINE.set_dword(DESKTOP, "LogPixels", 144)


def tearDownModule():
    STAGE.stop()


if __name__ == "__main__":
    wine_suite.main("--bundle", "--probe", "--wine-run", "--prefix",
                    "--scratch")
