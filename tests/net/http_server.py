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
  /dir/rel         302 to the relative reference "small.txt" (/dir/small.txt)
  /to-https        302 to https://.../target.txt   /to-ftp   302 to ftp://.../target.txt
  /chunked         a chunked body with an extension and a trailer
  /badchunk        a chunked body whose size is no number
  /cutchunk        a chunked body that ends before its last chunk
  /nostatus        header lines without a status line     /http2    "HTTP/2 200"
  /garbage         text that is no HTTP at all
  /continue        "100 Continue", then the real reply
  /overlong        a body longer than its Content-Length
  /lfonly          a reply whose lines end in LF alone
  /keepalive       a body of its Content-Length, then the connection stays open 10 s
  anything else    the file of that name in --dir, or 404
"""
import argparse
import os
import socket
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
        if path == "/dir/rel":
            return b"HTTP/1.0 302 Found\r\nLocation: small.txt\r\n\r\n"
        if path == "/dir/small.txt":
            return b"HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nsmall\n"
        if path in ("/to-https", "/to-ftp"):
            scheme = "https" if path == "/to-https" else "ftp"
            host = self.server.server_address[0]
            if ":" in host:
                host = "[" + host + "]"
            return (b"HTTP/1.0 301 Moved\r\nLocation: %s://%s:%d/target.txt\r\n\r\n"
                    % (scheme.encode(), host.encode(), self.server.server_address[1]))
        if path == "/chunked":
            return (b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                    b"5\r\nhello\r\n7;name=value\r\n, world\r\n0\r\nX-Trailer: 1\r\n\r\n")
        if path == "/badchunk":
            return b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n"
        if path == "/cutchunk":
            return b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"
        if path == "/nostatus":
            return b"Content-Type: text/plain\r\n\r\nbody"
        if path == "/http2":
            return b"HTTP/2 200\r\n\r\nbody"
        if path == "/garbage":
            return b"SSH-2.0-OpenSSH_9.2\r\n"
        if path == "/continue":
            return (b"HTTP/1.1 100 Continue\r\n\r\n"
                    b"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nreal")
        if path == "/overlong":
            return b"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbodyEXTRA BYTES"
        if path == "/lfonly":
            return b"HTTP/1.0 200 OK\nContent-Type: text/plain\nContent-Length: 5\n\nlines"
        if path == "/keepalive":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nkept")
            self.wfile.flush()
            time.sleep(10)
            return b""
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
    p.add_argument("--ipv6", action="store_true", help="listen on ::1")
    opts = p.parse_args()
    if opts.ipv6:
        Server.address_family = socket.AF_INET6
    server = Server(("::1" if opts.ipv6 else "127.0.0.1", 0), Handler)
    server.dir = opts.dir
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdout.write("PORT %d\n" % server.server_address[1])
    sys.stdout.flush()
    while sys.stdin.read(1):
        pass
    os._exit(0)


if __name__ == "__main__":
    main()
