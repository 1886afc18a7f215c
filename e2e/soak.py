#!/usr/bin/env python3
"""Soak: zorvane.exe from a scratch copy of the bundle under Wine, driven
through the stand-in engine's driver connection, through many cycles of
"startXray", "startXray" again on the same port and "stopXray", then many
calls of "getTrafficStats" and "getLogs". At checkpoints it records what a
leak would show: the host's handles and private bytes (read by the window
probe), the core processes left and whether the port is free after the stop.
Prints a table; exit code 1 when a figure grows beyond its bound, a core is
left over, the port stays taken or a call answers otherwise than it should.
"""

import argparse
import os
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hostkit  # noqa: E402

# The bounds, over the figures after the first quarter of the cycles, and of
# the calls. Before the first, Wine and the host still settle (caches, the
# first cores' bookkeeping); before the second, the stand-in engine, which
# lives in the host's process, fills its transcript to its 1000 lines, and
# the heap settles around getLogs' large answers. Past those points the host
# keeps only what its activity log gains, six short lines a cycle, and what
# the transcript still gains in the cycles: well under a mebibyte. A handle
# lost per cycle, or a hundred bytes lost per call, goes beyond them.
HANDLE_GROWTH = 8
PRIVATE_GROWTH = 1 << 20

NULL = b"\x00\x00"
PAGE = "served on 127.0.0.1, fetched through the core"


def traffic_reply_shape(reply):
    """The reply with its two doubles blanked: success, a map of two
    entries, "downKbps" then "upKbps", each double aligned to 8."""
    if len(reply) != 48:
        return reply
    return reply[:16] + bytes(8) + reply[24:40] + bytes(8)


TRAFFIC_SHAPE = (b"\x00\x0d\x02\x07\x08downKbps\x06\x00\x00" + bytes(8) +
                 b"\x07\x06upKbps\x06" + bytes(7) + bytes(8))


def log_reply(cycles):
    """The answer to "getLogs" after the cycles: success with a list (0C,
    its size in one byte, or FE and two bytes little-endian) of strings (07,
    one-byte size, the UTF-8 bytes): the installation's line, then per
    cycle the proxy's and the core's line of each start and of the stop."""
    cycle = ["پراکسی سیستم فعال شد", "Xray در ویندوز اجرا شد"] * 2 + [
        "پراکسی سیستم غیرفعال شد", "Xray متوقف شد"]
    lines = ["Xray پیش فرض نصب شد"] + cycle * cycles
    count = len(lines)
    size = (bytes([count]) if count < 254 else
            b"\xfe" + count.to_bytes(2, "little"))
    return b"\x00\x0c" + size + b"".join(
        bytes([7, len(line.encode())]) + line.encode() for line in lines)


class Soak:
    def __init__(self, wine, probe, host, port):
        self.wine, self.probe, self.host, self.port = wine, probe, host, port
        self.rows = []
        self.faults = []
        self.began = time.monotonic()

    def expect(self, what, actual, expected):
        if actual != expected and len(self.faults) < 20:
            self.faults.append("%s: %r, not %r" % (what, actual[:60]
                                                   if isinstance(actual, bytes)
                                                   else actual, expected))
        return actual == expected

    def usage(self):
        """handles, table handles, private bytes, pagefile bytes."""
        run = self.wine.run(self.probe, "usage", timeout=120)
        words = run.stdout.decode().split()
        if len(words) != 10 or words[0] != "usage":
            self.faults.append("probe: %s%s" % (
                run.stdout.decode(), run.stderr.decode()))
            return None
        return tuple(int(words[i]) for i in (3, 5, 7, 9))

    def record(self, phase):
        figures = self.usage()
        cores = len(hostkit.core_processes(self.host.folder))
        free = hostkit.port_is_free(self.port)
        spent = time.monotonic() - self.began
        self.rows.append((phase, figures, cores, free, spent))
        self.expect(phase + ", cores left", cores, 0)
        self.expect(phase + ", port free", free, True)

    def cycle(self, number, fetch):
        arguments = hostkit.start_arguments(self.port)
        self.expect("cycle %d start" % number,
                    self.host.call("startXray", arguments), NULL)
        self.expect("cycle %d restart" % number,
                    self.host.call("startXray", arguments), NULL)
        if fetch:
            self.expect("cycle %d, cores running" % number,
                        len(hostkit.core_processes(self.host.folder)), 1)
            self.expect("cycle %d, page" % number, hostkit.fetch_through_socks(
                self.port, fetch.port), ("HTTP/1.0 200 OK", PAGE))
        self.expect("cycle %d stop" % number, self.host.call("stopXray"), NULL)

    def calls(self, first, last):
        logs = self.host.call("getLogs")
        for number in range(first, last):
            self.expect("getTrafficStats %d" % number, traffic_reply_shape(
                self.host.call("getTrafficStats")), TRAFFIC_SHAPE)
            # Neither call adds to the log: every answer is the first one.
            self.expect("getLogs %d" % number, self.host.call("getLogs"), logs)

    def growth_faults(self, baseline, last):
        """Figures of the rows after row BASELINE up to row LAST that grew
        beyond the bounds."""
        bounds = (HANDLE_GROWTH, HANDLE_GROWTH, PRIVATE_GROWTH, PRIVATE_GROWTH)
        names = ("handles", "table handles", "private bytes", "pagefile bytes")
        base = self.rows[baseline][1]
        for phase, figures, _, _, _ in self.rows[baseline + 1:last + 1]:
            if base is None or figures is None:
                continue
            for name, before, now, bound in zip(names, base, figures, bounds):
                if now - before > bound:
                    self.faults.append("%s: %s grew from %d to %d (bound +%d)"
                                       % (phase, name, before, now, bound))


def print_table(rows, baselines):
    print("\n%-22s %8s %8s %10s %10s %6s %6s %8s" % (
        "after", "handles", "table", "private", "pagefile", "cores", "port",
        "seconds"))
    for phase, figures, cores, free, spent in rows:
        handles, table, private, pagefile = figures or ("?",) * 4
        kib = [v // 1024 if isinstance(v, int) else v for v in (private,
                                                                pagefile)]
        print("%-22s %8s %8s %7s KiB %6s KiB %6d %6s %8.0f" % (
            phase, handles, table, kib[0], kib[1], cores,
            "free" if free else "TAKEN", spent))
    print("\nhandles: GetProcessHandleCount; table: the handles the system's "
          "handle table lists for the host;\nprivate: PrivateUsage; pagefile: "
          "PagefileUsage (both the commit charge on Windows).")
    if any(row[1] and row[1][0] == 0 for row in rows):
        print("Wine answers 0 for GetProcessHandleCount and PrivateUsage of "
              "another process: table and pagefile\nare what Wine reports.")
    print("Bounds: over the rows '%s' (cycles) and '%s' (calls), handles +%d "
          "and private bytes +%d KiB;\nno core left, the port free."
          % (rows[baselines[0]][0], rows[baselines[1]][0], HANDLE_GROWTH,
             PRIVATE_GROWTH // 1024))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for name in ["--bundle", "--wine-run", "--prefix", "--scratch", "--probe"]:
        parser.add_argument(name, required=True)
    parser.add_argument("--core", help="xray.exe to ship in the copy "
                        "(default: the bundle's own)")
    parser.add_argument("--cycles", type=int, default=200)
    parser.add_argument("--calls", type=int, default=10000,
                        help="calls of each of getTrafficStats and getLogs")
    options = parser.parse_args()
    sys.stdout.reconfigure(line_buffering=True)
    checkpoint = max(1, options.cycles // 4)

    wine = hostkit.Wine(os.path.abspath(options.wine_run),
                        os.path.abspath(options.prefix), os.environ["DISPLAY"])
    wine.switch_proxy_off()
    scratch = os.path.abspath(options.scratch)
    folder = hostkit.fresh_copy(os.path.abspath(options.bundle), scratch,
                                "zorvane", core=options.core)
    probe = os.path.abspath(options.probe)
    # The real core reads config.json from its working directory before its
    # own folder: the host (whose directory the core inherits) runs from a
    # folder without one.
    os.chdir(scratch)
    port = hostkit.free_port()
    page_server = hostkit.PageServer(PAGE)
    print("== soak: %d cycles of start, restart on port %d and stop, then %d "
          "calls each of getTrafficStats and getLogs\n   host %s\n   core %s"
          % (options.cycles, port, options.calls, folder,
             options.core or "the bundle's own"))

    host = hostkit.Host(wine, folder)
    soak = Soak(wine, probe, host, port)
    try:
        wine.run(probe, "wait-visible", "60", timeout=120)
        soak.record("start")
        for number in range(1, options.cycles + 1):
            soak.cycle(number, page_server if number % checkpoint == 0
                       else None)
            if number % checkpoint == 0 or number == options.cycles:
                soak.record("%d cycles" % number)
                print("   %d cycles, %.0f s" % (number, soak.rows[-1][-1]))
        cycles_end = len(soak.rows) - 1
        soak.expect("the log", host.call("getLogs"),
                    log_reply(options.cycles))
        warm = max(1, options.calls // 4)
        for first, last in ((0, warm), (warm, options.calls)):
            soak.calls(first, last)
            soak.record("%d calls each" % last)
    finally:
        host.kill()
        page_server.stop()
    baselines = (1, cycles_end + 1)
    soak.growth_faults(baselines[0], cycles_end)
    soak.growth_faults(baselines[1], len(soak.rows) - 1)
    print_table(soak.rows, baselines)
    if soak.faults:
        print("\n== soak failed:\n   " + "\n   ".join(soak.faults))
        return 1
    print("\n== soak passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
