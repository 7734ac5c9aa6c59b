"""A static web server that answers HTTP range requests (206 Partial
Content), as the object stores and CDNs that host tile archives do; the
standard library's server sends whole files only. Every request's path,
Range header and status are logged for the tests to look at."""
import http.server
import os
import re
import threading


class RangeHandler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, directory=None, log=None, **kwargs):
        self._log = log
        super().__init__(*args, directory=directory, **kwargs)

    def end_headers(self):
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Access-Control-Allow-Origin", "*")
        super().end_headers()

    def log_message(self, *args):
        pass

    def do_GET(self):
        rng = self.headers.get("Range")
        path = self.translate_path(self.path)
        m = re.fullmatch(r"bytes=(\d+)-(\d*)", rng or "")
        if not m or not os.path.isfile(path):
            self._log.append((self.path, rng, 200))
            return super().do_GET()
        size = os.path.getsize(path)
        first = int(m.group(1))
        last = min(int(m.group(2)) if m.group(2) else size - 1, size - 1)
        if first >= size or last < first:
            self._log.append((self.path, rng, 416))
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % size)
            self.end_headers()
            return
        with open(path, "rb") as f:
            f.seek(first)
            body = f.read(last - first + 1)
        self._log.append((self.path, rng, 206))
        self.send_response(206)
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, size))
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class RangeServer:
    """Serves `folder` on a free port of 127.0.0.1 from a thread."""

    def __init__(self, folder):
        self.log = []
        handler = lambda *a, **k: RangeHandler(*a, directory=folder, log=self.log, **k)  # noqa: E731
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.url = "http://127.0.0.1:%d" % self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()
