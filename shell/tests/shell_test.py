#!/usr/bin/env python3
"""zorvane.exe as users get it: its resources and embedder imports, read from
the bundle, and the host itself under Wine, run from a copy of the bundle
and driven through the stand-in engine's driver connection. Unknown options
go to unittest."""

import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "standins", "flutter_windows"))
import driver  # noqa: E402

OPTIONS = None


def tool(name):
    return "x86_64-w64-mingw32-" + name


def bundled(*parts):
    return os.path.join(OPTIONS.bundle, *parts)


class ExecutableTest(unittest.TestCase):
    """What the build put into zorvane.exe, read back from the file."""

    @classmethod
    def setUpClass(cls):
        exe = bundled("zorvane.exe")
        cls.resources = subprocess.run(
            [tool("windres"), "-i", exe, "-O", "rc"], check=True,
            capture_output=True, text=True).stdout
        cls.headers = subprocess.run([tool("objdump"), "-p", exe], check=True,
                                     capture_output=True, text=True).stdout

    def test_gui_program(self):
        self.assertRegex(self.headers, r"Subsystem\s+00000002\s+\(Windows GUI\)")

    def test_icon_group_101_with_six_32_bit_sizes(self):
        group = re.search(r"\n101 14 /\* RT_GROUP_ICON \*/\nBEGIN\n(.*?)\nEND",
                          self.resources, re.S)
        self.assertIsNotNone(group, "no icon group 101")
        # windres writes width and height as octal escapes; 0 means 256.
        sizes = re.findall(r'"\\(\d{3})\\(\d{3})\\000\\000", 1, (\d+),',
                           group.group(1))
        self.assertEqual(sizes, [("020", "020", "32"), ("040", "040", "32"),
                                 ("060", "060", "32"), ("100", "100", "32"),
                                 ("200", "200", "32"), ("000", "000", "32")])

    def test_version_block(self):
        for line in ['FILEVERSION 2, 0, 0, 2', 'PRODUCTVERSION 2, 0, 0, 2',
                     'BLOCK "040904e4"',
                     'VALUE "FileVersion", "2.0.0+2"',
                     'VALUE "ProductVersion", "2.0.0+2"',
                     'VALUE "FileDescription", "Zorvane"',
                     'VALUE "ProductName", "Zorvane"',
                     'VALUE "InternalName", "zorvane"',
                     'VALUE "OriginalFilename", "zorvane.exe"',
                     'VALUE "CompanyName", ', 'VALUE "LegalCopyright", ',
                     'VALUE "Translation", 0x409, 1252']:
            self.assertIn(line, self.resources)

    def test_manifest(self):
        manifest = re.search(r"\n1 24 /\* RT_MANIFEST \*/\nBEGIN\n(.*?)\nEND",
                             self.resources, re.S)
        self.assertIsNotNone(manifest, "no manifest")
        text = manifest.group(1).replace('""', '"')
        for part in ['level="asInvoker"', 'uiAccess="false"',
                     '>PerMonitorV2</dpiAwareness>',
                     '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>']:
            self.assertIn(part, text)

    def test_bundled_engine_library_serves_every_import(self):
        def names(section):
            return set(re.findall(r"\b(FlutterDesktop\w+)", section))

        imports = self.headers.split("DLL Name: flutter_windows.dll")[1]
        imported = names(imports.split("DLL Name:")[0])
        exports = subprocess.run(
            [tool("objdump"), "-p", bundled("flutter_windows.dll")],
            check=True, capture_output=True, text=True).stdout
        exported = names(exports.split("[Ordinal/Name Pointer] Table")[1])
        with open(OPTIONS.definitions) as definitions:
            declared = names(definitions.read().split("EXPORTS")[1])
        self.assertEqual(len(declared), 23)
        self.assertEqual(exported, declared)
        self.assertEqual(imported, declared)


def wine(folder, *arguments):
    return [OPTIONS.wine_run, OPTIONS.prefix,
            os.path.join(folder, "zorvane.exe")] + list(arguments)


def fresh_copy(name, without=None):
    """A scratch copy of the bundle, so that a run never changes the bundle."""
    folder = os.path.join(OPTIONS.scratch, name)
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(OPTIONS.bundle, folder)
    if without:
        shutil.rmtree(os.path.join(folder, without))
    return folder


def window_viewable(title, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        info = subprocess.run(["xwininfo", "-name", title],
                              capture_output=True, text=True).stdout
        if "Map State: IsViewable" in info:
            return True
        time.sleep(0.2)
    return False


class HostTest(unittest.TestCase):
    """One run of the host: shown after its first frame, serving the core
    channel, exiting 0 when its window is closed."""

    @classmethod
    def setUpClass(cls):
        folder = fresh_copy("host")
        host = driver.HostProcess(wine(folder, "a", "b c", ""))
        try:
            with driver.Driver(host.port, timeout=30) as connection:
                cls.shown = window_viewable("zorvane", 30)
                cls.get_logs = connection.send(
                    "zorvane/xray", driver.encode_method_call("getLogs"))
                cls.transcript = connection.transcript()
                connection.close_window()
        finally:
            cls.exit_code = host.wait(60)
            host.kill()

    def test_window_shown_by_the_first_frame(self):
        self.assertIn("frame 1 drawn, next-frame callback run", self.transcript)
        self.assertTrue(self.shown, "no viewable window titled zorvane")

    def test_arguments_reach_the_engine_as_given(self):
        self.assertIn('arguments ["a", "b c", "", "--driver-port=0"]',
                      self.transcript)

    def test_get_logs_answers_an_empty_list(self):
        # Success envelope, list type code, size 0.
        self.assertEqual((self.get_logs.kind, self.get_logs.data),
                         ("reply", bytes([0x00, 0x0C, 0x00])))

    def test_closing_the_window_exits_0(self):
        self.assertEqual(self.exit_code, 0)


class MissingDataTest(unittest.TestCase):
    def test_exits_1_with_the_view_controller_message(self):
        folder = fresh_copy("no-data", without="data")
        run = subprocess.run(wine(folder), stdin=subprocess.DEVNULL,
                             capture_output=True, timeout=120)
        self.assertEqual(run.returncode, 1)
        self.assertIn(b"Failed to create view controller.", run.stderr)


INTERNET_SETTINGS = ("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion"
                     "\\Internet Settings")


def proxy_enabled():
    query = subprocess.run(
        [OPTIONS.wine_run, OPTIONS.prefix, "reg", "query", INTERNET_SETTINGS,
         "/v", "ProxyEnable"], capture_output=True, text=True, timeout=60)
    value = re.search(r"ProxyEnable\s+REG_DWORD\s+0x(\d+)", query.stdout)
    return value is not None and int(value.group(1), 16) != 0


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def end_cores_in(folder):
    """The core outlives the host by design; end the one this test started,
    known by its folder."""
    core = os.path.join(folder, "xray", "xray.exe").encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as cmdline:
                if core.replace(b"/", b"\\") in cmdline.read().replace(
                        b"/", b"\\"):
                    os.kill(int(pid), signal.SIGKILL)
        except OSError:
            pass


class SessionEndTest(unittest.TestCase):
    """Windows ends the session while the core runs: the system proxy must
    not stay pointed at a core that dies with the session."""

    def test_session_end_switches_the_proxy_off(self):
        folder = fresh_copy("session-end")
        port = free_port()
        config = '{"inbounds": [{"protocol": "socks", "port": %d}]}' % port
        host = driver.HostProcess(wine(folder))
        try:
            with driver.Driver(host.port, timeout=30) as connection:
                started = connection.call(
                    "zorvane/xray", "startXray",
                    {"config": config, "localPort": port})
                self.assertEqual(started, ("success", None))
                self.assertTrue(proxy_enabled())
                # Wine sends WM_QUERYENDSESSION and WM_ENDSESSION to the
                # windows of every process in the prefix.
                subprocess.run(["wineboot", "--end-session"], timeout=60,
                               env=dict(os.environ, WINEPREFIX=OPTIONS.prefix),
                               check=True)
                self.assertFalse(proxy_enabled())
        finally:
            host.kill()
            end_cores_in(folder)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ["--bundle", "--definitions", "--wine-run", "--prefix",
                 "--scratch"]:
        parser.add_argument(name, required=True)
    OPTIONS, rest = parser.parse_known_args()
    if not os.environ.get("DISPLAY"):
        sys.exit("shell_test: the host needs an X display; run it after "
                 "`source scripts/wine-session BUILD_DIR`")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
