"""What the Wine suites share: the core channel's replies and log lines
written out byte for byte, the stage each suite plays on (a display, Wine in
the suite's prefix, a page server), checks gathered while hosts play and then
asserted one subtest each, and the command line."""

import argparse
import os
import shutil
import sys
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "e2e"))
import hostkit  # noqa: E402


def x(*parts):
    """Bytes from hex text and raw bytes, in order."""
    return b"".join(bytes.fromhex(p) if isinstance(p, str) else p
                    for p in parts)


def log_reply(lines):
    """Success with a list (0C, one-byte count) of strings (07, one-byte
    size, the UTF-8 bytes)."""
    return x("00 0c", bytes([len(lines)]), *(
        bytes([7, len(line.encode())]) + line.encode() for line in lines))


NULL, TRUE, BUNDLED = x("00 00"), x("00 01"), x("00 07 07", b"bundled")
START_FAILED = x("01 07 0c", b"start_failed", "07 0c", b"start failed", "00")
INSTALLED, STARTED = "Xray پیش فرض نصب شد", "Xray در ویندوز اجرا شد"
DIED_AT_ONCE = "Xray بلافاصله پس از اجرا متوقف شد"
STOPPED, DOWNLOAD_FAILED = "Xray متوقف شد", "دانلود فایل Xray ناموفق بود"
PROXY_ON, PROXY_OFF = "پراکسی سیستم فعال شد", "پراکسی سیستم غیرفعال شد"
OVERRIDE = "localhost;127.*;<local>"


class Stage:
    """A display of its own and Wine in the suite's prefix with nothing of an
    earlier run left running in it; a page server when given its PAGE."""

    def __init__(self, options, width=1920, height=1440, page=None,
                 fresh=False):
        """FRESH: the prefix is made anew; otherwise it is kept, with the
        system proxy off."""
        self.display = hostkit.Display(width, height)
        self.wine = hostkit.Wine(options.wine_run, options.prefix,
                                 self.display.name)
        self.wine.end_server()
        if fresh:
            shutil.rmtree(options.prefix, ignore_errors=True)
        else:
            self.wine.switch_proxy_off()
        self.page_server = hostkit.PageServer(page) if page else None

    def fetch(self, port, host="127.0.0.1"):
        """The page server's page through the SOCKS5 service on
        127.0.0.1:PORT, or the name of what went wrong."""
        try:
            return hostkit.fetch_through_socks(port, self.page_server.port,
                                               host=host)
        except OSError as error:
            return type(error).__name__

    def stop(self):
        """Whatever a failed check left running in the prefix ends here."""
        if self.page_server:
            self.page_server.stop()
        self.wine.end_server()
        self.display.stop()


def play_and_check(test, play):
    """PLAY(check, hosts) records check(what, seen, expected) and adds every
    host it starts to HOSTS; those hosts and their cores are ended whatever
    happens, then each check is a subtest (a Wine start is too slow for a
    host per check)."""
    checks, hosts = [], []
    try:
        play(lambda *check: checks.append(check), hosts)
    finally:
        for host in hosts:
            host.kill()
    for what, seen, expected in checks:
        with test.subTest(what):
            test.assertEqual(seen, expected)


def main(*names):
    """Reads the suite's options, NAMES, each a required path, made absolute,
    into the main module's OPTIONS and runs its tests; unknown options go to
    unittest."""
    parser = argparse.ArgumentParser()
    for name in names:
        parser.add_argument(name, required=True)
    options, rest = parser.parse_known_args()
    for name, value in vars(options).items():
        setattr(options, name, os.path.abspath(value))
    sys.modules["__main__"].OPTIONS = options
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
