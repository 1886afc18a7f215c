#!/usr/bin/env python3
"""Writes the release archives the download tests fetch: make_archives.py DIR"""

import pathlib
import sys
import zipfile

folder = pathlib.Path(sys.argv[1])
folder.mkdir(parents=True, exist_ok=True)
with zipfile.ZipFile(folder / "core.zip", "w", zipfile.ZIP_DEFLATED) as core:
    core.writestr("xray.exe", "the newest core")
    core.writestr("geoip.dat", "data " * 100)
(folder / "damaged.zip").write_bytes(b"PK\x03\x04 this is no archive")
