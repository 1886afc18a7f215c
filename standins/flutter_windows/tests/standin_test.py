#!/usr/bin/env python3
"""The stand-in flutter_windows.dll under Wine, driven where the real host of
the end-to-end suite never drives it, by one run of c_api_host.cc on the X
display of `source scripts/wine-session BUILD_DIR`. Unknown options go to
unittest."""

import argparse
import os
import sys
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
import driver  # noqa: E402

OPTIONS = None
PAYLOADS = [b"", bytes(range(256)), os.urandom(1 << 20)]


def drive(port):
    """(what, answer, expected); ends by closing the host's window."""
    with driver.Driver(port, timeout=30) as first:
        ids = [first.post("test/echo", p) for p in PAYLOADS]  # all at once
        checks = [("echo of %d bytes" % len(p), first.wait(i), ("reply", p))
                  for p, i in zip(PAYLOADS, ids)]
        first.on_message = lambda channel, data: channel.encode() + b" " + data
        later = first.send("test/later", b"abc")
        asked = first.send("test/ask", b"why?")
        checks += [
            ("no handler", first.send("no/such", b"x"), ("unhandled", b"")),
            ("reply from another thread", later, ("pending", b"")),
            ("the later reply", first.wait(later.id), ("reply", b"abc")),
            ("host asks the driver", asked, ("pending", b"")),
            ("the driver's answer, as the reply", first.wait(asked.id),
             ("reply", b"driver/question why?"))]
        with driver.Driver(port, timeout=30) as second:
            silent = second.send("test/silent", b"x")
            try:
                first.transcript()
                first_driver = "still served"
            except ConnectionError:
                first_driver = "closed"
            second.close_window()
            return checks + [
                ("first driver, once a second one connected", first_driver,
                 "closed"),
                ("no reply", silent, ("pending", b"")),
                ("no reply, engine gone", second.wait(silent.id),
                 ("abandoned", b""))]


class StandinTest(unittest.TestCase):
    def test_c_api_host(self):
        host = driver.HostProcess(
            [OPTIONS.wine_run, OPTIONS.prefix, OPTIONS.c_api_host])
        with host.process:  # closes its pipes
            try:
                checks = drive(host.port)
                exit_code = host.wait(60)
            finally:
                host.kill()
        faults = [line for line in host.stderr.decode().splitlines()
                  if "fault:" in line]
        checks.append(("the host's exit, what it saw at exit, the faults",
                       (exit_code, host.stdout.decode().split(), faults),
                       (0, ["off_platform_thread_calls=0",
                            "messenger_available=0"],
                        ["flutter_windows stand-in: fault: "
                         "FlutterDesktopViewControllerForceRedraw on a view "
                         "controller that was destroyed",
                         "flutter_windows stand-in: fault: "
                         "FlutterDesktopViewControllerForceRedraw with a "
                         "null handle for a view controller",
                         "flutter_windows stand-in: fault: "
                         "FlutterDesktopViewControllerCreate with a null "
                         "handle for an engine"])))
        for what, got, expected in checks:
            if isinstance(got, driver.Answer):
                got = (got.kind, got.data)
            with self.subTest(what):
                self.assertEqual(got, expected)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ["--wine-run", "--prefix", "--c-api-host"]:
        parser.add_argument(name, required=True)
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
