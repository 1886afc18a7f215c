#!/usr/bin/env python3
"""Tests of the stand-in flutter_windows.dll under Wine, through the driver
connection. Each host runs once (a Wine start is slow); the session records
what happened, and the test cases check the record.

standin_test.py --wine-run SCRIPT --prefix DIR --c-api-host EXE
                [--messaging-host EXE] [--screenshot PNG] [unittest options]
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
import driver  # noqa: E402

OPTIONS = None


def wine(exe, *arguments):
    return [OPTIONS.wine_run, OPTIONS.prefix, exe] + list(arguments)


class CApiSession:
    """The C-interface host, driven through every way a message can end."""

    PAYLOADS = [b"", b"\x00", bytes(range(256)), b"\xff" * 70000,
                os.urandom(1 << 20)]

    def __init__(self):
        host = driver.HostProcess(
            wine(OPTIONS.c_api_host, "a", "b c", "", "--assets=data\\flutter_assets"))
        try:
            with driver.Driver(host.port, timeout=30) as connection:
                self.drive(connection)
        finally:
            self.exit_code = host.wait(60)
            host.kill()
        self.stdout = host.stdout.decode()

    def drive(self, connection):
        ids = [connection.post("test/echo", p) for p in self.PAYLOADS]
        self.echoes = [connection.wait(i) for i in ids]
        self.empty = connection.send("test/empty", b"anything")
        self.unhandled = connection.send("no/such/channel", b"x")
        self.silent = connection.send("test/silent", b"x")
        self.later = [connection.send("test/later", b"abc")]
        self.later.append(connection.wait(self.later[0].id))
        self.host_messages = []
        connection.on_message = self.answer_host_message
        self.asked = [connection.send("test/ask-driver", b"why?")]
        self.asked.append(connection.wait(self.asked[0].id))
        state = connection.send("test/state", b"").data.decode()
        self.state = dict(item.split("=") for item in state.split())
        self.transcript = connection.transcript()
        connection.close_window()
        self.silent_at_exit = connection.wait(self.silent.id)

    def answer_host_message(self, channel, data):
        self.host_messages.append((channel, data))
        return b"driver says " + data


class CApiHostTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = CApiSession()

    def test_replies_come_back_byte_for_byte_in_order(self):
        for payload, answer in zip(CApiSession.PAYLOADS, self.session.echoes):
            with self.subTest(size=len(payload)):
                self.assertEqual(answer.kind, "reply")
                self.assertEqual(answer.data, payload)

    def test_each_way_a_message_can_end(self):
        s = self.session
        cases = [
            ("empty reply", s.empty, ("reply", b"")),
            ("no handler", s.unhandled, ("unhandled", b"")),
            ("no reply", s.silent, ("pending", b"")),
            ("no reply, engine gone", s.silent_at_exit, ("abandoned", b"")),
            ("reply from another thread", s.later[0], ("pending", b"")),
            ("", s.later[1], ("reply", b"later:abc")),
            ("host asks the driver", s.asked[0], ("pending", b"")),
            ("", s.asked[1], ("reply", b"driver says why?")),
        ]
        for name, answer, expected in cases:
            with self.subTest(name):
                self.assertEqual((answer.kind, answer.data), expected)
        self.assertEqual(s.host_messages, [("driver/question", b"why?")])

    def test_dpi_comes_from_the_monitor(self):
        self.assertEqual(self.session.state["dpi"], "96")  # Xvfb's 100 %

    def test_handlers_run_on_the_platform_thread(self):
        self.assertEqual(self.session.state["other_thread_calls"], "0")
        self.assertEqual(self.session.state["platform_thread_calls"], "10")

    def test_window_is_shown_by_the_frame_callback_after_the_first_frame(self):
        state = self.session.state
        self.assertEqual(state["frame_callbacks_before_loop"], "0")
        self.assertEqual(state["frame_callbacks"], "1")
        self.assertEqual(state["visible"], "1")
        self.assertIn("frame 1 drawn, next-frame callback run",
                      self.session.transcript)

    def test_engine_keeps_its_own_copy_of_the_arguments(self):
        self.assertIn('arguments ["a", "b c", "", "--assets=data\\flutter_assets",'
                      ' "--driver-port=0"]', self.session.transcript)

    def test_transcript_reads_each_call_and_reply(self):
        lines = self.session.transcript.splitlines()
        for expected in ["#6 test/empty: 8 bytes: \"anything\"",
                         "#6 reply: empty reply",
                         "#7 no/such/channel: 1 byte: \"x\" (no handler)",
                         "#8 no reply yet"]:
            self.assertIn(expected, lines)

    def test_messenger_is_unavailable_once_the_engine_is_gone(self):
        self.assertEqual(self.session.exit_code, 0)
        self.assertIn("messenger available after shutdown: no",
                      self.session.stdout)
        self.assertIn("late replies dropped: 1 of 1", self.session.stdout)


class MissingAssetsTest(unittest.TestCase):
    def test_no_engine_and_no_view_controller_without_assets(self):
        run = subprocess.run(
            wine(OPTIONS.c_api_host, "--assets=no-such-folder"),
            stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        self.assertEqual(run.returncode, 1)
        self.assertIn(b"engine: none", run.stdout)
        self.assertIn(b"view controller: none", run.stdout)
        self.assertIn(b"no assets folder", run.stderr)


class MessagingHostTest(unittest.TestCase):
    """The messaging layer and the stand-in together, as the real host uses
    them: method calls with the standard codec."""

    ARGUMENTS = {"config": '{"inbounds": []}', "localPort": 10808,
                 "ratio": 2.5, "flags": [True, None, "x", b"\x01\x02"]}

    @classmethod
    def setUpClass(cls):
        if not OPTIONS.messaging_host:
            raise unittest.SkipTest("no messaging host built")
        host = driver.HostProcess(wine(OPTIONS.messaging_host))
        try:
            with driver.Driver(host.port, timeout=30) as connection:
                call = lambda *a: connection.call("test/method", *a)
                cls.echo = call("echo", cls.ARGUMENTS)
                cls.fail = call("fail", "why")
                cls.ignore = call("ignore")
                cls.thread = call("onPlatformThread")
                cls.unknown = call("noSuchMethod")
                cls.not_a_call = connection.send("test/method", b"\x03\x01\0\0\0")
                if OPTIONS.screenshot and shutil.which("import"):
                    subprocess.run(["import", "-window", "root",
                                    OPTIONS.screenshot], check=False)
                connection.close_window()
        finally:
            cls.exit_code = host.wait(60)
            host.kill()
        cls.stderr = host.stderr.decode()

    def test_each_kind_of_answer(self):
        cases = [
            ("echo", self.echo, ("success", self.ARGUMENTS)),
            ("fail", self.fail,
             ("error", "bad_input", "the input was refused", "why")),
            ("on the platform thread", self.thread, ("success", True)),
            ("not implemented", self.unknown, ("not_implemented",)),
        ]
        for name, answer, expected in cases:
            with self.subTest(name):
                self.assertEqual(answer, expected)

    def test_unanswered_and_undecodable_messages(self):
        self.assertEqual(self.ignore.kind, "pending")
        self.assertIn("Warning: Failed to respond to a message.", self.stderr)
        self.assertEqual((self.not_a_call.kind, self.not_a_call.data),
                         ("reply", b""))
        self.assertIn("Unable to construct method call from message on "
                      "channel test/method", self.stderr)
        self.assertEqual(self.exit_code, 0)


def parse_options():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--c-api-host", required=True)
    parser.add_argument("--messaging-host")
    parser.add_argument("--screenshot")
    return parser.parse_known_args()


if __name__ == "__main__":
    OPTIONS, rest = parse_options()
    if not os.environ.get("DISPLAY"):
        sys.exit("standin_test: the hosts need an X display; run the tests "
                 "after `source scripts/wine-session BUILD_DIR`, which starts "
                 "Xvfb")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
