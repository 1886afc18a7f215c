#!/usr/bin/env python3
"""Driver for the stand-in flutter_windows.dll: plays the user interface.

The stand-in engine listens on 127.0.0.1:N when the host is started with the
argument --driver-port=N (0: a free port, announced on the host's standard
error as "flutter_windows stand-in: driver listening on 127.0.0.1:N").

Frames, both directions, integers big-endian:
    kind u8 | id u32 | channel length u16 | channel | payload length u32 | payload
Driver to engine:
    M  message for the host's handler of the channel; answered, same id, by
       R (reply, payload byte for byte, possibly empty), U (no handler),
       P (handler returned without replying; R or A may follow) or
       A (the engine stopped first; nothing follows)
    R  reply to a message the host sent (an M frame from the engine)
    T  transcript request; answered by T with the transcript text
    Q  close the host's window; answered by Q
    S  the stand-in's records (what it noticed of its use); answered by S
       with their text, one record a line
    C  claim the next message of the host's top-level window of a kind:
       payload message u32 | result i64; answered by C once in place
Engine to driver: the answers above, and M for messages the host sends.

As a module: Driver, HostProcess, encode_value/decode_value (standard codec)
and encode_method_call/decode_envelope (standard method codec).
From the command line:
    driver.py --port N send CHANNEL HEX       raw message, reply as hex
    driver.py --port N call CHANNEL METHOD [JSON-ARGUMENTS]
    driver.py --port N transcript
    driver.py --port N records
    driver.py --port N close
"""

import argparse
import collections
import json
import re
import socket
import struct
import subprocess
import sys
import threading
import time

ANSWER_KINDS = {b"R": "reply", b"U": "unhandled", b"P": "pending",
                b"A": "abandoned"}

Answer = collections.namedtuple("Answer", "kind id data")


# --- standard message codec -------------------------------------------------

def _write_size(out, size):
    if size < 254:
        out.append(size)
    elif size <= 0xFFFF:
        out.append(254)
        out += struct.pack("<H", size)
    else:
        out.append(255)
        out += struct.pack("<I", size)


def _align(out, alignment):
    while len(out) % alignment:
        out.append(0)


def _write_value(out, value):
    if value is None:
        out.append(0)
    elif value is True:
        out.append(1)
    elif value is False:
        out.append(2)
    elif isinstance(value, int):
        if -2**31 <= value < 2**31:
            out.append(3)
            out += struct.pack("<i", value)
        else:
            out.append(4)
            out += struct.pack("<q", value)
    elif isinstance(value, float):
        out.append(6)
        _align(out, 8)
        out += struct.pack("<d", value)
    elif isinstance(value, str):
        data = value.encode("utf-8")
        out.append(7)
        _write_size(out, len(data))
        out += data
    elif isinstance(value, (bytes, bytearray)):
        out.append(8)
        _write_size(out, len(value))
        out += value
    elif isinstance(value, (list, tuple)):
        out.append(12)
        _write_size(out, len(value))
        for item in value:
            _write_value(out, item)
    elif isinstance(value, dict):
        out.append(13)
        _write_size(out, len(value))
        for key, item in value.items():
            _write_value(out, key)
            _write_value(out, item)
    else:
        raise TypeError("no standard-codec form for %r" % (value,))


def encode_value(value, prefix=b""):
    """The value's bytes after prefix; float alignment counts from the start
    of the whole message, prefix included."""
    out = bytearray(prefix)
    _write_value(out, value)
    return bytes(out)


class _Reader:
    TYPED = {8: ("B", 1), 9: ("i", 4), 10: ("q", 8), 11: ("d", 8),
             14: ("f", 4)}

    def __init__(self, data):
        self.data = bytes(data)
        self.pos = 0

    def take(self, count):
        if self.pos + count > len(self.data):
            raise ValueError("message ends inside a value")
        chunk = self.data[self.pos:self.pos + count]
        self.pos += count
        return chunk

    def size(self):
        first = self.take(1)[0]
        if first < 254:
            return first
        return struct.unpack("<H" if first == 254 else "<I",
                             self.take(2 if first == 254 else 4))[0]

    def align(self, alignment):
        self.pos += (-self.pos) % alignment

    def value(self):
        kind = self.take(1)[0]
        if kind in (0, 1, 2):
            return (None, True, False)[kind]
        if kind == 3:
            return struct.unpack("<i", self.take(4))[0]
        if kind == 4:
            return struct.unpack("<q", self.take(8))[0]
        if kind == 6:
            self.align(8)
            return struct.unpack("<d", self.take(8))[0]
        if kind in (5, 7):
            return self.take(self.size()).decode("utf-8")
        if kind in self.TYPED:
            code, width = self.TYPED[kind]
            count = self.size()
            self.align(width)
            raw = self.take(count * width)
            return raw if kind == 8 else list(struct.unpack("<%d%s" % (count, code), raw))
        if kind == 12:
            return [self.value() for _ in range(self.size())]
        if kind == 13:
            return dict((self.value(), self.value()) for _ in range(self.size()))
        raise ValueError("unknown type code %d" % kind)


def decode_value(data):
    reader = _Reader(data)
    value = reader.value()
    if reader.pos != len(reader.data):
        raise ValueError("bytes left after the value")
    return value


def encode_method_call(method, arguments=None):
    return encode_value(arguments, encode_value(method))


def decode_envelope(data):
    """("success", value), ("error", code, message, details) or
    ("not_implemented",) for the empty reply."""
    if not data:
        return ("not_implemented",)
    reader = _Reader(data)
    flag = reader.take(1)[0]
    if flag == 0:
        result = ("success", reader.value())
    elif flag == 1:
        result = ("error", reader.value(), reader.value(), reader.value())
    else:
        raise ValueError("not an envelope")
    if reader.pos != len(reader.data):
        raise ValueError("bytes left after the envelope")
    return result


# --- the connection ---------------------------------------------------------

def encode_frame(kind, frame_id, channel=b"", payload=b""):
    if isinstance(channel, str):
        channel = channel.encode("utf-8")
    return (kind + struct.pack(">IH", frame_id, len(channel)) + channel +
            struct.pack(">I", len(payload)) + bytes(payload))


class Driver:
    """One connection to the stand-in engine. Not thread-safe.

    on_message(channel, data) answers the host's own messages: it returns the
    reply bytes, or None to leave the message unanswered. The default
    answers every one with an empty reply."""

    def __init__(self, port, timeout=10.0, connect_timeout=10.0):
        deadline = time.monotonic() + connect_timeout
        while True:
            try:
                self.sock = socket.create_connection(("127.0.0.1", port),
                                                     timeout=timeout)
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.1)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.timeout = timeout
        self.next_id = 1
        self.answers = collections.defaultdict(collections.deque)
        self.received = bytearray()
        self.on_message = lambda channel, data: b""

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def post(self, channel, data):
        """Sends a message without waiting; returns its id."""
        frame_id = self._new_id()
        self.sock.sendall(encode_frame(b"M", frame_id, channel, data))
        return frame_id

    def send(self, channel, data, timeout=None):
        """Sends a message and returns its first answer (reply, unhandled,
        pending or abandoned)."""
        return self.wait(self.post(channel, data), timeout)

    def wait(self, frame_id, timeout=None):
        """The next answer for the id: after "pending", the reply or
        "abandoned" that may follow."""
        return self._answer(frame_id, timeout)

    def call(self, channel, method, arguments=None, timeout=None):
        """A method call with the standard method codec; the decoded envelope
        (see decode_envelope), or the answer itself when it is no reply."""
        answer = self.send(channel, encode_method_call(method, arguments),
                           timeout)
        return decode_envelope(answer.data) if answer.kind == "reply" else answer

    def transcript(self, timeout=None):
        frame_id = self._new_id()
        self.sock.sendall(encode_frame(b"T", frame_id))
        return self._answer(frame_id, timeout).data.decode("utf-8")

    def records(self, timeout=None):
        """The stand-in's records, one string per record."""
        frame_id = self._new_id()
        self.sock.sendall(encode_frame(b"S", frame_id))
        return self._answer(frame_id, timeout).data.decode("utf-8").splitlines()

    def claim(self, message, result, timeout=None):
        """The engine answers the next top-level window message of this kind
        itself, with result; returns once the claim is in place."""
        frame_id = self._new_id()
        self.sock.sendall(encode_frame(b"C", frame_id, b"",
                                       struct.pack(">Iq", message, result)))
        self._answer(frame_id, timeout)

    def close_window(self, timeout=None):
        frame_id = self._new_id()
        self.sock.sendall(encode_frame(b"Q", frame_id))
        self._answer(frame_id, timeout)

    def _new_id(self):
        frame_id = self.next_id
        self.next_id += 1
        return frame_id

    def _answer(self, frame_id, timeout):
        deadline = time.monotonic() + (timeout or self.timeout)
        while not self.answers[frame_id]:
            self._read_frame(deadline)
        return self.answers[frame_id].popleft()

    def _read_frame(self, deadline):
        kind, frame_id, channel, payload = self._frame(deadline)
        if kind == b"M":
            reply = self.on_message(channel.decode("utf-8"), payload)
            if reply is not None:
                self.sock.sendall(encode_frame(b"R", frame_id, b"", reply))
        else:
            name = ANSWER_KINDS.get(kind, kind.decode("latin-1"))
            self.answers[frame_id].append(Answer(name, frame_id, payload))

    def _frame(self, deadline):
        header = self._exactly(7, deadline)
        channel_size = struct.unpack(">H", header[5:7])[0]
        channel = self._exactly(channel_size, deadline)
        size = struct.unpack(">I", self._exactly(4, deadline))[0]
        payload = self._exactly(size, deadline)
        return (header[0:1], struct.unpack(">I", header[1:5])[0], channel,
                payload)

    def _exactly(self, count, deadline):
        while len(self.received) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no answer from the stand-in engine")
            self.sock.settimeout(left)
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("the stand-in engine closed the connection")
            self.received += chunk
        data = bytes(self.received[:count])
        del self.received[:count]
        return data


# --- a host under Wine ------------------------------------------------------

class HostProcess:
    """A host started under Wine with --driver-port=0; port is the driver
    port it announced. Standard output and error are collected."""

    PORT_LINE = re.compile(rb"driver listening on 127\.0\.0\.1:(\d+)")

    def __init__(self, command, timeout=60.0):
        self.process = subprocess.Popen(
            command + ["--driver-port=0"], stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.stdout = bytearray()
        self.stderr = bytearray()
        self.port = None
        self._announced = threading.Event()
        self._readers = [
            threading.Thread(target=self._collect,
                             args=(self.process.stdout, self.stdout),
                             daemon=True),
            threading.Thread(target=self._collect,
                             args=(self.process.stderr, self.stderr),
                             daemon=True)]
        for reader in self._readers:
            reader.start()
        if not self._announced.wait(timeout) or self.port is None:
            self.kill()
            raise TimeoutError("the host announced no driver port; stderr: %r"
                               % bytes(self.stderr))

    def _collect(self, stream, into):
        for line in iter(stream.readline, b""):
            into += line
            match = self.PORT_LINE.search(line)
            if match and self.port is None:
                self.port = int(match.group(1))
                self._announced.set()
        self._announced.set()

    def wait(self, timeout=60.0):
        code = self.process.wait(timeout)
        for reader in self._readers:
            reader.join(timeout)
        return code

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--timeout", type=float, default=30.0)
    commands = parser.add_subparsers(dest="command", required=True)
    send = commands.add_parser("send", help="send raw bytes given in hex")
    send.add_argument("channel")
    send.add_argument("hex", nargs="*", help="the bytes, spaces allowed")
    call = commands.add_parser("call", help="call a method (standard codec)")
    call.add_argument("channel")
    call.add_argument("method")
    call.add_argument("arguments", nargs="?", default="null",
                      help="JSON; null by default")
    commands.add_parser("transcript", help="print the transcript")
    commands.add_parser("records", help="print the stand-in's records")
    commands.add_parser("close", help="close the host's window")
    options = parser.parse_args(argv)

    with Driver(options.port, timeout=options.timeout) as driver:
        if options.command == "send":
            answer = driver.send(options.channel,
                                 bytes.fromhex("".join(options.hex)))
            print("%s, %d bytes %s" % (answer.kind, len(answer.data),
                                       answer.data.hex(" ")))
        elif options.command == "call":
            print(driver.call(options.channel, options.method,
                              json.loads(options.arguments)))
        elif options.command == "transcript":
            sys.stdout.write(driver.transcript())
        elif options.command == "records":
            print("\n".join(driver.records()))
        else:
            driver.close_window()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
