#!/usr/bin/env python3
"""End to end: the real zorvane.exe from the bundle, run under Wine from
scratch copies of it, on an Xvfb display of the suite's own, in the suite's
own Wine prefix (it changes the prefix's DPI and proxy settings). The stand-in
engine's driver connection plays the user interface; messages are encoded
and replies decoded by the driver's Python codec, and every expected reply is
written out here byte for byte. The window probe (window_probe.exe) looks at
the host's window from a second Windows program. Each host runs once (a Wine
start is slow) and the test cases check what happened. Unknown options go to
unittest."""

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

OPTIONS = None
WINE = None
DISPLAY = None

DESKTOP = r"HKCU\Control Panel\Desktop"
SOCKS_PORT = 10808


def h(text):
    return bytes.fromhex(text)


def string(text):
    """A string value: type 07, a one-byte size, the UTF-8 bytes."""
    data = text.encode("utf-8")
    assert len(data) < 254
    return bytes([0x07, len(data)]) + data


def log_reply(lines):
    """Success with a list (type 0C, one-byte count) of strings."""
    assert len(lines) < 254
    return h("00 0c") + bytes([len(lines)]) + b"".join(map(string, lines))


SUCCESS_NULL = h("00 00")
SUCCESS_TRUE = h("00 01")
NOT_IMPLEMENTED = b""
START_FAILED = (h("01 07 0c") + b"start_failed" + h("07 0c") + b"start failed"
                + h("00"))
DOWNLOAD_FAILED = (h("01 07 0f") + b"download_failed" + h("07 0f")
                   + b"download failed" + h("00"))
UPDATE_FAILED = (h("01 07 0d") + b"update_failed" + h("07 0d")
                 + b"update failed" + h("00"))
# No version file yet: the Persian word for unspecified, 12 UTF-8 bytes.
UNSPECIFIED = h("00 07 0c d9 86 d8 a7 d9 85 d8 b4 d8 ae d8 b5")
BUNDLED = h("00 07 07") + b"bundled"
# The first sample has nothing to compare with: both rates 0.0. Keys in
# ascending order; each double aligned to 8 from the start of the reply.
TRAFFIC_ZEROS = (h("00 0d 02 07 08") + b"downKbps" + h("06 0000") + bytes(8)
                 + h("07 06") + b"upKbps" + h("06 00000000000000") + bytes(8))

INSTALLED = "Xray پیش فرض نصب شد"
STARTED = "Xray در ویندوز اجرا شد"
DIED_AT_ONCE = "Xray بلافاصله پس از اجرا متوقف شد"
STOPPED = "Xray متوقف شد"
PROXY_ON = "پراکسی سیستم فعال شد"
PROXY_OFF = "پراکسی سیستم غیرفعال شد"
DOWNLOAD_FAILED_LINE = "دانلود فایل Xray ناموفق بود"

PROXY_OVERRIDE = "localhost;127.*;<local>"


def probe(*words):
    """The window probe's output lines."""
    run = WINE.run(OPTIONS.probe, *words, timeout=120)
    return run.stdout.decode("utf-8").splitlines()


class SessionTest(unittest.TestCase):
    """One host through a whole session: every channel method, the shipped
    core installed, started, carrying a real request and stopped, the proxy
    switched, malformed messages; the window, its arguments, fonts and its
    one showing; closed with a core running."""

    ARGUMENTS = ["a", "b c", "", "é-ا-😀"]
    PAGE = "served on 127.0.0.1, fetched through the core"

    @classmethod
    def setUpClass(cls):
        if not hostkit.port_is_free(SOCKS_PORT):
            raise RuntimeError("port %d is taken by another program; the "
                               "session needs it" % SOCKS_PORT)
        cls.folder = hostkit.fresh_copy(OPTIONS.bundle, OPTIONS.scratch,
                                        "session")
        cls.replies = []  # (what, reply, expected reply)
        cls.page_server = hostkit.PageServer(cls.PAGE)
        host = hostkit.Host(WINE, cls.folder, cls.ARGUMENTS)
        try:
            cls.drive(host)
        finally:
            host.kill()
            cls.page_server.stop()
            cls.stderr = host.process.stderr.decode("utf-8", "replace")

    @classmethod
    def check(cls, what, reply, expected):
        cls.replies.append((what, reply, expected))

    @classmethod
    def drive(cls, host):
        call = host.call
        cls.window = probe("wait-visible", "60", "state")

        # A fresh host: nothing logged, installed or sampled yet.
        cls.check("getLogs, empty log", call("getLogs"), h("00 0c 00"))
        cls.check("getXrayVersion, no version file", call("getXrayVersion"),
                  UNSPECIFIED)
        cls.check("getTrafficStats, first sample", call("getTrafficStats"),
                  TRAFFIC_ZEROS)
        cls.check("unknown method", call("noSuchMethod"), NOT_IMPLEMENTED)
        cls.check("name in another letter case", call("GetLogs"),
                  NOT_IMPLEMENTED)

        cls.check("checkXrayInstalled, empty core folder",
                  call("checkXrayInstalled"), SUCCESS_TRUE)
        core = os.path.join(cls.folder, "xray")
        shipped = os.path.join(cls.folder, "data", "flutter_assets", "assets",
                               "xray", "windows", "xray.exe")
        cls.installed = filecmp.cmp(os.path.join(core, "xray.exe"), shipped,
                                    shallow=False)
        cls.check("getXrayVersion, installed", call("getXrayVersion"), BUNDLED)
        cls.check("checkXrayInstalled, core in place",
                  call("checkXrayInstalled"), SUCCESS_TRUE)

        # The core on 10808, carrying a real request.
        config = hostkit.core_config(SOCKS_PORT)
        cls.check("startXray on 10808",
                  call("startXray", {"config": config,
                                     "localPort": SOCKS_PORT}), SUCCESS_NULL)
        with open(os.path.join(core, "config.json"), "rb") as written:
            cls.config_written = (written.read(), config.encode("utf-8"))
        cls.cores_started = hostkit.core_processes(cls.folder)
        cls.page = hostkit.fetch_through_socks(SOCKS_PORT,
                                               cls.page_server.port, "/page")
        cls.proxy_started = WINE.proxy_settings()
        cls.traffic = call("getTrafficStats")

        cls.check("stopXray", call("stopXray"), SUCCESS_NULL)
        # Terminating does not wait for the process to go.
        cls.cores_stopped = hostkit.wait_until(
            lambda: not hostkit.core_processes(cls.folder))
        cls.socks_refused = hostkit.connection_refused(SOCKS_PORT)
        cls.proxy_stopped = WINE.proxy_settings()

        cls.check("setSystemProxy on 2080",
                  call("setSystemProxy", {"enabled": True, "localPort": 2080}),
                  SUCCESS_NULL)
        cls.proxy_2080 = WINE.proxy_settings()
        # A string is not a bool: the default, off, for the port last used.
        cls.check("setSystemProxy, enabled as a string",
                  call("setSystemProxy", {"enabled": "true"}), SUCCESS_NULL)
        cls.proxy_string = WINE.proxy_settings()

        cls.check("startXray, core without a socks inbound",
                  call("startXray", {"config": '{"inbounds": []}'}),
                  START_FAILED)
        cls.check("downloadXray, no network", call("downloadXray"),
                  DOWNLOAD_FAILED)
        cls.check("updateXray, no network", call("updateXray"), UPDATE_FAILED)
        cls.check("getXrayVersion, after failed downloads",
                  call("getXrayVersion"), BUNDLED)
        lines = [INSTALLED, PROXY_ON, STARTED, PROXY_OFF, STOPPED, PROXY_ON,
                 PROXY_OFF, DIED_AT_ONCE, DOWNLOAD_FAILED_LINE,
                 DOWNLOAD_FAILED_LINE]
        cls.check("getLogs, the session's lines", call("getLogs"),
                  log_reply(lines))
        cls.check("getLogs again", call("getLogs"), log_reply(lines))

        for what, message, expected in cls.malformed(log_reply(lines)):
            answer = host.send(message)
            cls.check(what, (answer.kind, answer.data), ("reply", expected))
        lines.append(DIED_AT_ONCE)  # the start cut inside its arguments
        cls.check("getLogs, after the malformed messages", call("getLogs"),
                  log_reply(lines))
        with open(os.path.join(core, "config.json"), "rb") as written:
            cls.config_cut = written.read()

        cls.fonts_before = host.connection.transcript().count(
            "system fonts reloaded")
        cls.font_message = probe("send", "0x1d", "0", "0")
        cls.transcript = host.connection.transcript()
        # Shown once: hidden again, later frames must leave it hidden.
        probe("hide")
        call("getLogs")
        host.connection.transcript()
        cls.after_hiding = probe("state")
        cls.callbacks = host.connection.transcript().count(
            "next-frame callback run")

        # A core still running when the window closes outlives the host.
        cls.check("startXray with defaults but the config",
                  call("startXray", {"config": config}), SUCCESS_NULL)
        cls.exit_code = host.close()
        cls.cores_after_close = hostkit.core_processes(cls.folder)
        cls.page_after_close = hostkit.fetch_through_socks(
            SOCKS_PORT, cls.page_server.port, "/after")
        cls.proxy_after_close = WINE.proxy_settings()

    @staticmethod
    def malformed(log):
        """(what, message, expected reply). A message that is no call (its
        first value is not a string) gets the empty not-implemented reply;
        a call to getLogs, however damaged after its name, gets the log."""
        get_logs = h("07 07") + b"getLogs"
        generator = random.Random(8)
        cases = [("random bytes #%d" % i,
                  bytes(generator.randrange(256)
                        for _ in range(generator.randrange(1, 64))),
                  NOT_IMPLEMENTED) for i in range(8)]
        return cases + [
            ("empty message", b"", NOT_IMPLEMENTED),
            ("name is a 32-bit integer", h("03 01 00 00 00"), NOT_IMPLEMENTED),
            ("name is a byte list", h("08 07") + b"getLogs", NOT_IMPLEMENTED),
            ("name is null", h("00 00"), NOT_IMPLEMENTED),
            ("unknown type code", h("ff 00"), NOT_IMPLEMENTED),
            ("name cut short", h("07 07") + b"get", NOT_IMPLEMENTED),
            ("list of 2^32-1 elements for a name", h("0c ff ff ff ff ff"),
             NOT_IMPLEMENTED),
            ("map of 2^32-1 entries for a name", h("0d ff ff ff ff ff 07"),
             NOT_IMPLEMENTED),
            ("call cut after its name", get_logs, log),
            ("bytes after the arguments", get_logs + h("00 ff ff 07"), log),
            ("name as large-integer text", h("05 07") + b"getLogs", log),
            ("int32 list of 2^32-1 elements for arguments",
             get_logs + h("09 ff ff ff ff ff 00 00 01 00 00 00"), log),
            # Arguments that cannot be read to the end become null, as if
            # the call were cut after its name: the defaults, config "{}",
            # with which the core stops at once.
            ("startXray whose config text is cut",
             h("07 09") + b"startXray" + h("0d 01 07 06") + b"config"
             + h("07 20") + b'{"inbounds', START_FAILED),
        ]

    def test_replies_byte_for_byte(self):
        for what, reply, expected in self.replies:
            with self.subTest(what):
                self.assertEqual(reply, expected)

    def test_installed_core_is_the_shipped_one(self):
        self.assertTrue(self.installed)

    def test_core_started_with_the_config_and_carrying_a_request(self):
        written, sent = self.config_written
        self.assertEqual(written, sent)
        self.assertEqual(self.config_cut, b"{}")
        self.assertEqual(len(self.cores_started), 1)
        self.assertEqual(self.page, ("HTTP/1.0 200 OK", self.PAGE))

    def test_proxy_values_in_the_registry(self):
        on = ("0x1", "socks=127.0.0.1:10808", PROXY_OVERRIDE)
        on_2080 = ("0x1", "socks=127.0.0.1:2080", PROXY_OVERRIDE)
        for what, values, expected in [
                ("core started", self.proxy_started, on),
                ("core stopped", self.proxy_stopped, ("0x0",) + on[1:]),
                ("switched on for 2080", self.proxy_2080, on_2080),
                ("switched off by a string", self.proxy_string,
                 ("0x0",) + on_2080[1:]),
                ("host closed with a core", self.proxy_after_close, on)]:
            with self.subTest(what):
                self.assertEqual(values, expected)

    def test_traffic_rates(self):
        # Past the first sample the rates are measured, so only the form is
        # fixed: the same keys, type codes and padding as the zeros.
        self.assertEqual(len(self.traffic), len(TRAFFIC_ZEROS))
        for start, end in [(0, 16), (24, 40)]:
            self.assertEqual(self.traffic[start:end],
                             TRAFFIC_ZEROS[start:end])
        _, rates = driver.decode_envelope(self.traffic)
        for rate in rates.values():
            self.assertTrue(math.isfinite(rate) and rate >= 0, rates)

    def test_stop_ends_the_core(self):
        self.assertTrue(self.cores_stopped, "xray.exe still running")
        self.assertTrue(self.socks_refused)

    def test_window_scaled_at_96_dpi_and_shown_once(self):
        self.assertEqual(self.window, ["visible", "window 10 10 560 720 visible"])
        self.assertEqual(self.after_hiding, ["window 10 10 560 720 hidden"])
        self.assertEqual(self.callbacks, 1)
        self.assertIn("frame 1 drawn, next-frame callback run",
                      self.transcript)

    def test_arguments_reach_the_engine_as_utf8(self):
        self.assertIn('arguments ["a", "b c", "", "é-ا-😀", "--driver-port=0"]',
                      self.transcript)

    def test_font_change_reloads_the_engine_fonts(self):
        self.assertEqual(self.font_message, ["sent 0x1d result 0"])
        self.assertEqual(self.fonts_before, 0)
        self.assertEqual(self.transcript.count("system fonts reloaded"), 1)

    def test_not_a_call_reported(self):
        self.assertIn("Invalid method call; method name is not a string.",
                      self.stderr)

    def test_closing_exits_0_and_leaves_the_core_running(self):
        self.assertEqual(self.exit_code, 0)
        self.assertEqual(len(self.cores_after_close), 1)
        self.assertEqual(self.page_after_close,
                         ("HTTP/1.0 200 OK", self.PAGE))


class EndOfSessionTest(unittest.TestCase):
    """A session that ends while a core runs switches the proxy off, and
    nothing else. Wine's `wineboot --end-session` delivers WM_QUERYENDSESSION
    and WM_ENDSESSION to the window and then ends the process, as Windows
    does; so the log is read after the same messages sent by the probe,
    which ends nothing."""

    @classmethod
    def setUpClass(cls):
        folder = hostkit.fresh_copy(OPTIONS.bundle, OPTIONS.scratch,
                                    "end-of-session")
        port = hostkit.free_port()
        cls.server = "socks=127.0.0.1:%d" % port
        host = hostkit.Host(WINE, folder)
        try:
            call = host.call

            def logs():
                return driver.decode_envelope(call("getLogs"))[1]

            cls.started = call("startXray",
                               {"config": hostkit.core_config(port),
                                "localPort": port})
            cls.proxy_started = WINE.proxy_settings()
            cls.logs_started = logs()

            cls.session_goes_on = probe("send", "0x16", "0", "0")
            cls.proxy_goes_on = WINE.proxy_settings()
            cls.logs_goes_on = logs()

            cls.session_ends = probe("send", "0x11", "0", "0",
                                     "send", "0x16", "1", "0")
            cls.proxy_ended = WINE.proxy_settings()
            cls.logs_ended = logs()
            cls.cores_ended = hostkit.core_processes(folder)

            call("setSystemProxy", {"enabled": True, "localPort": port})
            cls.proxy_again = WINE.proxy_settings()
            cls.wineboot = subprocess.run(
                ["wineboot", "--end-session"], env=WINE.env,
                stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
            cls.host_ended = hostkit.wait_until(
                lambda: host.process.process.poll() is not None, 60)
            cls.proxy_wineboot = WINE.proxy_settings()
        finally:
            host.kill()

    def test_started(self):
        self.assertEqual(self.started, SUCCESS_NULL)
        self.assertEqual(self.proxy_started[:2], ("0x1", self.server))
        self.assertEqual(self.logs_started, [INSTALLED, PROXY_ON, STARTED])

    def test_session_that_goes_on_changes_nothing(self):
        self.assertEqual(self.session_goes_on, ["sent 0x16 result 0"])
        self.assertEqual(self.proxy_goes_on, self.proxy_started)
        self.assertEqual(self.logs_goes_on, self.logs_started)

    def test_session_end_switches_the_proxy_off_only(self):
        # The host lets the session end (TRUE to the query).
        self.assertEqual(self.session_ends,
                         ["sent 0x11 result 1", "sent 0x16 result 0"])
        self.assertEqual(self.proxy_ended,
                         ("0x0",) + self.proxy_started[1:])
        self.assertEqual(self.logs_ended, self.logs_started + [PROXY_OFF])
        self.assertEqual(len(self.cores_ended), 1, "the core was stopped")

    def test_wine_session_end(self):
        self.assertEqual(self.proxy_again[:2], ("0x1", self.server))
        self.assertEqual(self.wineboot.returncode, 0)
        self.assertTrue(self.host_ended, "the host outlived the session")
        self.assertEqual(self.proxy_wineboot[0], "0x0")


class HighDpiTest(unittest.TestCase):
    """At 144 DPI (LogPixels in the prefix) the window is created at 1.5
    times the logical origin and size."""

    @classmethod
    def setUpClass(cls):
        folder = hostkit.fresh_copy(OPTIONS.bundle, OPTIONS.scratch, "dpi")
        WINE.set_dword(DESKTOP, "LogPixels", 144)
        try:
            host = hostkit.Host(WINE, folder)
            try:
                cls.window = probe("wait-visible", "60", "state")
                cls.exit_code = host.close()
            finally:
                host.kill()
        finally:
            WINE.set_dword(DESKTOP, "LogPixels", 96)

    def test_scaled_window(self):
        self.assertEqual(self.window,
                         ["visible", "window 15 15 840 1080 visible"])
        self.assertEqual(self.exit_code, 0)


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
