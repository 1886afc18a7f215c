#!/usr/bin/env python3
"""expand_archive_test.py WINE_RUN PREFIX POWERSHELL_EXE SCRATCH [unittest
options]: the stand-in under Wine where the core manager's tests do not reach:
every kind of single quote and wildcard character in the paths, every kind of
entry, -Force over what is there, damaged and unsafe archives refused."""

import os
import pathlib
import shutil
import subprocess
import sys
import unittest
import zipfile

STORED, DEFLATED = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED
QUOTES = "'\u2018\u2019\u201a\u201b"  # PowerShell reads each as '


def run(archive, destination, doubled=True, escaped=True,
        archive_as="-LiteralPath"):
    """Extracts with the host's command line, the archive after ARCHIVE_AS,
    every quote in the paths doubled and the destination's [, ] and `
    escaped by a backtick (or not): the exit code and the standard error."""
    def quoted(path, escape):
        text = "Z:" + str(path).replace("/", "\\")
        if escape:
            text = "".join("`" + c if c in "[]`" else c for c in text)
        return "".join(c * 2 if doubled and c in QUOTES else c for c in text)

    command = "Expand-Archive %s '%s' -DestinationPath '%s' -Force" % (
        archive_as, quoted(archive, False), quoted(destination, escaped))
    result = subprocess.run(  # Wine reads arguments by the locale
        sys.argv[1:4] + ["-NoProfile", "-ExecutionPolicy", "Bypass",
                         "-Command", command],
        capture_output=True, env=dict(os.environ, LC_ALL="C.UTF-8"),
        timeout=120)
    return result.returncode, result.stderr.decode().strip()


def write_zip(path, entries):
    """entries: (name, bytes, method); names ending in / are folders."""
    path.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(path, "w") as archive:
        for name, data, method in entries:
            archive.writestr(name, data, compress_type=method)


class ExpandArchiveTest(unittest.TestCase):
    def setUp(self):
        self.scratch = pathlib.Path(sys.argv[4], self._testMethodName)
        shutil.rmtree(self.scratch, ignore_errors=True)

    def test_extracts_over_what_is_there_by_quoted_paths(self):
        core = b"MZ" + os.urandom(150000) + b"x" * 200000  # inflated in rounds
        here = self.scratch / "it's \u2018a\u2019\u201ab\u201b '' $(a) `x [y]"
        write_zip(here / "older.zip", [
            ("geoip.dat", b"older and longer" * 99, DEFLATED),
            ("bin/keep.txt", b"K", STORED)])
        write_zip(here / "newer.zip", [
            ("xray.exe", core, DEFLATED), ("geoip.dat", b"G", STORED),
            ("empty/", b"", STORED), ("bin/sub/xray.exe", b"", STORED)])
        destination = here / "missing" / "down'\u2019load"
        for archive in ["older.zip", "newer.zip"]:
            self.assertEqual(run(here / archive, destination), (0, ""))
        self.assertEqual({  # folders as None, files by their bytes
            str(p.relative_to(destination)):
                p.read_bytes() if p.is_file() else None
            for p in destination.rglob("*")}, {
            "xray.exe": core, "geoip.dat": b"G", "empty": None, "bin": None,
            "bin/keep.txt": b"K", "bin/sub": None, "bin/sub/xray.exe": b""})
        for refused in [dict(doubled=False), dict(escaped=False),
                        dict(archive_as="-Path")]:  # [y] a pattern
            with self.subTest(**refused):
                self.assertEqual(
                    run(here / "newer.zip", destination, **refused)[0], 2)

    def test_damaged_or_unsafe_archives_fail(self):
        text = b"the same line again and again\n" * 2000
        data = 30 + len("xray.exe")  # where the first entry's data starts
        for number, (entries, flip, made, reason) in enumerate([
                # entries, byte flipped, destination made, the reason
                ([("xray.exe", text, DEFLATED)], data + 40, True,
                 "damaged archive: entry"),
                ([("xray.exe", text, STORED)], data + 1000, True,
                 "CRC-32 or size mismatch"),
                ([("ok.txt", b"ok", STORED), ("../evil.txt", b"evil", STORED)],
                 None, False, "climbs out of the destination")]):
            with self.subTest(number=number, reason=reason):
                archive = self.scratch / str(number) / "xray.zip"
                write_zip(archive, entries)
                if flip:
                    damaged = bytearray(archive.read_bytes())
                    damaged[flip] ^= 0x5A
                    archive.write_bytes(damaged)
                code, error = run(archive, archive.parent / "out")
                self.assertEqual((code, len(error.splitlines())), (1, 1))
                self.assertIn(reason, error)
                self.assertEqual(sorted(os.listdir(archive.parent)),
                                 ["out", "xray.zip"] if made else ["xray.zip"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[5:])
