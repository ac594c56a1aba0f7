"""A small HTTP server for the demo and the benchmarks: serves one folder on 127.0.0.1.

    serve.py ROOT PORTFILE [--rate BYTES_PER_SECOND] [--slow-suffix .7z] [--cut-once FRACTION]
             [--log FILE] [--tls CERT KEY] [--redirect URL]

The chosen port is written to PORTFILE. Files carry an ETag and Last-Modified, and a Range
request of one range ("a-" or "a-b") whose If-Range matches (or that has none) gets a 206, as a
CDN answers. With --rate, files
whose name ends with the slow suffix are sent at that rate (so a download can be watched);
everything else goes out at full speed. With --cut-once, the first response for such a file stops
after that fraction of it and the connection drops. --log appends one line per request: the
path, the Range asked for, the status and the body bytes sent. --tls serves HTTPS with that
certificate chain and key (PEM). --redirect answers every request with a 302 to URL + its path.
"""
import argparse
import http.server
import os
import socketserver
import ssl
import sys
import time


class Handler(http.server.BaseHTTPRequestHandler):
    root = "."
    rate = 0
    slow_suffix = ".7z"
    cut_once = 0.0
    log = None
    cut_done = False
    redirect = None

    def log_message(self, fmt, *args):  # quiet
        pass

    def do_GET(self):
        if self.redirect:
            self.send_response(302)
            self.send_header("Location", self.redirect + self.path)
            self.send_header("Content-Length", "0")
            self.end_headers()
            self.note("", 302, 0)
            return
        path = os.path.normpath(os.path.join(self.root, self.path.split("?")[0].lstrip("/")))
        if not path.startswith(os.path.abspath(self.root)) or not os.path.isfile(path):
            body = b"<html><body>404 Not Found</body></html>"
            self.send_response(404)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        stat = os.stat(path)
        size = stat.st_size
        etag = '"%x-%x"' % (stat.st_mtime_ns, size)
        start, end = 0, size - 1
        status = 200
        wanted = self.headers.get("Range", "")
        if_range = self.headers.get("If-Range")
        first, dash, last = wanted[6:].partition("-")
        if (wanted.startswith("bytes=") and dash and first.isdigit() and (last == "" or last.isdigit())
                and (if_range is None or if_range == etag)):
            start = int(first)
            end = min(int(last), size - 1) if last else size - 1
            if start >= size or end < start:
                self.send_response(416)
                self.send_header("Content-Range", f"bytes */{size}")
                self.send_header("Content-Length", "0")
                self.end_headers()
                self.note(wanted, 416, 0)
                return
            status = 206
        self.send_response(status)
        self.send_header("Content-Length", str(end + 1 - start))
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("ETag", etag)
        self.send_header("Last-Modified", self.date_time_string(int(stat.st_mtime)))
        if status == 206:
            self.send_header("Content-Range", f"bytes {start}-{end}/{size}")
        self.end_headers()
        slow = path.endswith(self.slow_suffix)
        limit = end + 1 - start
        if slow and self.cut_once and not Handler.cut_done:
            Handler.cut_done = True
            limit = int(size * self.cut_once) - start
        sent = 0
        with open(path, "rb") as f:
            f.seek(start)
            chunk = max(1024, self.rate // 20) if self.rate and slow else 1 << 20
            try:
                while sent < limit:
                    block = f.read(min(chunk, limit - sent))
                    if not block:
                        break
                    self.wfile.write(block)
                    sent += len(block)
                    if self.rate and slow:
                        time.sleep(len(block) / self.rate)
            except (BrokenPipeError, ConnectionResetError):
                pass
        self.note(wanted, status, sent)
        if sent < end + 1 - start:
            self.close_connection = True
            self.connection.shutdown(2)

    def note(self, wanted, status, sent):
        if self.log:
            with open(self.log, "a") as f:
                f.write(f"{self.path} range={wanted or '-'} status={status} sent={sent}\n")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    p = argparse.ArgumentParser()
    p.add_argument("root")
    p.add_argument("portfile")
    p.add_argument("--rate", type=int, default=0)
    p.add_argument("--slow-suffix", default=".7z")
    p.add_argument("--cut-once", type=float, default=0.0)
    p.add_argument("--log")
    p.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    p.add_argument("--redirect")
    a = p.parse_args()
    Handler.root = os.path.abspath(a.root)
    Handler.rate = a.rate
    Handler.slow_suffix = a.slow_suffix
    Handler.cut_once = a.cut_once
    Handler.log = a.log
    Handler.redirect = a.redirect
    server = Server(("127.0.0.1", 0), Handler)
    if a.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(a.tls[0], a.tls[1])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    with open(a.portfile + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(a.portfile + ".tmp", a.portfile)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
