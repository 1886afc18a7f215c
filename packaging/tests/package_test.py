#!/usr/bin/env python3
"""The packages as a Windows user gets them, under Wine, in a prefix and on a
display of the test's own: the installer installed silently, the installed
host driven through a short session, reinstalled over a running core,
uninstalled with the core running and the proxy on; installers that cannot
finish; the zip unpacked to a folder with spaces and quote characters and
run the same way, its connection left to it by an installer. The packages
are signed with a throwaway certificate, and every program in them checked
against its authority. Unknown options go to unittest."""

import getpass
import os
import pathlib
import shutil
import subprocess
import sys
import unittest
import zipfile

sys.dont_write_bytecode = True  # keep the source tree clean
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "testing"))
import wine_suite  # noqa: E402
import hostkit  # noqa: E402

OPTIONS = WINE = STAGE = SIGNING = MADE = None
ZIP = "zorvane-2.0.0+2-standin-engine-windows-x64.zip"
SETUP = "zorvane-2.0.0+2-standin-engine-windows-x64-setup.exe"
BUNDLE_FILES = ["data/app.so",
                "data/flutter_assets/assets/xray/windows/xray.exe",
                "data/icudtl.dat", "flutter_windows.dll", "zorvane.exe"]
INSTALLED_FILES = sorted(BUNDLE_FILES + ["uninstall.exe"])
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zorvane"
PAGE = "served on 127.0.0.1, fetched through the installed core"
PASSWORD = "the signing key's pass phrase"


class Place:
    """An installation folder NAME under the user's Programs folder: FOLDER
    as Linux sees it, WINDOWS as Windows programs do, HOST and CORE the
    installed host and its core."""

    def __init__(self, name):
        user = getpass.getuser()
        self.folder = os.path.join(OPTIONS.prefix, "drive_c", "users", user,
                                   "AppData", "Local", "Programs", name)
        self.windows = ("C:\\users\\%s\\AppData\\Local\\Programs\\%s"
                        % (user, name))
        self.host = self.windows + "\\zorvane.exe"
        self.core = self.windows + "\\xray\\xray.exe"


def shortcut():
    return os.path.join(OPTIONS.prefix, "drive_c", "users", getpass.getuser(),
                        "AppData", "Roaming", "Microsoft", "Windows",
                        "Start Menu", "Programs", "Zorvane.lnk")


def setup_path(out="out"):
    return os.path.join(OPTIONS.scratch, out, SETUP)


def files_under(folder):
    return sorted(os.path.relpath(os.path.join(parent, name), folder)
                  for parent, _, names in os.walk(folder) for name in names)


def read(path):
    return pathlib.Path(path).read_bytes()


def write(path, data):
    pathlib.Path(path).write_bytes(data)


def contents(folder):
    """{file relative to FOLDER: its bytes}, or None without the folder."""
    if not os.path.isdir(folder):
        return None
    return {name: read(os.path.join(folder, name))
            for name in files_under(folder)}


def make_packages(out, *arguments, helper=None, signing=None):
    """Unsigned whatever the caller's environment holds, unless SIGNING
    gives the ZV_SIGNING_ variables."""
    environment = {name: value for name, value in os.environ.items()
                   if not name.startswith("ZV_SIGNING_")}
    return subprocess.run(
        [sys.executable, os.path.join(HERE, "..", "make_packages.py"),
         "--bundle", OPTIONS.bundle, "--helper", helper or OPTIONS.helper,
         "--icon", OPTIONS.icon, "--out", out, *arguments],
        stdin=subprocess.DEVNULL, capture_output=True,
        env=dict(environment, **(signing or {})))


def make_certificate(folder):
    """A throwaway certificate authority, FOLDER/ca.pem, and a code-signing
    certificate it issued with its key and the authority's certificate in
    FOLDER/signer.p12 under PASSWORD."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    write(os.path.join(folder, "signer.ext"),
          b"basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
          b"extendedKeyUsage=codeSigning\n")
    for command in [
            "req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Zorvane-test-CA"
            " -addext basicConstraints=critical,CA:TRUE"
            " -addext keyUsage=critical,keyCertSign -keyout ca.key -out ca.pem",
            "req -newkey rsa:2048 -nodes -subj /CN=Zorvane-test-signer"
            " -keyout signer.key -out signer.csr",
            "x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -set_serial 2"
            " -days 2 -extfile signer.ext -out signer.pem",
            "pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem"
            " -passout env:PASSWORD -out signer.p12"]:
        subprocess.run(["openssl"] + command.split(), cwd=folder, check=True,
                       env=dict(os.environ, PASSWORD=PASSWORD),
                       stdin=subprocess.DEVNULL, capture_output=True)
    return os.path.join(folder, "ca.pem"), os.path.join(folder, "signer.p12")


def verify(path):
    """osslsigncode's check of PATH's signature against the test's own
    authority: (exit code, what it said)."""
    run = subprocess.run(["osslsigncode", "verify", "-CAfile", SIGNING["ca"],
                          "-in", path], stdin=subprocess.DEVNULL,
                         capture_output=True, text=True)
    return run.returncode, run.stdout + run.stderr


def set_sign_in_check(command):
    """The RunOnce value as a host writes it while its proxy is on."""
    run = WINE.run("reg", "add", hostkit.RUN_ONCE, "/v", "ZorvaneProxyCheck",
                   "/t", "REG_SZ", "/d", command, "/f", timeout=120)
    if run.returncode != 0:
        raise RuntimeError("reg add ZorvaneProxyCheck failed")


class PackageTest(unittest.TestCase):
    def uninstall(self, place):
        """Silent. The uninstaller goes on from a copy of itself, so its end
        is the folder's."""
        WINE.run(place.windows + "\\uninstall.exe", "/S")
        self.assertTrue(hostkit.wait_until(
            lambda: not os.path.exists(place.folder), timeout=120))

    def session(self, host, core, close=True):
        """The short session: the shipped core installed, started with the
        system proxy on a free port, a page fetched through it, the window
        closed unless not to CLOSE; the core, CORE, keeps running. The
        port."""
        port = hostkit.free_port()
        self.assertEqual(host.call("checkXrayInstalled"), b"\x00\x01")
        self.assertEqual(host.call("startXray", hostkit.start_arguments(port)),
                         b"\x00\x00")
        self.assertEqual(WINE.proxy_settings()[:2],
                         ("0x1", "socks=127.0.0.1:%d" % port))
        self.assertEqual(
            hostkit.fetch_through_socks(port, STAGE.page_server.port),
            ("HTTP/1.0 200 OK", PAGE))
        if close:
            self.assertEqual(host.close(), 0)
        self.assertTrue(hostkit.processes_started_as(core))
        return port

    def test_installers_that_cannot_finish(self):
        """Installers that stop part way, then an uninstall that meets the
        sign-in check naming the host by its short path; in a folder whose
        name has a short form of its own (and no blank: the installer's
        /D= takes no quotes)."""
        place = Place("ZorvaneSecondCopy")
        target = "/D=" + place.windows
        # A helper that cannot start, as when antivirus or a policy blocks it.
        helper = os.path.join(OPTIONS.scratch, "helper.txt")
        write(helper, b"not a program\r\n")
        made = make_packages(os.path.join(OPTIONS.scratch, "no-helper"),
                             helper=helper)
        self.assertEqual(made.returncode, 0, made.stderr)

        def refused_unchanged():
            def state():
                return (contents(place.folder),
                        WINE.registry_values(UNINSTALL_KEY),
                        os.path.exists(shortcut()))
            before = state()
            self.assertEqual(WINE.run(setup_path("no-helper"), "/S",
                                      target).returncode, 2)
            self.assertEqual(state(), before)

        # Such an installer stops before it changes anything: where nothing
        # is installed (no folder, Uninstall entry or shortcut comes), and
        # over an installation.
        self.assertIsNone(contents(place.folder))
        refused_unchanged()
        self.assertEqual(WINE.run(setup_path(), "/S", target).returncode, 0)
        refused_unchanged()
        short = WINE.run("cmd", "/c", "for %I in (" + place.host
                         + ") do @echo %~sI").stdout.decode().strip()
        self.assertNotEqual(short.lower(), place.host.lower())

        # A file in use that the installer does not end (the shipped core,
        # run by hand) cannot be replaced: the installation fails.
        shipped = (place.windows
                   + "\\data\\flutter_assets\\assets\\xray\\windows\\xray.exe")
        port = hostkit.free_port()
        config = os.path.join(OPTIONS.scratch, "config.json")
        write(config, hostkit.core_config(port).encode())
        running = subprocess.Popen(
            WINE.command(shipped, "run", "-c", hostkit.windows_path(config)),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)

        def end_shipped():
            hostkit.kill_processes(hostkit.processes_started_as(shipped))
            running.wait(30)

        self.addCleanup(end_shipped)
        self.assertTrue(hostkit.wait_until(
            lambda: not hostkit.port_is_free(port), timeout=60))
        self.assertEqual(WINE.run(setup_path(), "/S", target).returncode, 2)
        end_shipped()

        # The sign-in check that names this installation's host by its short
        # path goes with it.
        set_sign_in_check('"%s" --check-proxy' % short)
        self.uninstall(place)
        self.assertIsNone(WINE.sign_in_check())

    def test_install_run_reinstall_uninstall(self):
        place = Place("Zorvane")  # where the installer installs by default
        other = os.path.join(os.path.dirname(place.folder), "Other",
                             "keep.txt")
        setup = setup_path()

        os.makedirs(os.path.dirname(other), exist_ok=True)
        write(other, b"another program's file")

        # Silent install: the files, the shortcut and the Uninstall entry;
        # the installed host's check switches a dead proxy of its own off.
        dead = hostkit.free_port()
        WINE.set_proxy(1, "socks=127.0.0.1:%d" % dead)
        self.assertEqual(WINE.run(setup, "/S").returncode, 0)
        self.assertEqual(WINE.proxy_settings()[:2],
                         ("0x0", "socks=127.0.0.1:%d" % dead))
        self.assertEqual(files_under(place.folder), INSTALLED_FILES)
        # The shortcut's link information holds the target's path as ANSI.
        self.assertIn(place.host.encode("ascii") + b"\0", read(shortcut()))
        entry = WINE.registry_values(UNINSTALL_KEY)
        self.assertEqual(
            [entry.get(name, (None, None))[1] for name in [
                "DisplayName", "DisplayVersion", "Publisher", "DisplayIcon",
                "UninstallString"]],
            ["Zorvane", "2.0.0+2", "Zorvane", place.host + ",0",
             '"%s\\uninstall.exe"' % place.windows])
        self.assertEqual(entry["EstimatedSize"][0], "REG_DWORD")
        # The uninstaller the installer wrote keeps the signature it was
        # packed with; the host is the zip's, signed too.
        self.assertEqual(verify(os.path.join(place.folder, "uninstall.exe"))[0],
                         0)
        with zipfile.ZipFile(os.path.join(OPTIONS.scratch, "out", ZIP)) as zip:
            signed_host = zip.read("Zorvane/zorvane.exe")
        self.assertEqual(read(os.path.join(place.folder, "zorvane.exe")),
                         signed_host)

        # The installed host's session, started as the shortcut starts it, so
        # that the paths its core and the uninstaller see are its own.
        self.session(hostkit.Host(WINE, OPTIONS.scratch, program=place.host),
                     place.core)

        # Reinstall over the running core: it is ended and the files are
        # replaced; a proxy that another program set is left alone.
        write(os.path.join(place.folder, "data", "stale.bin"),
              b"an earlier one's")
        write(os.path.join(place.folder, "zorvane.exe"), b"damaged")
        WINE.set_proxy(1, "http=10.1.2.3:3128")
        self.assertEqual(WINE.run(setup, "/S").returncode, 0)
        self.assertFalse(hostkit.processes_started_as(place.core))
        self.assertEqual(WINE.proxy_settings()[:2],
                         ("0x1", "http=10.1.2.3:3128"))
        files = files_under(place.folder)
        self.assertEqual([name for name in files if name[:5] != "xray/"],
                         INSTALLED_FILES)
        self.assertIn("xray/config.json", files)  # the user's core stays
        self.assertEqual(read(os.path.join(place.folder, "zorvane.exe")),
                         signed_host)

        # The new files work; while their window is open an installer
        # refuses.
        host = hostkit.Host(WINE, OPTIONS.scratch, program=place.host)
        self.assertEqual(WINE.run(setup, "/S").returncode, 2)  # aborted
        port = self.session(host, place.core)

        # The core is gone with the session, as at a sign-out, leaving the
        # proxy on and the sign-in check armed. A silent uninstall switches
        # the dead proxy off and takes the check away.
        hostkit.kill_processes(hostkit.processes_started_as(place.core))
        self.assertEqual(WINE.sign_in_check(),
                         '"%s" --check-proxy' % place.host)
        self.uninstall(place)
        self.assertEqual(WINE.proxy_settings()[:2],
                         ("0x0", "socks=127.0.0.1:%d" % port))
        self.assertIsNone(WINE.sign_in_check())
        self.assertFalse(os.path.exists(shortcut()))
        self.assertEqual(WINE.registry_values(UNINSTALL_KEY), {})
        self.assertEqual(read(other), b"another program's file")

        # Installed again and uninstalled while the proxy is the live one of
        # another copy's core: it stays on, and so does the sign-in check
        # that copy's host wrote.
        self.assertEqual(WINE.run(setup, "/S").returncode, 0)
        copy = hostkit.fresh_copy(OPTIONS.bundle, OPTIONS.scratch, "copy")
        host = hostkit.Host(WINE, copy)
        self.addCleanup(host.kill)
        served = self.session(host, hostkit.windows_path(
            os.path.join(copy, "xray", "xray.exe")))
        self.uninstall(place)
        self.assertEqual(WINE.proxy_settings()[:2],
                         ("0x1", "socks=127.0.0.1:%d" % served))
        self.assertEqual(WINE.sign_in_check(), '"%s" --check-proxy'
                         % hostkit.windows_path(os.path.join(copy,
                                                             "zorvane.exe")))
        self.assertEqual(
            hostkit.fetch_through_socks(served, STAGE.page_server.port),
            ("HTTP/1.0 200 OK", PAGE))

    def test_engine_dir_replaces_the_stand_in_engine(self):
        engine, out = (os.path.join(OPTIONS.scratch, name)
                       for name in ("Release", "release"))
        shutil.rmtree(engine, ignore_errors=True)
        shutil.copytree(OPTIONS.bundle, engine)
        write(os.path.join(engine, "flutter_windows.dll"), b"the app's engine")
        write(os.path.join(engine, "data", "app.so"), b"the app")
        # Unsigned, and saying so in one line.
        made = make_packages(out, "--engine", engine)
        self.assertEqual((made.returncode, made.stderr.decode()), (0, (
            "package: no code-signing certificate (ZV_SIGNING_PKCS12): "
            "the packages are unsigned\n")))
        self.assertTrue(os.path.isfile(
            os.path.join(out, "zorvane-2.0.0+2-windows-x64-setup.exe")))
        with zipfile.ZipFile(
                os.path.join(out, "zorvane-2.0.0+2-windows-x64.zip")) as zip:
            self.assertEqual([zip.read("Zorvane/flutter_windows.dll"),
                              zip.read("Zorvane/data/app.so")],
                             [b"the app's engine", b"the app"])
        # Without the shipped core the host could install no core.
        os.remove(os.path.join(engine, "data", "flutter_assets", "assets",
                               "xray", "windows", "xray.exe"))
        self.assertEqual(make_packages(out, "--engine", engine).returncode, 1)

    def test_programs_signed(self):
        """Every program of the packages passes the signature check; the
        build's own bundle stays as it was built, unsigned."""
        self.assertNotIn(PASSWORD.encode(), MADE.stdout + MADE.stderr)
        unpacked = os.path.join(OPTIONS.scratch, "signed")
        shutil.rmtree(unpacked, ignore_errors=True)
        with zipfile.ZipFile(os.path.join(OPTIONS.scratch, "out", ZIP)) as zip:
            zip.extractall(unpacked)
        # The helper goes into the installer from beside the packages.
        for path, code in [
                (os.path.join(unpacked, "Zorvane", "zorvane.exe"), 0),
                (os.path.join(unpacked, "Zorvane", "flutter_windows.dll"), 0),
                (os.path.join(OPTIONS.scratch, "out-work", "setup-helper.exe"),
                 0),
                (setup_path(), 0),
                (os.path.join(OPTIONS.bundle, "zorvane.exe"), 1),
                (os.path.join(OPTIONS.bundle, "flutter_windows.dll"), 1)]:
            with self.subTest(path=path):
                said = verify(path)
                self.assertEqual(said[0], code, said[1])

        # A certificate that cannot be used fails the packaging and leaves
        # no packages, rather than unsigned ones.
        for case, signing in [
                ("wrong password", dict(SIGNING["env"],
                                        ZV_SIGNING_PASSWORD="not it")),
                ("no such file", dict(SIGNING["env"],
                                      ZV_SIGNING_PKCS12=SIGNING["ca"] + ".p12"))]:
            with self.subTest(case=case):
                out = os.path.join(OPTIONS.scratch, "refused")
                shutil.rmtree(out, ignore_errors=True)
                made = make_packages(out, signing=signing)
                self.assertNotEqual(made.returncode, 0)
                self.assertEqual(os.listdir(out) if os.path.isdir(out)
                                 else [], [])

    def test_zip_unpacked_to_a_folder_with_spaces_and_quotes(self):
        target = os.path.join(OPTIONS.scratch, "Zorvane's “test” ‘folder’ ")
        with zipfile.ZipFile(os.path.join(OPTIONS.scratch, "out", ZIP)) as zip:
            self.assertEqual(sorted(zip.namelist()),
                             ["Zorvane/" + name for name in BUNDLE_FILES])
            zip.extractall(target)
        folder = os.path.join(target, "Zorvane")
        host = hostkit.Host(WINE, folder)
        self.addCleanup(host.kill)
        core = hostkit.windows_path(os.path.join(folder, "xray", "xray.exe"))
        port = self.session(host, core, close=False)

        # Its core dies while its user still wants the connection, which its
        # window still shows: an installer's check leaves the dead proxy to
        # that host.
        hostkit.kill_processes(hostkit.processes_started_as(core))
        place = Place("ZorvaneBesideTheZip")
        self.assertEqual(WINE.run(setup_path(), "/S",
                                  "/D=" + place.windows).returncode, 0)
        self.assertEqual(WINE.proxy_settings()[:2],
                         ("0x1", "socks=127.0.0.1:%d" % port))
        self.assertEqual(host.call("stopXray"), b"\x00\x00")
        self.assertEqual(host.close(), 0)
        self.uninstall(place)


def setUpModule():
    global STAGE, WINE, SIGNING, MADE
    ca, pkcs12 = make_certificate(os.path.join(OPTIONS.scratch, "signing"))
    SIGNING = {"ca": ca, "env": {"ZV_SIGNING_PKCS12": pkcs12,
                                 "ZV_SIGNING_PASSWORD": PASSWORD}}
    MADE = make_packages(os.path.join(OPTIONS.scratch, "out"),
                         signing=SIGNING["env"])
    if MADE.returncode != 0:
        raise RuntimeError(MADE.stderr.decode("utf-8", "replace"))
    # A fresh prefix: no installation, shortcut or proxy of an earlier run.
    STAGE = wine_suite.Stage(OPTIONS, page=PAGE, fresh=True)
    WINE = STAGE.wine


def tearDownModule():
    STAGE.stop()


if __name__ == "__main__":
    wine_suite.main("--bundle", "--helper", "--icon", "--wine-run", "--prefix",
                    "--scratch")
