#!/usr/bin/env python3
"""End to end: the real zorvane.exe from copies of the bundle under Wine, on
an Xvfb display and in a Wine prefix of the suite's own (it changes the DPI
and the proxy). The stand-in engine's driver connection plays the user
interface with its own Python codec; every expected reply is written out here
byte for byte. window_probe.exe looks at the host's window. Each host runs
once (a Wine start is slow) and the cases check what happened. Unknown options
go to unittest."""

import argparse
import filecmp
import math
import os
import random
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hostkit  # noqa: E402
from hostkit import driver  # noqa: E402

OPTIONS = WINE = DISPLAY = None
DESKTOP = r"HKCU\Control Panel\Desktop"
SOCKS_PORT = 10808


def x(*parts):
    """Bytes from hex text and raw bytes, in order."""
    return b"".join(bytes.fromhex(p) if isinstance(p, str) else p
                    for p in parts)


def log_reply(lines):
    """Success with a list (0C, one-byte count) of strings (07, one-byte
    size, the UTF-8 bytes)."""
    return x("00 0c", bytes([len(lines)]), *(
        bytes([7, len(line.encode())]) + line.encode() for line in lines))


NULL, TRUE, NOT_IMPLEMENTED = x("00 00"), x("00 01"), b""
START_FAILED = x("01 07 0c", b"start_failed", "07 0c", b"start failed", "00")
# The first sample has nothing to compare with: both rates 0.0. Keys in
# ascending order; each double aligned to 8 from the start of the reply.
TRAFFIC_ZEROS = x("00 0d 02 07 08", b"downKbps", "06 0000", bytes(8),
                  "07 06", b"upKbps", "06 00000000000000", bytes(8))
INSTALLED, STARTED = "Xray پیش فرض نصب شد", "Xray در ویندوز اجرا شد"
DIED_AT_ONCE = "Xray بلافاصله پس از اجرا متوقف شد"
STOPPED, DOWNLOAD_FAILED = "Xray متوقف شد", "دانلود فایل Xray ناموفق بود"
PROXY_ON, PROXY_OFF = "پراکسی سیستم فعال شد", "پراکسی سیستم غیرفعال شد"
OVERRIDE = "localhost;127.*;<local>"


def probe(*words):
    """The window probe's output lines."""
    run = WINE.run(OPTIONS.probe, *words, timeout=120)
    return run.stdout.decode("utf-8").splitlines()


class SessionTest(unittest.TestCase):
    """One host: every channel method; the shipped core installed, started,
    carrying a real request and stopped; malformed messages; the window, its
    arguments, fonts and one showing; the session's end; closing."""

    PAGE = "served on 127.0.0.1, fetched through the core"

    @classmethod
    def setUpClass(cls):
        if not hostkit.port_is_free(SOCKS_PORT):
            raise RuntimeError("port %d is taken; the session needs it"
                               % SOCKS_PORT)
        cls.folder = hostkit.fresh_copy(OPTIONS.bundle, OPTIONS.scratch, "s")
        cls.replies, cls.proxy = [], []  # (what, seen, expected)
        cls.page_server = hostkit.PageServer(cls.PAGE)
        host = hostkit.Host(WINE, cls.folder, ["a", "b c", "", "é-ا-😀"])
        try:
            cls.drive(host)
        finally:
            host.kill()
            cls.page_server.stop()
            cls.stderr = host.process.stderr.decode("utf-8", "replace")

    @classmethod
    def drive(cls, host):
        def call(what, method, arguments, expected):
            cls.replies.append((method + ", " + what,
                                host.call(method, arguments), expected))

        def proxy(what, *expected):
            cls.proxy.append((what, WINE.proxy_settings(), expected))
        cls.window = probe("wait-visible", "60", "state")
        socks = {"config": hostkit.core_config(SOCKS_PORT),
                 "localPort": SOCKS_PORT}
        lines = [INSTALLED, PROXY_ON, STARTED, PROXY_OFF, STOPPED, PROXY_ON,
                 DIED_AT_ONCE, DOWNLOAD_FAILED, DOWNLOAD_FAILED]
        for what, method, arguments, expected in [
                ("empty log", "getLogs", None, x("00 0c 00")),
                # No version file yet: the Persian word for unspecified.
                ("no version", "getXrayVersion", None,
                 x("00 07 0c d9 86 d8 a7 d9 85 d8 b4 d8 ae d8 b5")),
                ("first sample", "getTrafficStats", None, TRAFFIC_ZEROS),
                ("unknown method", "noSuchMethod", None, NOT_IMPLEMENTED),
                ("empty core folder", "checkXrayInstalled", None, TRUE),
                ("installed", "getXrayVersion", None,
                 x("00 07 07", b"bundled"))]:
            call(what, method, arguments, expected)
        shipped = "data/flutter_assets/assets/xray/windows/xray.exe"
        cls.installed = filecmp.cmp(os.path.join(cls.folder, shipped),
                                    os.path.join(cls.folder, "xray/xray.exe"),
                                    shallow=False)

        call("on 10808", "startXray", socks, NULL)
        cls.cores_started = hostkit.core_processes(cls.folder)
        cls.page = hostkit.fetch_through_socks(SOCKS_PORT,
                                               cls.page_server.port)
        proxy("core started", "0x1", "socks=127.0.0.1:10808", OVERRIDE)
        traffic = host.call("getTrafficStats")
        cls.rates = driver.decode_envelope(traffic)[1].values()
        # Past the first sample only the rates differ from the zeros.
        cls.replies.append(("rates measured", traffic[:16] + bytes(8)
                            + traffic[24:40] + bytes(8) + traffic[48:],
                            TRAFFIC_ZEROS))
        call("core running", "stopXray", None, NULL)
        # Terminating does not wait for the process to go.
        cls.cores_stopped = hostkit.wait_until(
            lambda: not hostkit.core_processes(cls.folder))
        proxy("core stopped", "0x0", "socks=127.0.0.1:10808", OVERRIDE)
        call("on for 2080", "setSystemProxy",
             {"enabled": True, "localPort": 2080}, NULL)
        proxy("switched on for 2080", "0x1", "socks=127.0.0.1:2080", OVERRIDE)
        for what, method, arguments, expected in [
                ("no socks inbound", "startXray",
                 {"config": '{"inbounds": []}'}, START_FAILED),
                ("no network", "downloadXray", None, x(
                    "01 07 0f", b"download_failed", "07 0f",
                    b"download failed", "00")),
                ("no network", "updateXray", None, x(
                    "01 07 0d", b"update_failed", "07 0d", b"update failed",
                    "00")),
                ("the session's lines", "getLogs", None, log_reply(lines))]:
            call(what, method, arguments, expected)

        # A message that is no call (its first value is not a string) gets
        # the empty not-implemented reply; a call to getLogs, however damaged
        # after its name, gets the log; arguments that cannot be read to the
        # end are null: startXray's defaults, config "{}", and the core stops.
        get_logs = x("07 07", b"getLogs")
        generator = random.Random(8)
        for what, message, expected in [
                ("random bytes %d" % i, bytes(generator.randrange(256) for _
                 in range(generator.randrange(1, 64))), NOT_IMPLEMENTED)
                for i in range(8)] + [
                ("name is an integer", x("03 01 00 00 00"), NOT_IMPLEMENTED),
                ("name cut short", x("07 07", b"get"), NOT_IMPLEMENTED),
                ("cut after the name", get_logs, log_reply(lines)),
                ("int32 list of 2^32-1 elements", get_logs + x(
                    "09 ff ff ff ff ff 00 00 01 00 00 00"), log_reply(lines)),
                ("config cut", x("07 09", b"startXray", "0d 01 07 06",
                                 b"config", "07 20", b'{"inbounds'),
                 START_FAILED)]:
            answer = host.send(message)
            cls.replies.append((what, (answer.kind, answer.data),
                                ("reply", expected)))

        transcript = host.connection.transcript
        cls.fonts_before = transcript().count("system fonts reloaded")
        cls.font_message = probe("send", "0x1d", "0", "0")
        cls.transcript = transcript()
        # Shown once: hidden again, later frames must leave it hidden.
        probe("hide")
        host.call("getLogs")
        transcript()
        cls.after_hiding = probe("state")
        cls.callbacks = transcript().count("next-frame callback run")

        # WM_ENDSESSION: a session that goes on changes nothing; one that
        # ends (after TRUE to the query) switches the proxy off, nothing else.
        call("again", "startXray", socks, NULL)
        cls.session_ends = probe("send", "0x16", "0", "0", "send", "0x11",
                                 "0", "0")
        proxy("session goes on", "0x1", "socks=127.0.0.1:10808", OVERRIDE)
        cls.session_ends += probe("send", "0x16", "1", "0")
        proxy("session ended", "0x0", "socks=127.0.0.1:10808", OVERRIDE)
        call("after the session's end", "getLogs", None, log_reply(
            lines + [DIED_AT_ONCE, PROXY_ON, STARTED, PROXY_OFF]))
        # A core still running when the window closes outlives the host.
        cls.exit_code = host.close()
        cls.cores_after_close = hostkit.core_processes(cls.folder)
        cls.page_after_close = hostkit.fetch_through_socks(
            SOCKS_PORT, cls.page_server.port)

    def test_replies_byte_for_byte(self):
        for what, reply, expected in self.replies:
            with self.subTest(what):
                self.assertEqual(reply, expected)

    def test_proxy_values_in_the_registry(self):
        for what, values, expected in self.proxy:
            with self.subTest(what):
                self.assertEqual(values, expected)

    def test_shipped_core_installed_started_carrying_a_request_stopped(self):
        self.assertTrue(self.installed)
        self.assertEqual(len(self.cores_started), 1)
        self.assertEqual(self.page, ("HTTP/1.0 200 OK", self.PAGE))
        self.assertTrue(all(math.isfinite(r) and r >= 0 for r in self.rates))
        self.assertTrue(self.cores_stopped, "xray.exe still running")

    def test_window_arguments_fonts_and_one_showing(self):
        self.assertEqual(self.window,
                         ["visible", "window 10 10 560 720 visible"])
        self.assertEqual(self.after_hiding, ["window 10 10 560 720 hidden"])
        self.assertEqual(self.callbacks, 1)
        self.assertIn("frame 1 drawn, next-frame callback run",
                      self.transcript)
        self.assertIn('arguments ["a", "b c", "", "é-ا-😀", "--driver-port=0"]',
                      self.transcript)
        self.assertEqual((self.fonts_before, self.font_message), (0, [
            "sent 0x1d result 0"]))
        self.assertEqual(self.transcript.count("system fonts reloaded"), 1)

    def test_not_a_call_reported(self):
        self.assertIn("Invalid method call; method name is not a string.",
                      self.stderr)

    def test_session_end_and_closing_leave_the_core_running(self):
        self.assertEqual(self.session_ends, ["sent 0x16 result 0",
                                             "sent 0x11 result 1",
                                             "sent 0x16 result 0"])
        self.assertEqual(self.exit_code, 0)
        self.assertEqual(len(self.cores_after_close), 1)
        self.assertEqual(self.page_after_close, ("HTTP/1.0 200 OK", self.PAGE))


class HighDpiEndOfSessionTest(unittest.TestCase):
    """At 144 DPI (LogPixels in the prefix) the window is created at 1.5
    times the logical origin and size. Wine's `wineboot --end-session`
    delivers the session-end messages and ends the host, as Windows does;
    the proxy its core had is off."""

    @classmethod
    def setUpClass(cls):
        folder = hostkit.fresh_copy(OPTIONS.bundle, OPTIONS.scratch, "dpi")
        port = hostkit.free_port()
        WINE.set_dword(DESKTOP, "LogPixels", 144)
        try:
            host = hostkit.Host(WINE, folder)
            try:
                cls.window = probe("wait-visible", "60", "state")
                cls.started = host.call("startXray", {
                    "config": hostkit.core_config(port), "localPort": port})
                cls.proxy_started = WINE.proxy_settings()[0]
                cls.wineboot = subprocess.run(
                    ["wineboot", "--end-session"], env=WINE.env,
                    stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
                cls.host_ended = hostkit.wait_until(
                    lambda: host.process.process.poll() is not None, 60)
                cls.proxy_ended = WINE.proxy_settings()[:2]
            finally:
                host.kill()
        finally:
            WINE.set_dword(DESKTOP, "LogPixels", 96)
        cls.server = "socks=127.0.0.1:%d" % port

    def test_scaled_window(self):
        self.assertEqual(self.window,
                         ["visible", "window 15 15 840 1080 visible"])

    def test_wine_session_end(self):
        self.assertEqual((self.started, self.proxy_started), (NULL, "0x1"))
        self.assertEqual(self.wineboot.returncode, 0)
        self.assertTrue(self.host_ended, "the host outlived the session")
        self.assertEqual(self.proxy_ended, ("0x0", self.server))


class MissingDataTest(unittest.TestCase):
    def test_exits_1_with_the_view_controller_message(self):
        folder = hostkit.fresh_copy(OPTIONS.bundle, OPTIONS.scratch, "no-data",
                                    without="data")
        run = WINE.run(os.path.join(folder, "zorvane.exe"), timeout=120)
        self.assertEqual(run.returncode, 1)
        self.assertIn(b"Failed to create view controller.", run.stderr)


def setUpModule():
    global DISPLAY, WINE
    # A display of its own: the 1080-pixel window at 144 DPI must fit.
    DISPLAY = hostkit.Display(1920, 1440)
    WINE = hostkit.Wine(OPTIONS.wine_run, OPTIONS.prefix, DISPLAY.name)
    WINE.end_server()  # what an earlier run left, on another display
    WINE.set_dword(DESKTOP, "LogPixels", 96)  # also sets the prefix up


def tearDownModule():
    # Whatever a failed check left running in the prefix ends here.
    WINE.end_server()
    DISPLAY.stop()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ["--bundle", "--probe", "--wine-run", "--prefix", "--scratch"]:
        parser.add_argument(name, required=True)
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
