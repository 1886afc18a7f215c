#!/usr/bin/env python3
"""zorvane.exe as users get it: its resources and embedder imports, read from
the bundle. The host itself is run under Wine by the end-to-end suite (e2e/).
Unknown options go to unittest."""

import argparse
import os
import re
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean

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


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ["--bundle", "--definitions"]:
        parser.add_argument(name, required=True)
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
