#!/usr/bin/env python3
"""End to end over the host's real download path: zorvane.exe from a scratch
copy of the bundle fetches its fixed TLS address, inside a private network
and mount namespace where that address's names lead to an HTTPS server of
the test's own on 127.0.0.1:443, with a certificate from a test CA that the
namespace's CA bundle trusts. The server answers as the release service does,
with a redirect to the archive on a second name. Everything runs inside the
namespace: Wine's server makes the host's sockets, so it must start there
too, and so must the display, whose socket is per namespace.

Entering the namespace needs root (or CAP_SYS_ADMIN); without it the suite
exits 77, which CTest reports as skipped, naming the reason."""

import argparse
import io
import os
import shutil
import ssl
import subprocess
import sys
import threading
import unittest
import zipfile
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "testing"))
import hostkit  # noqa: E402
import wine_suite  # noqa: E402
from wine_suite import (NULL, PROXY_OFF, PROXY_ON, STARTED,  # noqa: E402
                        STOPPED, x)
from wine_suite import DOWNLOAD_FAILED as NOT_DOWNLOADED  # noqa: E402

OPTIONS = WINE = STAGE = SERVER = None
SKIPPED = 77
INSIDE = "--inside-namespace"
NAMES = ("github.com", "objects.githubusercontent.com")
RELEASE_PATH = "/XTLS/Xray-core/releases/latest/download/Xray-windows-64.zip"
ARCHIVE_PATH = "/github-production-release-asset/Xray-windows-64.zip"
PAGE = "served on 127.0.0.1, fetched through the downloaded core"
OK = ("HTTP/1.0 200 OK", PAGE)
LATEST = x("00 07 06", b"latest")
DOWNLOAD_FAILED = x("01 07 0f", b"download_failed", "07 0f",
                    b"download failed", "00")
UPDATE_FAILED = x("01 07 0d", b"update_failed", "07 0d", b"update failed",
                  "00")
INSTALLED = "دانلود و نصب Xray کامل شد"
NOT_EXTRACTED = "استخراج فایل Xray ناموفق بود"
NO_XRAY_EXE = "فایل xray.exe در بسته دانلودی یافت نشد"
NOT_REPLACED = "جایگزینی Xray دانلودی ناموفق بود"
MARK = "powershell-ran.txt"


def archive(core, inside=""):
    """An archive shaped as the release's: the core as xray.exe beside the
    data files and the licence, all under INSIDE when given."""
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED) as made:
        made.writestr(inside + "xray.exe", core)
        for name in ("geoip.dat", "geosite.dat", "LICENSE"):
            made.writestr(inside + name, "stand-in " + name + "\n")
    return data.getvalue()


def openssl(*arguments):
    subprocess.run(["openssl"] + list(arguments), check=True,
                   stdin=subprocess.DEVNULL, capture_output=True)


def certificate_authority(folder, name):
    """A CA of the test's own and a certificate from it for both names:
    (CA certificate file, server TLS context)."""
    os.makedirs(folder)
    ca, ca_key = (os.path.join(folder, f) for f in ("ca.pem", "ca.key"))
    cert, key, request, extensions = (os.path.join(folder, f) for f in (
        "server.pem", "server.key", "server.csr", "server.ext"))
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-subj", "/CN=" + name, "-keyout", ca_key, "-out", ca,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + NAMES[0],
            "-keyout", key, "-out", request)
    with open(extensions, "w") as out:
        out.write("subjectAltName=" + ",".join("DNS:" + n for n in NAMES)
                  + "\nextendedKeyUsage=serverAuth\n"
                  "basicConstraints=CA:FALSE\n")
    openssl("x509", "-req", "-in", request, "-CA", ca, "-CAkey", ca_key,
            "-CAcreateserial", "-days", "2", "-extfile", extensions,
            "-out", cert)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return ca, context


class ReleaseServer:
    """HTTPS on 127.0.0.1:443 for both names, answering as the release
    service does: the release address redirects (302) to the archive on the
    second name. It records each request's Host and path; what it serves,
    and with which certificate, is set for each case."""

    def __init__(self, trusted):
        self.trusted = self.context = trusted
        self.requests = []
        self.archive = b""
        self.missing = False
        owner = self

        class Handler(BaseHTTPRequestHandler):
            def do_GET(self):
                owner.requests.append((self.headers["Host"], self.path))
                if owner.missing or (self.headers["Host"], self.path) not in (
                        (NAMES[0], RELEASE_PATH), (NAMES[1], ARCHIVE_PATH)):
                    self.answer(404, b"Not Found")
                elif self.path == RELEASE_PATH:
                    self.answer(302, b"", Location="https://%s%s" % (
                        NAMES[1], ARCHIVE_PATH))
                else:
                    self.answer(200, owner.archive,
                                **{"Content-Type": "application/zip"})

            def answer(self, status, body, **headers):
                self.send_response(status)
                # Nothing kept by WinINet's cache from one case to the next.
                self.send_header("Cache-Control", "no-store")
                self.send_header("Content-Length", str(len(body)))
                for name, value in headers.items():
                    self.send_header(name, value)
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *arguments):
                pass

        class Server(ThreadingHTTPServer):
            daemon_threads = True

            def get_request(self):
                # The handshake happens in the request's own thread, with the
                # certificate of the case at hand.
                client, address = self.socket.accept()
                return owner.context.wrap_socket(
                    client, server_side=True,
                    do_handshake_on_connect=False), address

        self.server = Server(("127.0.0.1", 443), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def serve(self, archive=b"", missing=False, context=None):
        self.archive, self.missing = archive, missing
        self.context = context or self.trusted
        self.requests = []

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def read(path):
    """The file's bytes, or None when there is no file."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def logged(host):
    """The activity log's lines as the host hands them over."""
    return list(hostkit.driver.decode_envelope(host.call("getLogs"))[1])


class DownloadTest(unittest.TestCase):
    def test_download_update_and_failures(self):
        """One host: the release downloaded and run, an update refused while
        it runs, then each way a download fails, none touching the core. A
        powershell.exe in the host's working directory and in its own folder
        is never run: only the system's extracts."""
        # Quotes, brackets and a backtick in the host's folder: PowerShell
        # must get its paths intact, and read none of them as a pattern.
        folder = hostkit.fresh_copy(OPTIONS.bundle, OPTIONS.scratch,
                                    "dl O'Neil \u2019s `x [portable]")
        core = os.path.join(folder, "xray", "xray.exe")
        planted = [os.getcwd(), folder]
        for where in planted:
            shutil.copyfile(OPTIONS.marking_powershell,
                            os.path.join(where, "powershell.exe"))
        port = hostkit.free_port()
        real = read(OPTIONS.real_core)

        def play(check, hosts):
            host = hostkit.Host(WINE, folder, timeout=180)
            hosts.append(host)

            def call(what, method, expected):
                check(method + ", " + what, host.call(method), expected)

            SERVER.serve(archive(real))
            call("release", "downloadXray", NULL)
            # Wine's URL moniker goes the whole way twice.
            check("the release address asked for, the redirect followed",
                  list(dict.fromkeys(SERVER.requests)),
                  [(NAMES[0], RELEASE_PATH), (NAMES[1], ARCHIVE_PATH)])
            call("downloaded", "getXrayVersion", LATEST)
            check("installed core is the archive's", read(core) == real, True)
            check("startXray, downloaded core",
                  host.call("startXray", hostkit.start_arguments(port)), NULL)
            check("page through the downloaded core", STAGE.fetch(port), OK)
            # Windows will not overwrite the program of a running process.
            call("core running", "updateXray", UPDATE_FAILED)
            check("page after the refused update", STAGE.fetch(port), OK)
            call("downloaded core", "stopXray", NULL)
            lines = [INSTALLED, PROXY_ON, STARTED, NOT_REPLACED, PROXY_OFF,
                     STOPPED]
            check("the session's lines", logged(host), lines)

            stale = os.path.join(folder, "xray", "downloaded", "stale.txt")
            with open(stale, "w") as left:
                left.write("from an earlier download")
            untrusted = certificate_authority(
                os.path.join(OPTIONS.scratch, "untrusted"),
                "Zorvane untrusted test CA")[1]
            for what, served, accepted in [
                    # Wine's URLDownloadToFileW answers S_OK to a 404 and
                    # saves its body, which then fails to extract: Wine
                    # logs the second line, Windows the first.
                    ("404 at the release address", dict(missing=True),
                     (NOT_DOWNLOADED, NOT_EXTRACTED)),
                    ("certificate from an untrusted CA",
                     dict(archive=archive(real), context=untrusted),
                     (NOT_DOWNLOADED,)),
                    ("xray.exe in a sub-folder",
                     dict(archive=archive(real, "Xray-windows-64/")),
                     (NO_XRAY_EXE,)),
                    ("damaged archive",
                     dict(archive=archive(real)[:-4096]), (NOT_EXTRACTED,))]:
                SERVER.serve(**served)
                call(what, "downloadXray", DOWNLOAD_FAILED)
                seen = logged(host)
                check(what + ", its line", (seen[:-1], seen[-1] in accepted),
                      (lines, True))
                lines = seen
            check("stale extraction emptied first", os.path.exists(stale),
                  False)
            check("installed core after the failures", read(core) == real,
                  True)
            call("after the failures", "getXrayVersion", LATEST)
            check("marks left by a planted powershell.exe",
                  [where for where in planted
                   if os.path.exists(os.path.join(where, MARK))], [])

        wine_suite.play_and_check(self, play)


def fresh_workdir(name):
    """A working directory without config.json: v2ray reads that file from
    its working directory before its own folder, and the host hands the core
    its own working directory."""
    workdir = os.path.join(OPTIONS.scratch, name)
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    return workdir


def bind_mount(source, target):
    subprocess.run(["mount", "--bind", source, target], check=True,
                   capture_output=True)


def setUpModule():
    """Inside the namespace: the loopback up, the release names on it, a
    test CA trusted beside the system's, its server, the display and Wine."""
    global STAGE, WINE, SERVER
    if not os.path.isfile(OPTIONS.real_core):
        raise RuntimeError(
            "no real core at %r: configure with -DZV_REAL_CORE=$(scripts/"
            "real-core), as scripts/test does" % OPTIONS.real_core)
    shutil.rmtree(OPTIONS.scratch, ignore_errors=True)
    os.makedirs(OPTIONS.scratch)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True,
                   capture_output=True)
    hosts = os.path.join(OPTIONS.scratch, "hosts")
    with open(hosts, "w") as out:
        out.write("127.0.0.1 localhost %s\n::1 localhost\n" % " ".join(NAMES))
    bind_mount(hosts, "/etc/hosts")
    ca, trusted = certificate_authority(
        os.path.join(OPTIONS.scratch, "trusted"), "Zorvane test CA")
    system_bundle = "/etc/ssl/certs/ca-certificates.crt"
    bundle = os.path.join(OPTIONS.scratch, "ca-certificates.crt")
    with open(bundle, "wb") as out:
        out.write(read(system_bundle) + read(ca))
    bind_mount(bundle, system_bundle)
    SERVER = ReleaseServer(trusted)
    os.chdir(fresh_workdir("workdir"))
    STAGE = wine_suite.Stage(OPTIONS, 1280, 1024, PAGE)
    WINE = STAGE.wine


def tearDownModule():
    if STAGE:
        STAGE.stop()
    if SERVER:
        SERVER.stop()


def enter_namespace():
    """Runs this suite again inside a private network and mount namespace,
    or exits SKIPPED when one cannot be made. A Wine server of the prefix
    running outside would make the host's sockets outside: it ends first."""
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--prefix", required=True)
    prefix = parser.parse_known_args()[0].prefix
    try:
        probe = subprocess.run(["unshare", "--net", "--mount", "true"],
                               stdin=subprocess.DEVNULL, capture_output=True,
                               text=True)
        reason = probe.stderr.strip() or "exit code %d" % probe.returncode
    except OSError as error:
        probe, reason = None, str(error)
    if probe is None or probe.returncode != 0:
        print("SKIPPED: the download suite needs a private network and mount "
              "namespace, which unshare could not make (it needs root or "
              "CAP_SYS_ADMIN): " + reason, flush=True)
        sys.exit(SKIPPED)
    environment = dict(os.environ, WINEPREFIX=os.path.abspath(prefix))
    for flag in ("-k", "-w"):
        subprocess.run(["wineserver", flag], env=environment,
                       stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=60)
    os.execvp("unshare", ["unshare", "--net", "--mount", "--",
                          sys.executable] + sys.argv + [INSIDE])


if __name__ == "__main__":
    if INSIDE not in sys.argv:
        enter_namespace()
    sys.argv.remove(INSIDE)
    wine_suite.main("--bundle", "--wine-run", "--prefix", "--scratch",
                    "--real-core", "--marking-powershell")
