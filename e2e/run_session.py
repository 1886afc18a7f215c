#!/usr/bin/env python3
"""The short session that scripts/run shows: zorvane.exe from a copy of the
bundle under Wine, driven through the stand-in engine's driver connection as
the user interface would drive it. Prints each call and its decoded reply,
fetches a page through the core's SOCKS5 service, saves a screenshot of the
window and closes it. Exit code 0 when every step went as it should and the
host exited with 0."""

import argparse
import json
import os
import subprocess
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hostkit  # noqa: E402
from hostkit import driver  # noqa: E402


def show(value, indent="   "):
    """The decoded value as JSON, Persian text as it is."""
    text = json.dumps(value, ensure_ascii=False, indent=1 if
                      isinstance(value, list) and len(value) > 1 else None)
    return text.replace("\n", "\n" + indent)


class Session:
    def __init__(self, host):
        self.host = host
        self.failures = []

    def call(self, method, arguments=None, expect="success"):
        print("-> %s(%s)" % (method, show(arguments) if arguments else ""))
        reply = driver.decode_envelope(self.host.call(method, arguments))
        if reply[0] == "success":
            print("<- success: " + show(reply[1]))
        elif reply[0] == "error":
            print("<- error %s: %s" % (reply[1], reply[2]))
        else:
            print("<- not implemented")
        if reply[0] != expect:
            self.failures.append(method)
        return reply


def screenshot(wine, probe, path):
    """The pixels of the window's client area, where the engine's view is,
    from the X display; the area's size, or None. (Without a window manager
    nothing draws the frame around it.)"""
    client = wine.run(probe, "client", timeout=120).stdout.decode().split()
    crop = []
    if len(client) == 5 and client[0] == "client":
        left, top, width, height = client[1:]
        crop = ["-crop", "%sx%s+%s+%s" % (width, height, left, top), "+repage"]
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    # A palette of 64 colours keeps the file small; the transcript is text.
    run = subprocess.run(["import", "-display", os.environ["DISPLAY"],
                          "-window", "root"] + crop +
                         ["-colors", "64", "PNG8:" + path],
                         capture_output=True, timeout=120)
    if run.returncode != 0:
        print("screenshot failed: " + run.stderr.decode("utf-8", "replace"))
        return None
    return "%sx%s" % (client[3], client[4]) if crop else "whole screen"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for name in ["--bundle", "--wine-run", "--prefix", "--scratch", "--probe",
                 "--screenshot"]:
        parser.add_argument(name, required=True)
    parser.add_argument("--real-core", help="shipped in place of the "
                        "bundle's stand-in core")
    options = parser.parse_args()
    sys.stdout.reconfigure(encoding="utf-8", line_buffering=True)

    wine = hostkit.Wine(options.wine_run, options.prefix,
                        os.environ["DISPLAY"])
    # The stand-in engine draws its transcript in Courier New, which has no
    # Persian letters under Wine; DejaVu Sans Mono has.
    wine.run("reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v",
             "Courier New", "/t", "REG_SZ", "/d", "DejaVu Sans Mono", "/f")
    wine.switch_proxy_off()
    folder = hostkit.fresh_copy(options.bundle, options.scratch, "zorvane",
                                core=options.real_core)
    page_server = hostkit.PageServer(
        "<h1>Hello from 127.0.0.1</h1>\n<p>سلام! This page came through "
        "the core's SOCKS5 service.</p>\n")
    port = 10808 if hostkit.port_is_free(10808) else hostkit.free_port()

    print("== zorvane.exe under Wine on display %s, from %s, its core %s"
          % (os.environ["DISPLAY"], folder, "v2ray (" + options.real_core +
             ")" if options.real_core else "the stand-in"))
    host = hostkit.Host(wine, folder)
    session = Session(host)
    try:
        print("   driver connection on 127.0.0.1:%d\n" % host.process.port)
        waited = wine.run(options.probe, "wait-visible", "60", timeout=120)
        print("   window %s after its first frame\n"
              % waited.stdout.decode().strip())

        session.call("checkXrayInstalled")
        session.call("getXrayVersion")
        session.call("getTrafficStats")
        session.call("startXray", hostkit.start_arguments(port))

        enabled, server, _ = wine.proxy_settings()
        print("\n   system proxy: ProxyEnable %s, ProxyServer %s"
              % (enabled, server))
        url = "http://127.0.0.1:%d/" % page_server.port
        try:
            status, body = hostkit.fetch_through_socks(port, page_server.port)
            print("   GET %s through SOCKS5 127.0.0.1:%d: %s, %d bytes:\n"
                  % (url, port, status, len(body.encode("utf-8"))))
            print("".join("     | " + line + "\n"
                          for line in body.splitlines()))
            if status.split()[1:2] != ["200"]:
                session.failures.append("the page")
        except OSError as error:
            print("   GET %s through SOCKS5 127.0.0.1:%d failed: %s\n"
                  % (url, port, error))
            session.failures.append("the page")

        session.call("getTrafficStats")
        session.call("getLogs")
        session.call("stopXray")
        enabled, _, _ = wine.proxy_settings()
        print("\n   system proxy: ProxyEnable %s; xray.exe processes left: %d"
              % (enabled, len(hostkit.core_processes(folder))))
        session.call("getLogs")

        size = screenshot(wine, options.probe, options.screenshot)
        if size:
            print("\n== screenshot of the window's view (%s): %s"
                  % (size, options.screenshot))
        exit_code = host.close()
        print("== window closed; zorvane.exe exited with code %d" % exit_code)
    finally:
        host.kill()
        page_server.stop()
    if session.failures:
        print("== not as expected: " + ", ".join(session.failures))
        return 1
    return exit_code


if __name__ == "__main__":
    sys.exit(main())
