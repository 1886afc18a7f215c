#!/usr/bin/env python3
"""End to end against a real proxy core: zorvane.exe from copies of the bundle
whose shipped core is v2ray (built by scripts/real-core), under Wine in a
prefix and on a display of the suite's own, driven through the stand-in
engine's driver connection; every reply and log line written out by the
suites."""

import json
import os
import shutil
import socket
import sys
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "testing"))
import hostkit  # noqa: E402
import wine_suite  # noqa: E402
from wine_suite import (BUNDLED, DIED_AT_ONCE, INSTALLED, NULL, OVERRIDE,
                        PROXY_OFF, PROXY_ON, START_FAILED, STARTED, STOPPED,
                        TRUE, log_reply)

OPTIONS = WINE = STAGE = None
PAGE = "served on 127.0.0.1, fetched through v2ray"
OK = ("HTTP/1.0 200 OK", PAGE)
start = hostkit.start_arguments


def fetch(port, host="127.0.0.1"):
    return STAGE.fetch(port, host)


def refused(port):
    """Whether a connection to 127.0.0.1:PORT is refused."""
    try:
        socket.create_connection(("127.0.0.1", port), timeout=10).close()
    except ConnectionRefusedError:
        return True
    return False


def cores(folder):
    """The cores running from FOLDER's core folder, once three counts agree
    (Wine reports an ended process a moment late)."""
    counts = []
    hostkit.wait_until(lambda: counts.append(len(hostkit.core_processes(
        folder))) or counts[-3:] == counts[-1:] * 3, timeout=20, step=0.3)
    return counts[-1]


def copy_with_real_core(name):
    return hostkit.fresh_copy(OPTIONS.bundle, OPTIONS.scratch, name,
                              core=OPTIONS.real_core)


class RealCoreTest(unittest.TestCase):
    def test_core_life(self):
        """One host: the core installed, started, fetched through, restarted,
        moved, stopped, started again and failing to start."""
        folder = copy_with_real_core("life")
        first, second, held = (hostkit.free_port() for _ in range(3))

        def play(check, hosts):
            host = hostkit.Host(WINE, folder)
            hosts.append(host)

            def call(what, method, arguments, expected):
                check(method + ", " + what, host.call(method, arguments),
                      expected)

            call("empty core folder", "checkXrayInstalled", None, TRUE)
            call("shipped", "getXrayVersion", None, BUNDLED)
            call("first port", "startXray", start(first), NULL)
            check("page by address", fetch(first), OK)
            check("page by name", fetch(first, "localhost"), OK)
            check("proxy on", WINE.proxy_settings(),
                  ("0x1", "socks=127.0.0.1:%d" % first, OVERRIDE))
            call("same port again", "startXray", start(first), NULL)
            check("cores after the restart", cores(folder), 1)
            check("page after the restart", fetch(first), OK)
            call("another port while running", "startXray", start(second),
                 NULL)
            check("old port", refused(first), True)
            check("page on the new port", fetch(second), OK)
            check("cores after the move", cores(folder), 1)
            call("running", "stopXray", None, NULL)
            check("cores after the stop", cores(folder), 0)
            check("port after the stop", refused(second), True)
            check("proxy after the stop", WINE.proxy_settings()[0], "0x0")
            call("stopped", "stopXray", None, NULL)
            call("right after a stop", "startXray", start(second), NULL)
            check("page after stop and start", fetch(second), OK)
            check("proxy on again", WINE.proxy_settings()[0], "0x1")
            # v2ray exits at once on a syntax error. The running core was
            # ended for it, so the proxy must not point at its port.
            call("JSON syntax error", "startXray",
                 {"config": '{"inbounds": [', "localPort": second},
                 START_FAILED)
            check("cores after the syntax error", cores(folder), 0)
            check("proxy after the syntax error", WINE.proxy_settings()[0],
                  "0x0")
            with socket.socket() as listener:
                listener.bind(("127.0.0.1", held))
                listener.listen()
                call("port held by another listener", "startXray",
                     start(held), START_FAILED)
            check("cores after the held port", cores(folder), 0)
            call("the session's lines", "getLogs", None, log_reply(
                [INSTALLED, PROXY_ON, STARTED, PROXY_ON, STARTED, PROXY_ON,
                 STARTED, PROXY_OFF, STOPPED, PROXY_OFF, STOPPED, PROXY_ON,
                 STARTED, PROXY_OFF, DIED_AT_ONCE, DIED_AT_ONCE]))
            check("exit code", host.close(), 0)

        wine_suite.play_and_check(self, play)

    def test_core_left_by_an_earlier_host(self):
        """Host A's core outlives its window; host B from the same folder
        ends it on start and its own on stop. A core run from another copy
        of the bundle is never touched."""
        folder = copy_with_real_core("ab")
        other = copy_with_real_core("other")
        port, other_port = hostkit.free_port(), hostkit.free_port()

        def play(check, hosts):
            def host_in(where):
                hosts.append(hostkit.Host(WINE, where))
                return hosts[-1]

            host = host_in(other)
            check("other copy starts", host.call("startXray",
                                                 start(other_port)), NULL)
            check("other copy closes", host.close(), 0)
            host = host_in(folder)
            check("A starts", host.call("startXray", start(port)), NULL)
            check("A closes", host.close(), 0)
            check("A's core outlives A", cores(folder), 1)
            host = host_in(folder)
            check("B starts on A's port", host.call("startXray", start(port)),
                  NULL)
            check("cores after B's start", cores(folder), 1)
            check("page through B's core", fetch(port), OK)
            check("B stops", host.call("stopXray"), NULL)
            check("cores after B's stop", cores(folder), 0)
            check("port after B's stop", refused(port), True)
            check("the other copy's core", (cores(other), fetch(other_port)),
                  (1, OK))
            check("B closes", host.close(), 0)

        wine_suite.play_and_check(self, play)


def sign_in(command=None):
    """Runs COMMAND, by default the RunOnce value's, as sign-in would; its
    exit code."""
    command = command or WINE.sign_in_check()
    program, _, argument = command[1:].partition('" ')
    return WINE.run(program, argument).returncode


def start_on_every_address(port):
    """startXray's arguments for a core listening on 0.0.0.0:PORT, which
    v2ray serves from one dual-stack socket on [::]."""
    arguments = start(port)
    config = json.loads(arguments["config"])
    config["inbounds"][0]["listen"] = "0.0.0.0"
    arguments["config"] = json.dumps(config)
    return arguments


class DeadProxyTest(unittest.TestCase):
    def test_no_dead_proxy_is_left(self):
        """The host's own proxy goes off wherever nothing serves it and no
        connection is wanted: when a host starts, after a failed start that
        ended no core, and by the sign-in command. A live one, another
        program's and one a running core serves stay as they are."""
        folder = copy_with_real_core("dead-proxy")
        dead, held, served = (hostkit.free_port() for _ in range(3))
        command = '"%s" --check-proxy' % hostkit.windows_path(
            os.path.join(folder, "zorvane.exe"))
        bad_json = {"config": '{"inbounds": [', "localPort": held}
        proxy = WINE.proxy_settings

        def play(check, hosts):
            def host_on(enable, server):
                WINE.set_proxy(enable, server)
                hosts.append(hostkit.Host(WINE, folder))
                return hosts[-1]

            host = host_on(1, "socks=127.0.0.1:%d" % dead)
            check("a dead proxy at the start", proxy()[0], "0x0")
            check("on for a dead port", host.call(
                "setSystemProxy", {"enabled": True, "localPort": dead}), NULL)
            check("failed start, dead port", host.call(
                "startXray", dict(bad_json, localPort=dead)), START_FAILED)
            check("proxy after it", proxy()[0], "0x0")
            with socket.socket() as listener:
                listener.bind(("127.0.0.1", held))
                listener.listen()
                check("on for a live port", host.call(
                    "setSystemProxy", {"enabled": True, "localPort": held}),
                    NULL)
                check("failed start, live port", host.call(
                    "startXray", bad_json), START_FAILED)
                check("proxy after it", proxy()[:2],
                      ("0x1", "socks=127.0.0.1:%d" % held))
            check("core on 0.0.0.0", host.call(
                "startXray", start_on_every_address(served)), NULL)
            check("sign-in value while on", WINE.sign_in_check(), command)
            check("first host's lines", host.call("getLogs"), log_reply(
                [PROXY_OFF, PROXY_ON, INSTALLED, PROXY_OFF, DIED_AT_ONCE,
                 PROXY_ON, DIED_AT_ONCE, PROXY_ON, STARTED]))
            check("first host closes", host.close(), 0)

            host = hostkit.Host(WINE, folder)
            hosts.append(host)
            check("served on [::] at the next start", (
                host.call("getLogs"), proxy()[0]), (log_reply([]), "0x1"))
            check("sign-in value kept by a host with no core",
                  WINE.sign_in_check(), command)
            check("second host closes", host.close(), 0)

            check("sign-in with the core alive", sign_in(), 0)
            check("proxy and core after it", (proxy()[0], cores(folder),
                                               fetch(served)), ("0x1", 1, OK))
            hostkit.kill_processes(hostkit.core_processes(folder))
            check("sign-in after the core was killed", sign_in(), 0)
            check("proxy after it", proxy()[:2],
                  ("0x0", "socks=127.0.0.1:%d" % served))
            check("sign-in value untouched by the check",
                  WINE.sign_in_check(), command)

            with socket.socket() as listener:
                listener.bind(("127.0.0.1", held))
                listener.listen()
                host = host_on(1, "socks=127.0.0.1:%d" % held)
                check("a Linux listener's proxy at the start", (
                    host.call("getLogs"), proxy()[0]), (log_reply([]), "0x1"))
            check("started", host.call("startXray", start(served)), NULL)
            check("stopped", host.call("stopXray"), NULL)
            check("sign-in value after the stop", WINE.sign_in_check(), None)
            check("third host closes", host.close(), 0)

            host = host_on(1, "http=10.1.2.3:3128")
            check("another program's proxy at the start", (
                host.call("getLogs"), proxy()[:2]),
                (log_reply([]), ("0x1", "http=10.1.2.3:3128")))
            check("fourth host closes", host.close(), 0)

        wine_suite.play_and_check(self, play)


class WantedConnectionTest(unittest.TestCase):
    def test_another_hosts_connection_is_left_alone(self):
        """Two hosts from one folder. While the first wants a connection,
        the second's startXray and stopXray leave the first's core running;
        once that core died, a host started meanwhile and the sign-in command
        leave its dead proxy on, as the first still shows it connected.
        After the first's stopXray, a dead proxy goes off as before."""
        folder = copy_with_real_core("wanted")
        first_port, second_port = hostkit.free_port(), hostkit.free_port()
        own = "socks=127.0.0.1:%d" % first_port
        proxy = WINE.proxy_settings

        def play(check, hosts):
            def host():
                hosts.append(hostkit.Host(WINE, folder))
                return hosts[-1]

            first = host()
            check("first connects", first.call(
                "startXray", start(first_port)), NULL)
            second = host()
            check("second connects on another port", second.call(
                "startXray", start(second_port)), NULL)
            check("first's core after it", (cores(folder), fetch(first_port)),
                  (2, OK))
            check("second stops", second.call("stopXray"), NULL)
            check("first's core after the stop", (
                cores(folder), fetch(first_port)), (1, OK))
            check("second closes", second.close(), 0)
            # The stop switched the proxy off, as a stop does.
            check("first's proxy on again", first.call(
                "setSystemProxy", {"enabled": True, "localPort": first_port}),
                NULL)
            command = WINE.sign_in_check()
            hostkit.kill_processes(hostkit.core_processes(folder))
            check("first's core killed", cores(folder), 0)
            third = host()
            check("a host started meanwhile", (
                third.call("getLogs"), proxy()[:2]),
                (log_reply([]), ("0x1", own)))
            check("its close", third.close(), 0)
            check("sign-in meanwhile", (sign_in(command), proxy()[:2]),
                  (0, ("0x1", own)))
            check("first stops", first.call("stopXray"), NULL)
            WINE.set_proxy(1, own)
            check("sign-in after the first's stop", (
                sign_in(command), proxy()[0]), (0, "0x0"))
            check("first closes", first.close(), 0)

        wine_suite.play_and_check(self, play)


def setUpModule():
    global STAGE, WINE
    if not os.path.isfile(OPTIONS.real_core):
        raise RuntimeError(
            "no real core at %r: configure with -DZV_REAL_CORE=$(scripts/"
            "real-core), as scripts/test does" % OPTIONS.real_core)
    # v2ray reads config.json from its working directory before its own
    # folder, and the host hands the core its own working directory: run
    # from a folder without one, or the core would read that file instead.
    workdir = os.path.join(OPTIONS.scratch, "workdir")
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    os.chdir(workdir)
    STAGE = wine_suite.Stage(OPTIONS, 1280, 1024, PAGE)
    WINE = STAGE.wine


def tearDownModule():
    STAGE.stop()


if __name__ == "__main__":
    wine_suite.main("--bundle", "--wine-run", "--prefix", "--scratch",
                    "--real-core")
