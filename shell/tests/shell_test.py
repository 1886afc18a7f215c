#!/usr/bin/env python3
"""zorvane.exe as users get it, read back from the bundle: its resources and
its embedder imports. Unknown options go to unittest."""

import argparse
import os
import re
import subprocess
import sys
import unittest

OPTIONS = None


def mingw(tool, *arguments):
    return subprocess.run(["x86_64-w64-mingw32-" + tool, *arguments],
                          check=True, capture_output=True, text=True).stdout


def resource(text, header):
    """The lines between BEGIN and END after windres's header line."""
    return re.search(r"\n%s\nBEGIN\n(.*?)\nEND" % re.escape(header), text,
                     re.S).group(1)


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        exe = os.path.join(OPTIONS.bundle, "zorvane.exe")
        cls.resources = mingw("windres", "-i", exe, "-O", "rc")
        cls.headers = mingw("objdump", "-p", exe)

    def test_bundle_holds_only_what_ships(self):
        # Anything else there would ship, and a program beside zorvane.exe
        # is the first one Windows finds by its name.
        found = sorted(
            os.path.relpath(os.path.join(folder, name), OPTIONS.bundle)
            for folder, _, names in os.walk(OPTIONS.bundle) for name in names)
        self.assertEqual(found, [
            "data/app.so", "data/flutter_assets/assets/xray/windows/xray.exe",
            "data/icudtl.dat", "flutter_windows.dll", "zorvane.exe"])

    def test_icon_group_101_with_six_32_bit_sizes(self):
        # windres writes width and height as octal escapes; 0 means 256.
        group = resource(self.resources, "101 14 /* RT_GROUP_ICON */")
        self.assertEqual(
            re.findall(r'"\\(\d{3})\\(\d{3})\\000\\000", 1, (\d+),', group),
            [(s, s, "32") for s in ["020", "040", "060", "100", "200", "000"]])

    def test_version_block(self):
        for line in [" FILEVERSION 2, 0, 0, 2", " PRODUCTVERSION 2, 0, 0, 2",
                     'VALUE "FileVersion", "2.0.0+2"',
                     'VALUE "ProductVersion", "2.0.0+2"',
                     'VALUE "FileDescription", "Zorvane"',
                     'VALUE "ProductName", "Zorvane"',
                     'VALUE "InternalName", "zorvane"',
                     'VALUE "OriginalFilename", "zorvane.exe"',
                     # the strings' block, named as Translation lists it
                     'BLOCK "040904e4"', 'VALUE "Translation", 0x409, 1252']:
            self.assertIn(line + "\n", self.resources)

    def test_manifest(self):
        text = resource(self.resources, "1 24 /* RT_MANIFEST */")
        for part in ['level="asInvoker"', 'uiAccess="false"',
                     '>PerMonitorV2</dpiAwareness>', '<supportedOS Id='
                     '"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>']:
            self.assertIn(part.replace('"', '""'), text)

    def test_gui_program_importing_what_the_bundled_engine_exports(self):
        self.assertRegex(self.headers,
                         r"Subsystem\s+00000002\s+\(Windows GUI\)")

        def names(section):
            return set(re.findall(r"\b(FlutterDesktop\w+)", section))

        imports = self.headers.split("DLL Name: flutter_windows.dll")[1]
        exports = mingw("objdump", "-p",
                        os.path.join(OPTIONS.bundle, "flutter_windows.dll"))
        with open(OPTIONS.definitions) as definitions:
            declared = names(definitions.read().split("EXPORTS")[1])
        self.assertEqual(len(declared), 23)
        self.assertEqual(names(imports.split("DLL Name:")[0]), declared)
        self.assertEqual(
            names(exports.split("[Ordinal/Name Pointer] Table")[1]), declared)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ["--bundle", "--definitions"]:
        parser.add_argument(name, required=True)
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
