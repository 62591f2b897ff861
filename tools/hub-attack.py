#!/usr/bin/env python3
"""Measures what cheap clients cost a velto-hub, from loopback.

    tools/hub-attack.py build/velto-hub [hub options...]

Starts the hub on a free port with a fresh SQLite database, then:
  uploads   192 anonymous uploads announcing 16 MiB, each sending its body
            (64 connections from each of 127.0.0.1, .2 and .3);
  downloads 120 GETs of a 15 MB track that never read the answer;
  pages     60 clients fetching a 15 MB track's page (and its outline)
            while /api/health is asked again and again from elsewhere.
  slow      an upload of 3.2 MB at 200 KB/s, longer than the request timeout;
  fds       40 connections over a descriptor limit lowered with prlimit.
Prints the hub's resident memory (peak and after), health's latency, how the
slow upload ends and the hub's CPU time while out of descriptors.
"""
import json
import os
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

MIB = 1 << 20
# The health loop may run at a higher priority (HEALTH_NICE=-10, as root), so that
# its figure is the hub's wait and not the clients' own on a busy machine.
HEALTH_PREFIX = ["nice", "-n", os.environ["HEALTH_NICE"]] if os.environ.get("HEALTH_NICE") else []


def rss(pid, field="VmRSS"):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) // 1024
    return 0


def reset_peak(pid):
    with open(f"/proc/{pid}/clear_refs", "w") as f:
        f.write("5")


HEALTH_LOOP = r"""
import socket, sys, time, os
port, stop = int(sys.argv[1]), sys.argv[2]
waits = []
while not os.path.exists(stop):
    t0 = time.monotonic()
    s = socket.create_connection(("127.0.0.1", port), timeout=60, source_address=("127.0.0.9", 0))
    s.sendall(b"GET /api/health HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
    while s.recv(65536):
        pass
    s.close()
    waits.append(time.monotonic() - t0)
    time.sleep(0.005)
waits.sort()
print(f"{len(waits)} {1000 * waits[len(waits) // 2]:.1f} {1000 * waits[-1]:.1f}")
"""


def request(port, method, path, headers=None, body=b"", source="127.0.0.1", timeout=60):
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout, source_address=(source, 0))
    head = f"{method} {path} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
    for k, v in (headers or {}).items():
        head += f"{k}: {v}\r\n"
    head += f"Content-Length: {len(body)}\r\n\r\n"
    s.sendall(head.encode() + body)
    data = b""
    while True:
        chunk = s.recv(1 << 16)
        if not chunk:
            break
        data += chunk
    s.close()
    status = int(data.split(b" ", 2)[1])
    return status, data.split(b"\r\n\r\n", 1)[1]


def big_track(size):
    count = (size - 40 - 12) // 16
    out = [struct.pack("<5d", -1.0, 0.0, 100.0, 300.0, 60.0), struct.pack("<ii", 1, count),
           struct.pack("<4d", -1000.0, 0.0, 2000.0, 0.0)]
    out += [struct.pack("<2d", 2000.0 - 3000.0 * i / (count - 3), -200.0) for i in range(count - 2)]
    out.append(struct.pack("<i", 0))
    return b"".join(out)


def main():
    hub = sys.argv[1]
    folder = tempfile.mkdtemp(prefix="velto-attack-")
    proc = subprocess.Popen([hub, "--listen", "127.0.0.1:0", "--db", folder + "/hub.sqlite", "--cache",
                             folder + "/cache", "--address-rate", "0", "--player-rate", "0"] + sys.argv[2:],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    port = int(proc.stdout.readline().rsplit(":", 1)[1])
    pid = proc.pid
    try:
        status, body = request(port, "POST", "/api/players", body=b'{"name": "Ann"}')
        token = json.loads(body)["token"]
        auth = {"X-Velto-Player": "Ann", "X-Velto-Token": token}
        track = big_track(15 * 1000 * 1000)
        status, body = request(port, "POST", "/api/tracks", dict(auth, **{"X-Velto-Name": "big.vlt"}), track)
        digest = json.loads(body)["digest"]
        time.sleep(1)
        print(f"start: {rss(pid)} MB resident")
        reset_peak(pid)

        # 192 anonymous uploads of 16 MiB at once.
        payload = b"x" * (16 * MIB)

        def upload(source):
            try:
                s = socket.create_connection(("127.0.0.1", port), timeout=30, source_address=(source, 0))
                s.sendall(f"POST /api/tracks HTTP/1.1\r\nHost: x\r\nX-Velto-Name: a.vlt\r\n"
                          f"Content-Length: {len(payload)}\r\n\r\n".encode())
                s.sendall(payload)
                s.recv(4096)
                s.close()
            except OSError:
                pass
        threads = [threading.Thread(target=upload, args=(f"127.0.0.{1 + i % 3}",)) for i in range(192)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        time.sleep(1)
        print(f"uploads: peak {rss(pid, 'VmHWM')} MB, after {rss(pid)} MB resident")
        reset_peak(pid)

        # 120 downloads of the 15 MB track that are never read.
        readers = []
        for i in range(120):
            s = socket.create_connection(("127.0.0.1", port), source_address=(f"127.0.0.{4 + i % 2}", 0))
            s.sendall(f"GET /api/tracks/{digest} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
            readers.append(s)
        time.sleep(3)
        print(f"downloads: peak {rss(pid, 'VmHWM')} MB, now {rss(pid)} MB resident with 120 unread")
        for s in readers:
            s.close()
        time.sleep(1)
        print(f"downloads: after {rss(pid)} MB resident")

        # 60 clients fetch the big track's page while health is asked.
        def page(i):
            source = f"127.0.0.{6 + i % 2}"
            request(port, "GET", f"/tracks/{digest}", source=source)
            request(port, "GET", f"/tracks/{digest}/outline.svg", source=source)
        cpu = sum(int(x) for x in open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()[11:13])
        stop = folder + "/stop"
        health = subprocess.Popen(HEALTH_PREFIX + [sys.executable, "-c", HEALTH_LOOP, str(port), stop], stdout=subprocess.PIPE,
                                  text=True)
        time.sleep(0.5)
        threads = [threading.Thread(target=page, args=(i,)) for i in range(60)]
        start = time.monotonic()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        took = time.monotonic() - start
        open(stop, "w").close()
        asked, median, slowest = health.communicate(timeout=120)[0].split()
        cpu = sum(int(x) for x in open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()[11:13]) - cpu
        print(f"pages: 60 in {took:.1f} s, hub CPU {cpu / os.sysconf('SC_CLK_TCK'):.2f} s; health asked "
              f"{asked} times, median {median} ms, slowest {slowest} ms")

        # 3.2 MB at 200 KB/s: 16 s, past a request timeout of 10 s.
        s = socket.create_connection(("127.0.0.1", port), timeout=120)
        s.sendall(f"POST /api/tracks HTTP/1.1\r\nHost: x\r\nX-Velto-Player: Ann\r\nX-Velto-Token: {token}\r\n"
                  f"X-Velto-Name: slow.vlt\r\nContent-Length: 3200000\r\n\r\n".encode())
        start = time.monotonic()
        try:
            for _ in range(160):
                s.sendall(b"x" * 20000)
                time.sleep(0.1)
            answer = s.recv(4096).split(b"\r\n", 1)[0].decode()
        except OSError as e:
            answer = f"cut off ({e.strerror})"
        s.close()
        print(f"slow upload: {answer or 'closed'} after {time.monotonic() - start:.1f} s")

        # Out of descriptors: a loop that spins takes a core.
        fds = len(os.listdir(f"/proc/{pid}/fd"))
        subprocess.run(["prlimit", f"--pid={pid}", f"--nofile={fds + 8}:"], check=True)
        many = [socket.create_connection(("127.0.0.1", port)) for _ in range(40)]
        time.sleep(0.3)
        cpu = sum(int(x) for x in open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()[11:13])
        time.sleep(3)
        cpu = sum(int(x) for x in open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()[11:13]) - cpu
        print(f"fds: hub CPU {cpu / os.sysconf('SC_CLK_TCK'):.2f} s in 3 s with 40 connections past its limit")
        for s in many:
            s.close()
    finally:
        proc.terminate()
        proc.wait(timeout=30)
        subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    main()
