#!/usr/bin/env python3
"""Tests of the stand-in powershell.exe under Wine: archives made here with
zipfile, extracted through command lines shaped as the host builds them.
Unknown options go to unittest."""

import argparse
import os
import shutil
import subprocess
import sys
import unittest
import zipfile

OPTIONS = None
STORED, DEFLATED = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED
FARSI = "\u0641\u0627\u0631\u0633\u06cc"


def windows_path(path, double_quotes=True):
    """The path as the host puts it in the command: every character that
    PowerShell reads as a single quote doubled."""
    path = "Z:" + path.replace("/", "\\")
    quotes = "'\u2018\u2019\u201a\u201b" if double_quotes else ""
    return "".join(c * 2 if c in quotes else c for c in path)


def run(command=None, archive=None, destination=None):
    """Runs the stand-in, by default with the host's command; returns its
    exit code and its standard error."""
    if command is None:
        command = "Expand-Archive -Path '%s' -DestinationPath '%s' -Force" % (
            windows_path(archive), windows_path(destination))
    arguments = ["-NoProfile", "-ExecutionPolicy", "Bypass", "-Command",
                 command]
    # Wine turns arguments and file names into UTF-16 by the locale.
    result = subprocess.run(
        [OPTIONS.wine_run, OPTIONS.prefix, OPTIONS.powershell] + arguments,
        capture_output=True, env=dict(os.environ, LC_ALL="C.UTF-8"),
        timeout=120)
    return result.returncode, result.stderr.decode("utf-8", "replace").strip()


def write_zip(path, entries):
    """entries: (name, bytes or None for a folder entry, method)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w") as archive:
        for name, data, method in entries:
            if data is None:
                archive.writestr(zipfile.ZipInfo(name), b"")
            else:
                archive.writestr(name, data, compress_type=method)


def tree(folder):
    """Folders (None) and files (their bytes) below folder, by relative path
    with forward slashes."""
    found = {}
    for root, folders, files in os.walk(folder):
        prefix = os.path.relpath(root, folder) + "/"
        prefix = "" if prefix == "./" else prefix
        found.update({prefix + name + "/": None for name in folders})
        for name in files:
            with open(os.path.join(root, name), "rb") as file:
                found[prefix + name] = file.read()
    return found


def corrupt_data(path, offset):
    """Flips a byte `offset` bytes into the first entry's data."""
    with zipfile.ZipFile(path) as archive:
        info = archive.infolist()[0]
    offset += info.header_offset + 30 + len(info.filename) + len(info.extra)
    with open(path, "r+b") as file:
        file.seek(offset)
        byte = file.read(1)[0]
        file.seek(offset)
        file.write(bytes([byte ^ 0x5A]))


class ExpandArchiveTest(unittest.TestCase):

    def setUp(self):
        self.scratch = os.path.join(OPTIONS.scratch, self._testMethodName)
        shutil.rmtree(self.scratch, ignore_errors=True)
        os.makedirs(self.scratch)

    def path(self, *parts):
        return os.path.join(self.scratch, *parts)

    def test_extracts_every_kind_of_entry_into_a_new_folder(self):
        # Over 64 KiB, so that inflating takes several rounds.
        core = b"MZ" + os.urandom(150000) + b"x" * 200000
        write_zip(self.path("xray.zip"), [
            ("xray.exe", core, DEFLATED),
            ("geoip.dat", b"\x00\xff" * 99, STORED),
            ("docs/", None, STORED),
            ("docs/README.md", b"# Xray\n" * 100, DEFLATED),
            ("empty/", None, STORED),
            ("bin/sub/xray.exe", b"not the one at the top", STORED),
            ("empty.txt", b"", STORED),
            (FARSI + "/\u2019note.txt", b"utf-8 name", DEFLATED)])
        destination = self.path("missing", "downloaded")
        self.assertEqual(run(archive=self.path("xray.zip"),
                             destination=destination), (0, ""))
        self.assertEqual(tree(destination), {
            "xray.exe": core, "geoip.dat": b"\x00\xff" * 99, "docs/": None,
            "docs/README.md": b"# Xray\n" * 100, "empty/": None, "bin/": None,
            "bin/sub/": None, "bin/sub/xray.exe": b"not the one at the top",
            "empty.txt": b"", FARSI + "/": None,
            FARSI + "/\u2019note.txt": b"utf-8 name"})

    def test_paths_with_single_quotes_of_every_kind(self):
        for folder in ["it's", "it\u2019s", "\u2018a\u2019\u201ab\u201b",
                       "''", "$(calc) `x"]:
            with self.subTest(folder=folder):
                archive = self.path(folder, "xray.zip")
                destination = self.path(folder, "down'\u2019load")
                write_zip(archive, [("xray.exe", b"core", DEFLATED)])
                self.assertEqual(run(archive=archive, destination=destination),
                                 (0, ""))
                self.assertEqual(tree(destination), {"xray.exe": b"core"})

    def test_force_overwrites_existing_files_and_keeps_others(self):
        write_zip(self.path("xray.zip"), [("xray.exe", b"new", DEFLATED),
                                          ("docs/a.txt", b"A", STORED)])
        old = {"xray.exe": b"an older, longer core", "docs/a.txt": b"old A",
               "keep.txt": b"K"}
        os.makedirs(self.path("downloaded", "docs"))
        for name, data in old.items():
            with open(self.path("downloaded", name), "wb") as file:
                file.write(data)
        self.assertEqual(run(archive=self.path("xray.zip"),
                             destination=self.path("downloaded")), (0, ""))
        self.assertEqual(tree(self.path("downloaded")), {
            "xray.exe": b"new", "docs/": None, "docs/a.txt": b"A",
            "keep.txt": b"K"})

    def test_missing_damaged_or_unsafe_archives_fail(self):
        text = b"the same line again and again\n" * 2000
        cases = [  # what, entries, damage to the archive, reason
            ("missing", None, None, "does not exist"),
            ("deflated data", [("xray.exe", text, DEFLATED)],
             lambda p: corrupt_data(p, 40), "damaged archive: entry"),
            ("stored data", [("xray.exe", text, STORED)],
             lambda p: corrupt_data(p, 1000), "CRC-32 or size mismatch"),
            ("cut in half", [("xray.exe", text, STORED)],
             lambda p: os.truncate(p, os.path.getsize(p) // 2),
             "no end of central directory record"),
            ("zip slip", [("ok.txt", b"ok", STORED),
                          ("../evil.txt", b"evil", STORED)], None,
             "climbs out of the destination"),
            ("zip slip with backslashes",
             [("sub/..\\..\\evil.txt", b"evil", STORED)], None,
             "climbs out of the destination"),
        ]
        for what, entries, damage, reason in cases:
            with self.subTest(what=what):
                archive = self.path(what, "xray.zip")
                os.makedirs(self.path(what))
                if entries:
                    write_zip(archive, entries)
                if damage:
                    damage(archive)
                code, error = run(archive=archive,
                                  destination=self.path(what, "out"))
                self.assertEqual(code, 1)
                self.assertIn(reason, error)
                self.assertEqual(len(error.splitlines()), 1)
                self.assertFalse(os.path.exists(self.path(what, "evil.txt")))
                if what in ("missing", "zip slip", "zip slip with backslashes"):
                    self.assertFalse(os.path.exists(self.path(what, "out")))

    def test_commands_it_does_not_know_are_refused(self):
        write_zip(self.path("it's", "xray.zip"), [("a", b"a", STORED)])
        archive = windows_path(self.path("it's", "xray.zip"), False)
        destination = windows_path(self.path("out"))
        cases = [  # what, the -Command text, what the reason expects
            ("another cmdlet", "Get-Process", "Expand-Archive"),
            ("an apostrophe not doubled",
             "Expand-Archive -Path '%s' -DestinationPath '%s' -Force" %
             (archive, destination), "-DestinationPath"),
            ("without -Force", "Expand-Archive -Path '%s' -DestinationPath "
             "'%s'" % (archive.replace("'", "''"), destination), "-Force"),
        ]
        for what, command, expected in cases:
            with self.subTest(what=what):
                code, error = run(command)
                self.assertEqual(code, 2)
                self.assertRegex(error, "^powershell stand-in: unsupported "
                                 "command line: expected .*" + expected)
                self.assertFalse(os.path.exists(self.path("out")))


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    for option in ["--wine-run", "--prefix", "--powershell", "--scratch"]:
        parser.add_argument(option, required=True)
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
