#!/usr/bin/env python3
"""A bounded load test of `orvex serve` on 127.0.0.1: CLIENTS threads with
keep-alive connections ask for random tiles for SECONDS, first over every
zoom of the map (cold: mostly tiles never drawn), then among tiles already
drawn (warm). Prints tiles per second, median and 99th percentile latency,
errors and the server's peak memory. Exits 1 on any error.

Usage: serve_load.py ORVEX [MAP] [--clients N] [--seconds S] [--cache-mb N]"""
import argparse
import http.client
import random
import re
import signal
import subprocess
import sys
import threading
import time


def client(port, paths, until, out, salt):
    rng = random.Random(salt)
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    lat, errors = [], 0
    while time.monotonic() < until:
        path = rng.choice(paths)
        start = time.monotonic()
        try:
            conn.request("GET", path)
            r = conn.getresponse()
            body = r.read()
            if r.status != 200 or body[:4] != b"\x89PNG":
                errors += 1
        except (OSError, http.client.HTTPException):
            errors += 1
            conn.close()
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        lat.append(time.monotonic() - start)
    conn.close()
    out.append((lat, errors))


def phase(name, port, paths, clients, seconds):
    out, until = [], time.monotonic() + seconds
    threads = [threading.Thread(target=client, args=(port, paths, until, out, k)) for k in range(clients)]
    start = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    elapsed = time.monotonic() - start
    lat = sorted(x for l, _ in out for x in l)
    errors = sum(e for _, e in out)
    if not lat:
        print("%-5s no requests" % name)
        return 1
    print("%-5s %6d tiles in %4.1f s: %6.0f tiles/s, median %6.1f ms, p99 %6.1f ms, errors %d" % (
        name, len(lat), elapsed, len(lat) / elapsed, 1000 * lat[len(lat) // 2], 1000 * lat[int(len(lat) * 0.99)],
        errors))
    return errors


def status_kib(pid, field):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(field + r":\s+(\d+)", f.read()).group(1))


class AnonPeak(threading.Thread):
    """The server's largest anonymous memory (heap: inflated and drawn
    tiles), sampled; its resident total also counts each thread's mapping
    of the same map file, pages the kernel holds once."""

    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid, self.peak, self.done = pid, 0, False

    def run(self):
        while not self.done:
            try:
                self.peak = max(self.peak, status_kib(self.pid, "RssAnon"))
            except OSError:
                return
            time.sleep(0.2)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("orvex")
    ap.add_argument("map", nargs="?")
    ap.add_argument("--clients", type=int, default=16)
    ap.add_argument("--seconds", type=float, default=30)
    ap.add_argument("--cache-mb", type=int, default=256)
    a = ap.parse_args()
    a.seconds = min(a.seconds, 120)  # bounded whatever is asked
    args = [a.orvex, "serve", "--port", "0", "--cache-mb", str(a.cache_mb)] + ([a.map] if a.map else [])
    server = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
    try:
        line = server.stdout.readline()
        port = int(re.search(r"127\.0\.0\.1:(\d+)/", line).group(1))
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        conn.request("GET", "/maps")
        import json
        m = json.loads(conn.getresponse().read())["maps"][0]
        conn.close()
        name, top = m["name"], m["maxzoom"]
        every = ["/tiles/%s/%d/%d/%d.png" % (name, z, x, y) for z in range(top + 1)
                 for x in range(2 ** z) for y in range(2 ** z)]
        print("map %s, zooms 0-%d (%d tiles), %d clients, %.0f s a phase, cache %d MB" % (
            name, top, len(every), a.clients, a.seconds, a.cache_mb))
        anon = AnonPeak(server.pid)
        anon.start()
        errors = phase("cold", port, every, a.clients, a.seconds)
        warm = ["/tiles/%s/%d/%d/%d.png" % (name, z, x, y) for z in range(min(top, 4) + 1)
                for x in range(2 ** z) for y in range(2 ** z)]
        errors += phase("warm", port, warm, a.clients, a.seconds)
        anon.done = True
        print("server memory: peak resident %.1f MB, peak anonymous %.1f MB (cache budget %d MB)" % (
            status_kib(server.pid, "VmHWM") / 1024, anon.peak / 1024, a.cache_mb))
    finally:
        server.send_signal(signal.SIGINT)
        server.wait(timeout=30)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
