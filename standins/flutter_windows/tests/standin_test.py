#!/usr/bin/env python3
"""Tests of the stand-in flutter_windows.dll under Wine, through the driver
connection. Each host runs once (a Wine start is slow) and the test cases
check what happened; unknown options go to unittest."""

import argparse
import os
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


def run_host(command, drive):
    """Runs the host with drive(connection) as its user interface, which
    ends by closing the window; returns the exit code, stdout and stderr."""
    host = driver.HostProcess(command)
    try:
        with driver.Driver(host.port, timeout=30) as connection:
            drive(connection)
    finally:
        exit_code = host.wait(60)
        host.kill()
    return exit_code, host.stdout.decode(), host.stderr.decode()


def kind_and_data(answer):
    return answer.kind, answer.data


class CApiHostTest(unittest.TestCase):
    """The C-interface host, driven through every way a message can end."""

    PAYLOADS = [b"", b"\x00", bytes(range(256)), b"\xff" * 70000,
                os.urandom(1 << 20)]

    @classmethod
    def setUpClass(cls):
        cls.exit_code, stdout, _ = run_host(
            wine(OPTIONS.c_api_host, "data\\flutter_assets", "b c", ""),
            cls.drive)
        cls.state = dict(item.split("=") for item in stdout.split())

    @classmethod
    def drive(cls, connection):
        ids = [connection.post("test/echo", p) for p in cls.PAYLOADS]
        cls.answers = [("echo of %d bytes" % len(p), connection.wait(i),
                        ("reply", p)) for p, i in zip(cls.PAYLOADS, ids)]
        connection.on_message = lambda channel, data: b"driver says " + data
        send = connection.send
        cls.answers += [
            ("no handler", send("no/such/channel", b"x"), ("unhandled", b"")),
            ("no reply", silent := send("test/silent", b"x"),
             ("pending", b"")),
            ("reply from another thread", later := send("test/later", b"abc"),
             ("pending", b"")),
            ("", connection.wait(later.id), ("reply", b"later:abc")),
            ("host asks the driver", asked := send("test/ask-driver", b"why?"),
             ("pending", b"")),
            ("", connection.wait(asked.id), ("reply", b"driver says why?")),
        ]
        cls.transcript = connection.transcript()
        connection.close_window()
        cls.answers.append(("no reply, engine gone", connection.wait(silent.id),
                            ("abandoned", b"")))

    def test_each_way_a_message_can_end(self):
        for name, answer, expected in self.answers:
            with self.subTest(name):
                self.assertEqual(kind_and_data(answer), expected)

    def test_what_the_host_saw(self):
        self.assertEqual(self.exit_code, 0)
        self.assertEqual(self.state, {  # dpi: Xvfb's 100 %
            "off_platform_thread_calls": "0", "dpi": "96",
            "frame_callbacks_before_loop": "0", "frame_callbacks": "1",
            "visible": "1", "messenger_available": "0",
            "late_replies_dropped": "1/1"})

    def test_transcript(self):
        for line in ['arguments ["data\\flutter_assets", "b c", "", '
                     '"--driver-port=0"]',  # the engine's copies, not wiped
                     "frame 1 drawn, next-frame callback run",
                     '#6 no/such/channel: 1 byte: "x" (no handler)',
                     'host #1 driver/question: 4 bytes: "why?"']:
            self.assertIn(line, self.transcript)

    def test_no_engine_and_no_view_controller_without_assets(self):
        run = subprocess.run(wine(OPTIONS.c_api_host, "no-such-folder"),
                             stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=120)
        self.assertEqual(run.returncode, 1)
        self.assertIn(b"no assets folder", run.stderr)


class MessagingHostTest(unittest.TestCase):
    """Method calls through the messaging layer, as the real host makes them."""

    ARGUMENTS = {"config": '{"inbounds": []}', "localPort": 10808,
                 "ratio": 2.5, "flags": [True, None, "x", b"\x01\x02"]}

    @classmethod
    def setUpClass(cls):
        if not OPTIONS.messaging_host:
            raise unittest.SkipTest("no messaging host built")
        cls.exit_code, _, cls.stderr = run_host(wine(OPTIONS.messaging_host),
                                                cls.drive)

    @classmethod
    def drive(cls, connection):
        call = lambda *a: connection.call("test/method", *a)  # noqa: E731
        cls.answers = [
            ("echo", call("echo", cls.ARGUMENTS), ("success", cls.ARGUMENTS)),
            ("fail", call("fail", "why"),
             ("error", "bad_input", "the input was refused", "why")),
            ("not implemented", call("noSuchMethod"), ("not_implemented",)),
            ("unanswered", kind_and_data(call("ignore")), ("pending", b"")),
            ("not a method call", kind_and_data(
                connection.send("test/method", b"\x03\x01\0\0\0")),
             ("reply", b"")),
        ]
        if OPTIONS.screenshot and shutil.which("import"):
            subprocess.run(["import", "-window", "root", OPTIONS.screenshot],
                           check=False)
        # One driver at a time: a second one takes over and the first is
        # closed.
        port = connection.sock.getpeername()[1]
        with driver.Driver(port, timeout=30) as second:
            cls.answers.append(("through the driver that took over",
                                second.call("test/method", "echo", 7),
                                ("success", 7)))
            try:
                connection.transcript()
                cls.first_driver = "still served"
            except ConnectionError:
                cls.first_driver = "closed"
            second.close_window()

    def test_each_kind_of_answer(self):
        self.assertEqual(self.exit_code, 0)
        self.assertEqual(self.first_driver, "closed")
        for name, answer, expected in self.answers:
            with self.subTest(name):
                self.assertEqual(answer, expected)
        self.assertIn("Warning: Failed to respond to a message.", self.stderr)
        self.assertIn("Unable to construct method call from message on "
                      "channel test/method", self.stderr)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ["--wine-run", "--prefix", "--c-api-host"]:
        parser.add_argument(name, required=True)
    parser.add_argument("--messaging-host")
    parser.add_argument("--screenshot")
    OPTIONS, rest = parser.parse_known_args()
    if not os.environ.get("DISPLAY"):
        sys.exit("standin_test: the hosts need an X display; run them after "
                 "`source scripts/wine-session BUILD_DIR`")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
