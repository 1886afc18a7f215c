#!/usr/bin/env python3
"""xray_standin_test.py WINE_RUN PREFIX XRAY_EXE [unittest options]: the
stand-in core under Wine where the core manager's and end-to-end tests do not
reach: refusals at start, and a CONNECT to a domain name and one to an
address served at once (the real-core suite checks the host's serving)."""

import json
import socket
import socketserver
import subprocess
import sys
import tempfile
import threading
import unittest

FOLDER = tempfile.TemporaryDirectory()
GREETING = b"\x05\x01\x00"  # one method: no authentication
CONNECT = b"\x05\x01\x00"  # then the address and the port
LOOPBACK = b"\x01\x7f\x00\x00\x01"  # IPv4 127.0.0.1


def xray(*arguments, config=None):
    """The command line, ending with the path of a new config file if given
    (text as it is, anything else as JSON)."""
    if config is not None:
        with tempfile.NamedTemporaryFile("w", suffix=".json", dir=FOLDER.name,
                                         delete=False) as file:
            file.write(config if isinstance(config, str)
                       else json.dumps(config))
        arguments += ("Z:" + file.name.replace("/", "\\"),)
    return sys.argv[1:4] + list(arguments)


def free_port():
    with socket.create_server(("127.0.0.1", 0)) as probe:
        return probe.getsockname()[1]


def receive(connection, size=1 << 30):  # fewer if the peer closes first
    data = b""
    while len(data) < size and (chunk := connection.recv(
            min(size - len(data), 1 << 16))):
        data += chunk
    return data


class Echo(socketserver.BaseRequestHandler):
    def handle(self):  # all it gets, once the client has sent its last byte
        self.request.sendall(receive(self.request))


class XrayStandinTest(unittest.TestCase):
    def test_refuses_at_start_then_connects_and_answers_errors(self):
        echo = self.enterContext(
            socketserver.ThreadingTCPServer(("127.0.0.1", 0), Echo))
        threading.Thread(target=echo.serve_forever, daemon=True).start()
        self.addCleanup(echo.shutdown)
        port = free_port()
        core = self.enterContext(subprocess.Popen(
            xray("run", "-c", config={"inbounds": [  # "listen" left out
                {"port": port, "protocol": "socks"}]}),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE))
        self.addCleanup(core.kill)  # before the wait on leaving the context
        core.stdout.readline()  # ready

        for command, code, reason in [  # exit code, the one line on stderr
                (xray("run", "-config", config={}), 2,
                 "usage: xray run -c <config file>"),
                (xray("run", "-c", "Z:\\no\\such.json"), 1,
                 "config file not found: Z:\\no\\such.json"),
                (xray("run", "-c", config='{"inbounds": ['), 1,
                 "the config file is not JSON"),
                (xray("run", "-c", config={"inbounds": [{
                    "protocol": "socks", "port": str(port)}]}), 1,
                 "port taken: 127.0.0.1:%d" % port)]:
            run = subprocess.run(command, capture_output=True,
                                 stdin=subprocess.DEVNULL, timeout=60)
            self.assertEqual(
                (run.returncode, run.stderr.decode().splitlines()),
                (code, ["xray stand-in: " + reason]))

        # The second is served while the first is open.
        echo_port = echo.server_address[1].to_bytes(2, "big")
        clients = [self.enterContext(socket.create_connection(
            ("127.0.0.1", port), 30)) for _ in range(2)]
        for client, address in zip(clients, [b"\x03\x09localhost", LOOPBACK]):
            client.sendall(GREETING + CONNECT + address + echo_port)
            self.assertEqual(receive(client, 2 + 10)[:4], b"\x05\x00\x05\x00")
        for client in clients:
            client.sendall(b"through the stand-in")
            client.shutdown(socket.SHUT_WR)
            self.assertEqual(receive(client), b"through the stand-in")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
