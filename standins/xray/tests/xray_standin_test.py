#!/usr/bin/env python3
"""Tests of the stand-in xray.exe under Wine: it refuses to start on a bad
command line or config, and otherwise carries HTTP through its SOCKS5
inbound to a server on 127.0.0.1 that the test starts."""

import argparse
import concurrent.futures
import http.server
import json
import os
import select
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

OPTIONS = None
BIG_BODY = os.urandom(1 << 20)
GREETING = b"\x05\x01\x00"  # one method: no authentication
ENVIRONMENT = dict(os.environ, LC_ALL="C.UTF-8")  # non-ASCII paths to Wine


def xray(*arguments):
    return [OPTIONS.wine_run, OPTIONS.prefix, OPTIONS.xray] + list(arguments)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def write_config(path, content):
    with open(path, "w", encoding="utf-8") as file:
        file.write(content if isinstance(content, str) else
                   json.dumps(content))
    return windows_path(path)


def socks_config(port):  # laid out as the real core's configuration
    return {"inbounds": [{"tag": "socks-in", "port": port,
                          "listen": "127.0.0.1", "protocol": "socks",
                          "settings": {"udp": True}}],
            "outbounds": [{"protocol": "freedom"}]}


def unused_port():
    with socket.create_server(("127.0.0.1", 0)) as probe:
        return probe.getsockname()[1]


def receive_exactly(connection, size):
    data = b""
    while len(data) < size and (chunk := connection.recv(size - len(data))):
        data += chunk
    return data


def read_to_end(connection):
    """What arrives until the peer closes; a close with our bytes unread
    comes as a reset."""
    data = b""
    try:
        while chunk := connection.recv(65536):
            data += chunk
    except ConnectionResetError:
        pass
    return data


class StartFailureTest(unittest.TestCase):
    def test_exits_at_once_with_one_line(self):
        with tempfile.TemporaryDirectory() as folder, \
                socket.create_server(("127.0.0.1", 0)) as taken:
            port = taken.getsockname()[1]
            path = lambda name, content: write_config(  # noqa: E731
                os.path.join(folder, name), content)
            http_only = {"inbounds": [{"protocol": "http", "port": 10809}]}
            usage = "usage: xray run -c <config file>"
            cases = [
                ("no arguments", [], 2, usage),
                ("not -c", ["run", "-config", path("empty.json", "{}")], 2,
                 usage),
                ("missing file", ["run", "-c", "Z:\\no\\such.json"], 1,
                 "config file not found: Z:\\no\\such.json"),
                ("invalid JSON",
                 ["run", "-c", path("cut.json", '{"inbounds": [')], 1,
                 "the config file is not JSON"),
                ("no socks inbound",
                 ["run", "-c", path("http.json", http_only)], 1,
                 'the config has no inbound with protocol "socks"'),
                ("port taken",
                 ["run", "-c", path("taken.json", socks_config(port))], 1,
                 "port taken: 127.0.0.1:%d" % port),
            ]
            for name, arguments, exit_code, reason in cases:
                with self.subTest(name):
                    run = subprocess.run(xray(*arguments), env=ENVIRONMENT,
                                         stdin=subprocess.DEVNULL,
                                         capture_output=True, timeout=60)
                    self.assertEqual(run.returncode, exit_code)
                    self.assertEqual(run.stderr.decode().splitlines(),
                                     ["xray stand-in: " + reason])


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = BIG_BODY if self.path == "/big" else b"hello " + \
            self.path.encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *arguments):
        pass


class SocksTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.web = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=cls.web.serve_forever, daemon=True).start()
        cls.addClassCleanup(cls.web.shutdown)
        cls.web_port = cls.web.server_address[1]
        temporary = tempfile.TemporaryDirectory()
        cls.addClassCleanup(temporary.cleanup)
        folder = os.path.join(temporary.name, "Zorvane's تست")  # a user's
        os.mkdir(folder)
        cls.port = unused_port()
        config = write_config(os.path.join(folder, "config.json"),
                              socks_config(cls.port))
        cls.core = subprocess.Popen(
            xray("run", "-c", config), env=ENVIRONMENT,
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        cls.addClassCleanup(cls.stop_core)
        ready, _, _ = select.select([cls.core.stdout], [], [], 60)
        cls.ready_line = cls.core.stdout.readline() if ready else b""

    @classmethod
    def stop_core(cls):
        cls.core.kill()
        cls.core.wait(30)
        cls.core.stdout.close()
        # Wine's server holds the process's sockets and lets them go a
        # moment after the process is killed; a live xray.exe never does.
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_server(("127.0.0.1", cls.port)).close()
                return
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.1)

    def fetch(self, address, path):
        """GET path from the test's server through a SOCKS5 CONNECT to
        address (type and address bytes): the SOCKS answers' first bytes,
        the status line and the body."""
        port = self.web_port.to_bytes(2, "big")
        with socket.create_connection(("127.0.0.1", self.port), 30) as s:
            s.sendall(GREETING + b"\x05\x01\x00" + address + port)
            answers = receive_exactly(s, 2 + 10)  # an IPv4 bound address
            s.sendall(b"GET %s HTTP/1.0\r\n\r\n" % path.encode())
            head, _, body = read_to_end(s).partition(b"\r\n\r\n")
        return answers[:4], head.split(b"\r\n")[0], body

    def test_http_through_socks(self):
        self.assertEqual(self.ready_line.decode().strip(),
                         "xray stand-in: SOCKS5 on 127.0.0.1:%d" % self.port)
        for name, address in [("IPv4", b"\x01\x7f\x00\x00\x01"),
                              ("domain name", b"\x03\x09localhost")]:
            with self.subTest(name):
                self.assertEqual(self.fetch(address, "/x"),
                                 (b"\x05\x00\x05\x00", b"HTTP/1.0 200 OK",
                                  b"hello /x"))

    def test_many_connections_at_once(self):
        with concurrent.futures.ThreadPoolExecutor(12) as pool:
            bodies = list(pool.map(
                lambda _: self.fetch(b"\x01\x7f\x00\x00\x01", "/big")[2],
                range(24)))
        self.assertTrue(all(body == BIG_BODY for body in bodies))

    def test_refused_and_malformed_requests_close_only_their_connection(self):
        closed_port = unused_port().to_bytes(2, "big")
        to_closed_port = b"\x01\x7f\x00\x00\x01" + closed_port
        failure = b"\x00\x01\x00\x00\x00\x00\x00\x00"  # RSV, 0.0.0.0:0
        cases = [  # name, bytes sent, bytes answered before the close
            ("only user/password offered", b"\x05\x01\x02", b"\x05\xff"),
            ("UDP ASSOCIATE", GREETING + b"\x05\x03\x00" + to_closed_port,
             b"\x05\x00\x05\x07" + failure),
            ("IPv6 address",
             GREETING + b"\x05\x01\x00\x04" + bytes(15) + b"\x01\x00\x50",
             b"\x05\x00\x05\x08" + failure),
            ("unknown address type", GREETING + b"\x05\x01\x00\x07",
             b"\x05\x00\x05\x08" + failure),
            ("connection refused",
             GREETING + b"\x05\x01\x00" + to_closed_port,
             b"\x05\x00\x05\x05" + failure),
            ("SOCKS4 request", GREETING + b"\x04\x01\x00\x50\x7f\0\0\x01\0",
             b"\x05\x00"),
            ("HTTP instead", b"GET / HTTP/1.0\r\n\r\n", b""),
            ("no methods", b"\x05\x00", b""),
        ]
        for name, sent, answer in cases:
            with self.subTest(name), socket.create_connection(
                    ("127.0.0.1", self.port), 30) as connection:
                connection.sendall(sent)
                self.assertEqual(read_to_end(connection), answer)
        self.assertEqual(self.fetch(b"\x01\x7f\x00\x00\x01", "/after")[2],
                         b"hello /after")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ["--wine-run", "--prefix", "--xray"]:
        parser.add_argument(name, required=True)
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
