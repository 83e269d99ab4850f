#!/usr/bin/python3
"""A raw HTTP server for the client tests, for answers a well-behaved server never gives.
Prints "PORT <n>" once listening; exits when its standard input closes.

  /echo            200, the request's lines (and a posted body) as a text/plain body
  /redirect        302 to /target.txt          /loop      302 to itself
  /noheader        no status line, no header: an HTML page, then close
  /longline        a header line of 10000 bytes
  /endless-header  header lines without end
  /truncated       a body shorter than its Content-Length
  /missing         404 Not Found
  /page.cgi        text/html                   /prog.exe  text/html
  /slow            waits 5 s before answering
  anything else    the file of that name in --dir, or 404
"""
import argparse
import os
import socketserver
import sys
import threading
import time


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        lines = []
        while True:
            raw = self.rfile.readline(65536)
            if not raw:
                return
            line = raw.decode("latin-1").rstrip("\r\n")
            if not line:
                break
            lines.append(line)
        if not lines:
            return
        parts = lines[0].split()
        path = parts[1] if len(parts) > 1 else "/"
        if "://" in path:
            path = "/" + path.split("://", 1)[1].split("/", 1)[-1]
        length = 0
        for l in lines[1:]:
            name, _, value = l.partition(":")
            if name.strip().lower() == "content-length" and value.strip().isdigit():
                length = int(value.strip())
        self.body = self.rfile.read(length) if length else b""
        out = self.answer(path.split("?")[0], lines)
        try:
            self.wfile.write(out)
        except OSError:
            pass

    def answer(self, path, lines):
        if path == "/echo":
            body = "".join(l + "\r\n" for l in lines).encode("latin-1") + self.body
            return (b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n"
                    % len(body)) + body
        if path == "/redirect":
            return b"HTTP/1.0 302 Found\r\nLocation: /target.txt\r\n\r\n"
        if path == "/loop":
            return b"HTTP/1.0 302 Found\r\nLocation: /loop\r\n\r\n"
        if path == "/noheader":
            return b"<HTML><BODY>No header here</BODY></HTML>\r\n"
        if path == "/longline":
            return b"HTTP/1.0 200 OK\r\nX-Long: " + b"a" * 10000 + b"\r\n\r\nbody"
        if path == "/endless-header":
            try:
                self.wfile.write(b"HTTP/1.0 200 OK\r\n")
                for _ in range(4 * 1024 * 1024):  # at most 64 MiB
                    self.wfile.write(b"X-More: header line\r\n")
            except OSError:
                pass
            return b""
        if path == "/truncated":
            return b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\nonly this"
        if path == "/missing":
            return b"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>gone</html>"
        if path in ("/page.cgi", "/prog.exe"):
            return b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>page</html>"
        if path == "/slow":
            time.sleep(5)
            return b"HTTP/1.0 200 OK\r\n\r\nlate"
        name = os.path.join(self.server.dir, path.lstrip("/"))
        if ".." in path or not os.path.isfile(name):
            return b"HTTP/1.0 404 Not Found\r\n\r\n"
        with open(name, "rb") as f:
            body = f.read()
        return (b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
                b"Content-Length: %d\r\n\r\n" % len(body)) + body


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--dir", required=True)
    opts = p.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.dir = opts.dir
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdout.write("PORT %d\n" % server.server_address[1])
    sys.stdout.flush()
    while sys.stdin.read(1):
        pass
    os._exit(0)


if __name__ == "__main__":
    main()
