#!/usr/bin/env python3
"""Hostile clients for the clip server, driven by hostile.sh.

Keeps SLOTS hostile connections open against 127.0.0.1:PORT for SECONDS, each
slot reconnecting as soon as the server drops it, while one well-behaved client
(a process of its own) fetches the clip in a loop and compares every byte. Half the hostile slots come
from one address (127.0.0.2), the other half each from an address of its own
(127.1.x.y), as a flood from one machine and from many would.

Prints one line per figure on standard output; samples the server's descriptors
and memory (/proc/PID) ten times a second.
"""
import json
import os
import random
import selectors
import socket
import struct
import sys
import time

port, server_pid, clip_path, slots, seconds = (
    int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], int(sys.argv[4]), float(sys.argv[5]))
clip = open(clip_path, "rb").read()
good_timeout = 10.0

KINDS = ["half-open", "slow head", "70 KB head", "garbage", "many ranges", "pipelined",
         "reset before body", "reset during body", "never reads", "idle"]


def request(extra=b""):
    return b"GET /clip.m4a HTTP/1.1\r\nHost: x\r\n" + extra + b"\r\n"


def server_figures():
    try:
        fds = len(os.listdir(f"/proc/{server_pid}/fd"))
        with open(f"/proc/{server_pid}/status") as status:
            rss = next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))
        return fds, rss
    except (OSError, StopIteration):
        return 0, 0


def kernel_tcp_pages():
    with open("/proc/net/sockstat") as stat:
        for line in stat:
            if line.startswith("TCP:"):
                fields = line.split()
                return int(fields[fields.index("mem") + 1])
    return 0


class Hostile:
    """One hostile slot: a connection that misbehaves in the way of its kind."""

    def __init__(self, index, selector):
        self.index = index
        self.kind = KINDS[index % len(KINDS)]
        self.source = "127.0.0.2" if index % 2 == 0 else f"127.1.{index // 250}.{index % 250 + 1}"
        self.selector = selector
        self.sock = None
        self.connections = 0

    def open(self, now):
        self.close()
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if self.kind == "never reads":
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        try:
            sock.bind((self.source, 0))
            sock.setblocking(False)
            sock.connect_ex(("127.0.0.1", port))
        except OSError:
            sock.close()
            self.next_action = now + 0.2
            return
        self.sock = sock
        self.connections += 1
        self.step = 0
        self.received = 0
        self.next_action = now + 0.05  # once connected
        self.selector.register(sock, selectors.EVENT_READ, self)

    def close(self, reset=False):
        if self.sock is None:
            return
        if reset:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        try:
            self.selector.unregister(self.sock)
        except (KeyError, ValueError):
            pass
        self.sock.close()
        self.sock = None

    def send(self, data):
        try:
            self.sock.send(data)
        except OSError:
            pass

    def act(self, now):
        """Timed behaviour; returns when to be called again."""
        if self.sock is None:
            self.open(now)
            return
        kind, step = self.kind, self.step
        self.step += 1
        if kind == "half-open" and step == 0:
            try:
                self.sock.shutdown(socket.SHUT_WR)
            except OSError:
                pass
        elif kind == "slow head":
            self.send(b"GET / HTTP/1.1\r\nX-Slow: "[step:step + 1] if step < 24 else b"a")
            self.next_action = now + 0.5
            return
        elif kind == "70 KB head" and step == 0:
            self.send(b"GET / HTTP/1.1\r\nX: " + b"a" * 70000)
        elif kind == "garbage" and step == 0:
            self.send(bytes(random.getrandbits(8) for _ in range(512)) + b"\r\n\r\n")
        elif kind == "many ranges" and step == 0:
            lines = b"".join(b"Range: bytes=%d-%d\r\n" % (i, i + 9) for i in range(2500))
            self.send(request(lines))
        elif kind == "pipelined" and step == 0:
            self.send(request() * 200)
        elif kind == "reset before body" and step == 0:
            self.send(request())
            self.close(reset=True)
            self.next_action = now + 0.01
            return
        elif kind == "never reads" and step == 0:
            self.send(request())
        self.next_action = now + 3600

    def readable(self, now):
        try:
            data = self.sock.recv(65536)
        except OSError:
            data = b""
        if not data:
            # The server let go: come back at once, as a flood does.
            self.close()
            self.next_action = now
            return
        self.received += len(data)
        if self.kind == "reset during body" and self.received > 1000:
            self.close(reset=True)
            self.next_action = now


def good_client(seconds, report):
    """The well-behaved client, in a process of its own: one GET after another
    on a fresh connection, each compared byte for byte; writes its tally to `report`."""
    attempted = completed = 0
    failures = {}
    slowest = 0.0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        attempted += 1
        started = time.monotonic()
        outcome = "ok"
        received = bytearray()
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=good_timeout,
                                          source_address=("127.0.0.1", 0)) as sock:
                sock.sendall(b"GET /clip.m4a HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                while True:
                    data = sock.recv(1 << 20)
                    if not data:
                        break
                    received += data
        except socket.timeout:
            outcome = "timed out"
        except ConnectionResetError:
            outcome = "reset"
        except OSError as error:
            outcome = f"error {error.errno}"
        if outcome == "ok":
            head, _, body = bytes(received).partition(b"\r\n\r\n")
            if not head:
                outcome = "closed without an answer"
            elif not head.startswith(b"HTTP/1.1 200 "):
                outcome = "wrong status"
            elif body != clip:
                outcome = "short body" if len(body) < len(clip) else "wrong body"
        if outcome == "ok":
            completed += 1
            slowest = max(slowest, time.monotonic() - started)
        else:
            failures[outcome] = failures.get(outcome, 0) + 1
    os.write(report, json.dumps([attempted, completed, failures, slowest]).encode())
    os.close(report)


def main():
    import resource
    resource.setrlimit(resource.RLIMIT_NOFILE, (slots + 256, resource.getrlimit(resource.RLIMIT_NOFILE)[1]))
    selector = selectors.DefaultSelector()
    start = time.monotonic()
    before_fds, before_rss = server_figures()
    before_tcp = kernel_tcp_pages()
    hostiles = [Hostile(i, selector) for i in range(slots)]
    for h in hostiles:
        h.next_action = start + (h.index / slots) * 1.0  # open them over one second
    reading, writing = os.pipe()
    child = os.fork()
    if child == 0:
        os.close(reading)
        time.sleep(1.0)  # once the flood is in place
        good_client(seconds - 1.0, writing)
        os._exit(0)
    os.close(writing)
    peak_fds, peak_rss, peak_tcp = before_fds, before_rss, before_tcp
    next_sample = start
    end = start + seconds
    while True:
        now = time.monotonic()
        if now >= end:
            break
        for h in hostiles:
            if h.next_action <= now:
                h.act(now)
        if now >= next_sample:
            fds, rss = server_figures()
            peak_fds, peak_rss = max(peak_fds, fds), max(peak_rss, rss)
            peak_tcp = max(peak_tcp, kernel_tcp_pages())
            next_sample = now + 0.1
        for key, _ in selector.select(timeout=0.02):
            key.data.readable(time.monotonic())
    # Stop the flood; a good fetch under way may still finish.
    for h in hostiles:
        h.close()
    tally = b""
    while chunk := os.read(reading, 4096):
        tally += chunk
    os.waitpid(child, 0)
    attempted, completed, failures, slowest = json.loads(tally)
    opened = sum(h.connections for h in hostiles)
    print(f"hostile connections: {slots} at a time, {opened} opened in {seconds:.0f} s "
          f"({', '.join(KINDS)})")
    print(f"good fetches completed/attempted: {completed}/{attempted} (slowest {slowest * 1000:.0f} ms)")
    for outcome, count in sorted(failures.items()):
        print(f"  failed, {outcome}: {count}")
    print(f"server descriptors: before {before_fds}, peak {peak_fds}")
    print(f"server memory (RSS): before {before_rss} KiB, peak during {peak_rss} KiB")
    print(f"kernel TCP memory: before {before_tcp * 4} KiB, peak during {peak_tcp * 4} KiB")
    sys.stdout.flush()


main()
