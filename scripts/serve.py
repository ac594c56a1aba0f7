"""A small HTTP server for the demo and the benchmarks: serves one folder on 127.0.0.1.

    serve.py ROOT PORTFILE [--rate BYTES_PER_SECOND] [--slow-suffix .7z]

The chosen port is written to PORTFILE. With --rate, files whose name ends with the slow suffix
are sent at that rate (so a download can be watched); everything else goes out at full speed.
"""
import argparse
import http.server
import os
import socketserver
import sys
import time


class Handler(http.server.BaseHTTPRequestHandler):
    root = "."
    rate = 0
    slow_suffix = ".7z"

    def log_message(self, fmt, *args):  # quiet
        pass

    def do_GET(self):
        path = os.path.normpath(os.path.join(self.root, self.path.split("?")[0].lstrip("/")))
        if not path.startswith(os.path.abspath(self.root)) or not os.path.isfile(path):
            body = b"<html><body>404 Not Found</body></html>"
            self.send_response(404)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        size = os.path.getsize(path)
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.send_header("Content-Type", "application/octet-stream")
        self.end_headers()
        with open(path, "rb") as f:
            if self.rate and path.endswith(self.slow_suffix):
                chunk = max(1024, self.rate // 20)
                while True:
                    block = f.read(chunk)
                    if not block:
                        break
                    self.wfile.write(block)
                    time.sleep(len(block) / self.rate)
            else:
                self.wfile.flush()
                self.connection.sendfile(f)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    p = argparse.ArgumentParser()
    p.add_argument("root")
    p.add_argument("portfile")
    p.add_argument("--rate", type=int, default=0)
    p.add_argument("--slow-suffix", default=".7z")
    a = p.parse_args()
    Handler.root = os.path.abspath(a.root)
    Handler.rate = a.rate
    Handler.slow_suffix = a.slow_suffix
    server = Server(("127.0.0.1", 0), Handler)
    with open(a.portfile + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(a.portfile + ".tmp", a.portfile)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
