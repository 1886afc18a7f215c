#!/usr/bin/env python3
"""Makes the zip and the per-user installer from the bundle, into OUT:
zorvane-VERSION-windows-x64.zip and zorvane-VERSION-windows-x64-setup.exe.
With --engine, the Release folder of the app's own `flutter build windows`,
its flutter_windows.dll and data folder replace the bundle's; without it the
packages hold the stand-in engine and say so in their names
(zorvane-VERSION-standin-engine-windows-x64...). Prints the two paths.

With a code-signing certificate in the environment (ZV_SIGNING_PKCS12 and
ZV_SIGNING_PASSWORD, see sign.py) zorvane.exe, flutter_windows.dll, the
installer's helper, the installer and its uninstaller are signed: the zip
holds the signed programs too. Without one the packages are unsigned, and
it says so in one line on standard error."""

import argparse
import math
import os
import re
import shlex
import shutil
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
# Run on each program to sign, by this script and by makensis.
SIGN = [sys.executable, os.path.join(HERE, "sign.py")]
# The programs of the bundle that are ours or the engine's to sign (the
# shipped core is Xray's own).
SIGNED_FILES = ["zorvane.exe", "flutter_windows.dll"]
UNSIGNED = ("package: no code-signing certificate (ZV_SIGNING_PKCS12): "
            "the packages are unsigned")
# The folder the zip unpacks to, and the name the installer installs under.
FOLDER = "Zorvane"
# What a Release folder of `flutter build windows` must hold for the host
# to run: the engine, its files and the shipped core among the assets.
ENGINE_FILES = ["flutter_windows.dll", "data/icudtl.dat", "data/app.so",
                "data/flutter_assets/assets/xray/windows/xray.exe"]


def read_version(path):
    with open(path, encoding="ascii") as file:
        version = file.read().strip()
    if not re.fullmatch(r"\d+\.\d+\.\d+\+\d+", version):
        sys.exit("make_packages: %s: %r is not MAJOR.MINOR.PATCH+BUILD"
                 % (path, version))
    return version


def stage(bundle, engine, folder):
    """The bundle copied to FOLDER, with ENGINE's files in place of the
    stand-in engine's."""
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(bundle, folder)
    if engine:
        missing = [name for name in ENGINE_FILES
                   if not os.path.isfile(os.path.join(engine, name))]
        if missing:
            sys.exit("make_packages: %s lacks %s: give the Release folder of "
                     "the app's `flutter build windows`"
                     % (engine, ", ".join(missing)))
        os.remove(os.path.join(folder, "flutter_windows.dll"))
        shutil.rmtree(os.path.join(folder, "data"))
        shutil.copy2(os.path.join(engine, "flutter_windows.dll"), folder)
        shutil.copytree(os.path.join(engine, "data"),
                        os.path.join(folder, "data"))


def files_under(folder):
    """Every file under FOLDER, relative to it, with "/" between names, in
    a fixed order."""
    found = []
    for parent, directories, names in os.walk(folder):
        directories.sort()
        for name in sorted(names):
            found.append(os.path.relpath(os.path.join(parent, name), folder)
                         .replace(os.sep, "/"))
    return found


def make_zip(folder, path):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name in files_under(folder):
            archive.write(os.path.join(folder, name), FOLDER + "/" + name)


def nsis_text(text):
    """TEXT inside an NSIS string in double quotes."""
    return text.replace("$", "$$").replace('"', '$\\"')


def write_entries(folder, path):
    """The NSIS macro that removes what the bundle puts at the top of the
    installation folder: its files, and its folders with all they hold."""
    lines = ["!macro RemoveBundleEntries"]
    for name in sorted(os.listdir(folder)):
        quoted = "$INSTDIR\\" + nsis_text(name)
        if os.path.isdir(os.path.join(folder, name)):
            lines.append('  RMDir /r "%s"' % quoted)
        else:
            lines.append('  Delete "%s"' % quoted)
    lines.append("!macroend")
    # With its byte order mark, NSIS reads the file as UTF-8.
    with open(path, "w", encoding="utf-8-sig") as file:
        file.write("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for name in ["--bundle", "--helper", "--icon", "--out"]:
        parser.add_argument(name, required=True)
    parser.add_argument("--engine")
    parser.add_argument("--version-file",
                        default=os.path.join(HERE, "..", "VERSION"))
    options = parser.parse_args()

    version = read_version(options.version_file)
    name = "zorvane-%s%s-windows-x64" % (
        version, "" if options.engine else "-standin-engine")
    out = os.path.abspath(options.out)
    # Beside OUT, so that OUT holds only the packages.
    work = out.rstrip(os.sep) + "-work"
    folder = os.path.join(work, FOLDER)
    os.makedirs(work, exist_ok=True)
    os.makedirs(out, exist_ok=True)
    zip_path = os.path.join(out, name + ".zip")
    setup_path = os.path.join(out, name + "-setup.exe")
    # Packages left by an earlier run must not pass for this one's when it
    # fails (an installer that makensis wrote but could not sign among them).
    for path in (zip_path, setup_path):
        if os.path.exists(path):
            os.remove(path)
    stage(options.bundle, options.engine, folder)

    # Unsigned programs from the internet meet SmartScreen's warning, and
    # Smart App Control blocks them. The staged copies are signed, never the
    # build's bundle.
    helper = os.path.abspath(options.helper)
    signing = bool(os.environ.get("ZV_SIGNING_PKCS12"))
    if signing:
        # makensis runs the signing from the script's folder.
        os.environ["ZV_SIGNING_PKCS12"] = os.path.abspath(
            os.environ["ZV_SIGNING_PKCS12"])
        print("package: signing with the code-signing certificate %s"
              % os.environ["ZV_SIGNING_PKCS12"], file=sys.stderr)
        helper = os.path.join(work, "setup-helper.exe")
        shutil.copyfile(options.helper, helper)
        sign = subprocess.run(
            SIGN + [os.path.join(folder, file) for file in SIGNED_FILES] +
            [helper], stdin=subprocess.DEVNULL)
        if sign.returncode != 0:
            sys.exit(1)
    else:
        print(UNSIGNED, file=sys.stderr)

    make_zip(folder, zip_path)

    entries = os.path.join(work, "bundle_entries.nsh")
    write_entries(folder, entries)
    size = sum(os.path.getsize(os.path.join(folder, file))
               for file in files_under(folder))
    defines = {"VERSION": version, "STAGE": folder, "ENTRIES": entries,
               "SIZE_KB": math.ceil(size / 1024),
               "HELPER": helper,
               "ICON": os.path.abspath(options.icon), "OUTFILE": setup_path}
    if signing:
        # makensis runs it through the shell on the file it has just
        # written; the certificate and its password reach it through the
        # environment, never its command line.
        defines["SIGN"] = " ".join(shlex.quote(word) for word in SIGN)
    run = subprocess.run(
        ["makensis", "-V2", "-INPUTCHARSET", "UTF8"] +
        ["-D%s=%s" % item for item in defines.items()] +
        [os.path.join(HERE, "installer.nsi")],
        stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if run.returncode != 0:
        if os.path.exists(setup_path):
            os.remove(setup_path)
        sys.exit("make_packages: makensis failed:\n" + run.stdout + run.stderr)
    print(zip_path)
    print(setup_path)


if __name__ == "__main__":
    main()
