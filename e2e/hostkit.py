"""What the end-to-end suite and the run command share: a display, Wine in a
given prefix, scratch copies of the bundle, the host started with the stand-in
engine's driver connection, the registry's proxy values, the core's processes
and a page fetched through its SOCKS5 service. Standard library only."""

import http.server
import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "standins", "flutter_windows"))
import driver  # noqa: E402

CHANNEL = "zorvane/xray"
SHIPPED_CORE = os.path.join("data", "flutter_assets", "assets", "xray",
                            "windows", "xray.exe")
INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
RUN_ONCE = r"HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce"


class Display:
    """An Xvfb display of its own, numbered by Xvfb itself."""

    def __init__(self, width=1920, height=1440):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "%dx%dx24" % (width, height), "-nolisten", "tcp"],
            pass_fds=[write_end], stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        with os.fdopen(read_end) as announced:
            number = announced.readline().strip()
        if not number:
            self.stop()
            raise RuntimeError("Xvfb announced no display")
        self.name = ":" + number

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(30)


class Wine:
    """Windows programs run with scripts/wine-run in one prefix, on one
    display, with a UTF-8 locale so that non-ASCII arguments pass as they
    are. The settings go into this process's environment, which the
    driver's HostProcess passes on."""

    def __init__(self, wine_run, prefix, display):
        self.wine_run = wine_run
        self.prefix = prefix
        os.environ.update(WINEPREFIX=prefix, WINEDEBUG="-all",
                          DISPLAY=display, LC_ALL="C.UTF-8")
        self.env = dict(os.environ)

    def command(self, program, *arguments):
        return [self.wine_run, self.prefix, program] + list(arguments)

    def run(self, program, *arguments, timeout=300):
        return subprocess.run(self.command(program, *arguments),
                              stdin=subprocess.DEVNULL, capture_output=True,
                              env=self.env, timeout=timeout)

    def end_server(self):
        """Ends every program of the prefix, and its server."""
        subprocess.run(["wineserver", "-k"], env=self.env,
                       stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env,
                       stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=60)

    def registry_values(self, key):
        """{name: (type, data text)} of the key's values, as reg prints
        them; REG_DWORD data reads as 0x1."""
        run = self.run("reg", "query", key, timeout=120)
        values = {}
        for line in run.stdout.decode("utf-8", "replace").splitlines():
            match = re.match(r"^ {4}(\S.*?) {4}(REG_\w+) {4}(.*)$", line)
            if match:
                values[match.group(1)] = (match.group(2), match.group(3))
        return values

    def set_dword(self, key, name, value):
        run = self.run("reg", "add", key, "/v", name, "/t", "REG_DWORD",
                       "/d", str(value), "/f", timeout=120)
        if run.returncode != 0:
            raise RuntimeError("reg add %s %s failed" % (key, name))

    def set_proxy(self, enable, server):
        """The system proxy's ProxyEnable and ProxyServer, as a program
        would set them."""
        self.set_dword(INTERNET_SETTINGS, "ProxyEnable", enable)
        run = self.run("reg", "add", INTERNET_SETTINGS, "/v", "ProxyServer",
                       "/t", "REG_SZ", "/d", server, "/f", timeout=120)
        if run.returncode != 0:
            raise RuntimeError("reg add ProxyServer failed")

    def sign_in_check(self):
        """The RunOnce value the host keeps while its proxy is on, or
        None."""
        return self.registry_values(RUN_ONCE).get("ZorvaneProxyCheck",
                                                  (None, None))[1]

    def switch_proxy_off(self):
        """A system proxy an aborted run left on goes off: a host would find
        it dead and log a line for it."""
        self.set_dword(INTERNET_SETTINGS, "ProxyEnable", 0)

    def proxy_settings(self):
        """ProxyEnable, ProxyServer and ProxyOverride (None when absent)."""
        values = self.registry_values(INTERNET_SETTINGS)
        return tuple(values.get(name, (None, None))[1]
                     for name in ("ProxyEnable", "ProxyServer",
                                  "ProxyOverride"))


def fresh_copy(bundle, scratch, name, without=None, core=None):
    """A scratch copy of the bundle, so that the core folder a run creates
    never reaches the bundle itself; CORE, when given, is shipped in place of
    the bundle's core."""
    folder = os.path.join(scratch, name)
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(bundle, folder)
    if without:
        shutil.rmtree(os.path.join(folder, without))
    if core:
        shutil.copyfile(core, os.path.join(folder, SHIPPED_CORE))
    return folder


def windows_path(path):
    """The path as Wine's programs see it, on drive Z."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def processes_started_as(*paths):
    """Linux process ids of the Wine processes started as one of PATHS, Linux
    paths or Windows ones (those in any case): a Wine process shows ps its
    command line, which names the program by the path it was started with."""
    starts = [(path if path.startswith("/") else path.lower()) + " "
              for path in paths]
    listing = subprocess.run(["ps", "-eo", "pid=,args="], capture_output=True,
                             text=True).stdout
    pids = []
    for line in listing.splitlines():
        pid, _, args = line.strip().partition(" ")
        args += " "
        if any((args if start[0] == "/" else args.lower()).startswith(start)
               for start in starts):
            pids.append(int(pid))
    return pids


def processes_of(folder, program):
    """The Wine processes running FOLDER/PROGRAM, started by either path."""
    path = os.path.abspath(os.path.join(folder, program))
    return processes_started_as(path, windows_path(path))


def core_processes(folder):
    """The cores a host started from FOLDER: its core folder's xray.exe."""
    return processes_of(folder, os.path.join("xray", "xray.exe"))


def kill_processes(pids):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def wait_until(condition, timeout=20.0, step=0.2):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(step)


def core_config(port):
    """A configuration laid out as the real core's, its socks inbound on
    127.0.0.1:PORT."""
    return json.dumps({
        "inbounds": [{"tag": "socks-in", "port": port, "listen": "127.0.0.1",
                      "protocol": "socks", "settings": {"udp": True}}],
        "outbounds": [{"protocol": "freedom"}]})


def start_arguments(port):
    """startXray's arguments for a core serving SOCKS5 on 127.0.0.1:PORT."""
    return {"config": core_config(port), "localPort": port}


def port_is_free(port):
    """No one listens on 127.0.0.1:PORT (connections that linger after their
    close do not count)."""
    with socket.socket() as probe:
        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            probe.bind(("127.0.0.1", port))
        except OSError:
            return False
    return True


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class PageServer:
    """An HTTP server on 127.0.0.1 that answers every GET with one page."""

    def __init__(self, body):
        page = body.encode("utf-8")

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Type", "text/plain; charset=utf-8")
                self.send_header("Content-Length", str(len(page)))
                self.end_headers()
                self.wfile.write(page)

            def log_message(self, *arguments):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                                      Handler)
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever,
                                       daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def fetch_through_socks(socks_port, http_port, path="/", timeout=30,
                        host="127.0.0.1"):
    """GET http://HOST:HTTP_PORT/PATH through the SOCKS5 service on
    127.0.0.1:SOCKS_PORT (no authentication, CONNECT to an IPv4 address or,
    for a name, to the name for the server to resolve); returns the status
    line and the body."""
    with socket.create_connection(("127.0.0.1", socks_port),
                                  timeout=timeout) as connection:
        def exactly(count):
            data = b""
            while len(data) < count:
                chunk = connection.recv(count - len(data))
                if not chunk:
                    raise ConnectionError("SOCKS5 server closed the connection")
                data += chunk
            return data

        connection.sendall(b"\x05\x01\x00")
        if exactly(2) != b"\x05\x00":
            raise ConnectionError("SOCKS5 server refused no-authentication")
        try:
            address = b"\x01" + socket.inet_aton(host)
        except OSError:
            address = b"\x03" + bytes([len(host)]) + host.encode("ascii")
        connection.sendall(b"\x05\x01\x00" + address
                           + struct.pack(">H", http_port))
        reply = exactly(4)
        if reply[:2] != b"\x05\x00":
            raise ConnectionError("SOCKS5 CONNECT answered %r" % reply)
        exactly({1: 4, 4: 16}.get(reply[3], 0) + 2)  # bound address, port
        connection.sendall(("GET %s HTTP/1.0\r\nHost: %s:%d\r\n\r\n"
                            % (path, host, http_port)).encode("ascii"))
        response = b""
        while True:
            chunk = connection.recv(65536)
            if not chunk:
                break
            response += chunk
    head, _, body = response.partition(b"\r\n\r\n")
    return head.split(b"\r\n")[0].decode("latin-1"), body.decode("utf-8")


class Host:
    """zorvane.exe from a scratch copy of the bundle under Wine, with its
    driver connection open; or PROGRAM, a Windows path (an installed host,
    started as its shortcut starts it), whose processes kill() leaves to the
    prefix's end."""

    def __init__(self, wine, folder, arguments=(), timeout=30, program=None):
        self.folder = folder
        self.process = driver.HostProcess(
            wine.command(program or os.path.join(folder, "zorvane.exe"),
                         *arguments),
            timeout=120)
        self.connection = driver.Driver(self.process.port, timeout=timeout)

    def send(self, data):
        """Sends raw message bytes on the core channel; the answer."""
        return self.connection.send(CHANNEL, data)

    def call(self, method, arguments=None):
        """The reply bytes to a call (standard method codec)."""
        answer = self.send(driver.encode_method_call(method, arguments))
        if answer.kind != "reply":
            raise AssertionError("%s answered %s" % (method, answer.kind))
        return answer.data

    def close(self, timeout=60):
        """Closes the window; the exit code. A core the host started keeps
        its standard streams (Wine hands them down), so their end is not
        waited for."""
        self.connection.close_window()
        self.connection.close()
        return self.process.process.wait(timeout)

    def kill(self):
        """Ends the host and the cores it started, whatever state they are
        in."""
        self.connection.close()
        self.process.kill()
        kill_processes(processes_of(self.folder, "zorvane.exe"))
        kill_processes(core_processes(self.folder))
        self.process.wait(30)
        self.process.process.stdout.close()
        self.process.process.stderr.close()
