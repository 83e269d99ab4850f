#!/usr/bin/python3
"""A small CDDB server for the tests: the line protocol from level 1 up to level 6 ("proto"),
or with --http the CGI interface (GET PATH?cmd=...&hello=...&proto=N), serving a directory of
xmcd entry files laid out as DIR/category/discid. Entry files may be UTF-8 or ISO-8859-1; they
are sent in UTF-8 at level 6 and in ISO-8859-1 below it, as real servers do. Prints "PORT <n>"
once listening; exits when its standard input closes.

Switches for misbehaviour:
  --never-greet            accept connections but say nothing
  --close-mid-reply        multi-line replies: send the status line and half the text, then close
  --error-line             multi-line requests (read, sites, lscat) get one error line
  --endless-line CMD       answer CMD (greet, hello, query, read, sites, lscat) with an endless line
  --slow MS                wait MS milliseconds before every reply
  --split                  send every reply in two pieces, the first one inside the status line
  --force CMD=REPLY        answer CMD with the single line REPLY
  --no-sites               "sites" answers 401
  --max-level N            the highest level "proto" accepts (default 6)
  --greeting LINE          greet with LINE instead (a refusal such as 432 closes after it)
  --no-proto               "proto" is an unknown command (500), as on old servers
  --http                   speak HTTP: the CGI at --path (default /~cddb/cddb.cgi)
  --ipv6                   listen on ::1 instead of 127.0.0.1
"""
import argparse
import os
import socket
import socketserver
import sys
import threading
import time

CATEGORIES = ["blues", "classical", "country", "data", "folk", "jazz", "misc", "newage",
              "reggae", "rock", "soundtrack"]
SITES = [
    "cddb.example.org 8880 N000.00 W000.00 Loopback test server",
    "mirror.example.net 888 N052.30 E013.25 Mirror Site, Berlin",
]
SITES3 = [
    "cddb.example.org cddbp 8880 - N000.00 W000.00 Loopback test server",
    "cddb.example.org http 80 /~cddb/cddb.cgi N000.00 W000.00 Loopback test server",
    "mirror.example.net cddbp 888 - N052.30 E013.25 Mirror Site, Berlin",
]


def read_text(path):
    """An entry file as text: UTF-8 when it is valid UTF-8, else ISO-8859-1."""
    with open(path, "rb") as f:
        data = f.read()
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("latin-1")


def parse_entry(path):
    """Returns (offsets, disc seconds, title) of an xmcd file."""
    offsets, seconds, title = [], 0, ""
    in_offsets = False
    if True:
        for raw in read_text(path).splitlines():
            line = raw.strip()
            if line.startswith("# Track frame offsets"):
                in_offsets = True
                continue
            if in_offsets:
                v = line.lstrip("#").strip()
                if v.isdigit():
                    offsets.append(int(v))
                    continue
                in_offsets = False
            if line.startswith("# Disc length:"):
                try:
                    seconds = int(line.split(":", 1)[1].split()[0])
                except (ValueError, IndexError):
                    pass
            if raw.startswith("DTITLE="):
                title += raw[len("DTITLE="):]
    return offsets, seconds, title


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.opts = self.server.opts
        self.level = 1
        self.hello = False
        self.buf = b""
        self.out = None
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def send(self, text):
        if self.level >= 6:
            data = text.encode("utf-8")
        else:
            data = text.encode("latin-1", errors="replace")
        if self.out is not None:
            self.out.append(data)
            return
        if self.opts.slow:
            time.sleep(self.opts.slow / 1000.0)
        if self.opts.split and len(data) > 5:
            self.request.sendall(data[:5])
            time.sleep(0.05)
            data = data[5:]
        self.request.sendall(data)

    def endless(self):
        chunk = b"x" * 65536
        try:
            for _ in range(1024):  # at most 64 MiB
                self.request.sendall(chunk)
        except OSError:
            pass
        raise ConnectionAbortedError()

    def multi(self, status, lines):
        if self.opts.close_mid_reply:
            body = "".join(l + "\r\n" for l in lines)
            self.send(status + "\r\n" + body[: len(body) // 2])
            raise ConnectionAbortedError()
        out = [status] + [("." + l if l.startswith(".") else l) for l in lines] + ["."]
        self.send("".join(l + "\r\n" for l in out))

    def readline(self):
        while b"\n" not in self.buf:
            data = self.request.recv(4096)
            if not data:
                return None
            # Acknowledge at once: a client that writes a command and its line end in two
            # sends would otherwise wait for the delayed acknowledgement each time.
            self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
            self.buf += data
            if len(self.buf) > 65536:
                return None
        line, self.buf = self.buf.split(b"\n", 1)
        return line.rstrip(b"\r").decode("latin-1")

    def handle(self):
        try:
            if self.opts.http:
                self.handle_http()
                return
            if self.opts.never_greet:
                while self.request.recv(4096):
                    pass
                return
            if "greet" in self.opts.endless_line:
                self.endless()
            if self.opts.greeting:
                self.send(self.opts.greeting + "\r\n")
                if not self.opts.greeting.startswith("20"):
                    return
            else:
                self.send("201 localhost CDDBP server v1.5.2PL0 ready at %s\r\n"
                          % time.strftime("%a %b %d %H:%M:%S %Y"))
            while True:
                line = self.readline()
                if line is None:
                    return
                if not self.command(line.split()):
                    return
        except (ConnectionAbortedError, BrokenPipeError, ConnectionResetError):
            pass

    def handle_http(self):
        """One request of the CGI interface; the reply text is the body."""
        import urllib.parse
        while b"\r\n\r\n" not in self.buf and b"\n\n" not in self.buf:
            data = self.request.recv(4096)
            if not data or len(self.buf) > 65536:
                return
            self.buf += data
        request = self.buf.split(b"\n", 1)[0].decode("latin-1").strip()
        parts = request.split()
        if len(parts) < 2 or parts[0] != "GET":
            self.request.sendall(b"HTTP/1.0 400 Bad Request\r\n\r\n")
            return
        url = urllib.parse.urlsplit(parts[1])
        if url.path != self.opts.path:
            self.request.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n"
                                 b"<html>not found</html>")
            return
        q = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        self.out = []
        try:
            level = int(q.get("proto", ["1"])[0])
        except ValueError:
            level = 1
        self.level = max(1, min(level, self.opts.max_level))
        hello = q.get("hello", [""])[0].split()
        words = q.get("cmd", [""])[0].split()
        if self.opts.greeting and not self.opts.greeting.startswith("20"):
            self.send(self.opts.greeting + "\r\n")
        elif len(hello) != 4:
            self.send("500 Command syntax error: incorrect number of arguments.\r\n")
        elif not self.forced("hello"):
            self.hello = True
            if words and words[0].lower() not in ("quit", "proto", "cddb", "sites"):
                self.send("500 Unrecognized command.\r\n")
            elif words:
                self.command(words)
            else:
                self.send("500 Command syntax error.\r\n")
        body = b"".join(self.out)
        charset = "utf-8" if self.level >= 6 else "iso-8859-1"
        head = ("HTTP/1.0 200 OK\r\nContent-Type: text/plain; charset=%s\r\n"
                "Content-Length: %d\r\n\r\n" % (charset, len(body)))
        if self.opts.slow:
            time.sleep(self.opts.slow / 1000.0)
        self.request.sendall(head.encode("latin-1") + body)

    def forced(self, name):
        for f in self.opts.force:
            cmd, _, reply = f.partition("=")
            if cmd == name:
                self.send(reply + "\r\n")
                return True
        return False

    def command(self, words):
        if not words:
            self.send("500 Unrecognized command.\r\n")
            return True
        cmd = words[0].lower()
        sub = words[1].lower() if cmd == "cddb" and len(words) > 1 else ""
        name = sub if cmd == "cddb" else cmd
        if name in self.opts.endless_line:
            self.endless()
        if self.forced(name):
            return True
        if cmd == "quit":
            self.send("230 localhost Closing connection.  Goodbye.\r\n")
            return False
        if cmd == "proto" and not self.opts.no_proto:
            top = self.opts.max_level
            if len(words) == 1:
                self.send("200 CDDB protocol level: current %d, supported %d\r\n"
                          % (self.level, top))
            elif words[1].isdigit() and int(words[1]) == self.level:
                self.send("502 Protocol level already at %d.\r\n" % self.level)
            elif words[1].isdigit() and 1 <= int(words[1]) <= top:
                self.level = int(words[1])
                self.send("201 OK, CDDB protocol level now: %d\r\n" % self.level)
            else:
                self.send("501 Illegal protocol level.\r\n")
            return True
        if cmd == "sites":
            if self.opts.error_line or self.opts.no_sites:
                self.send("401 No site information available.\r\n")
            elif self.level >= 3:
                self.multi("210 OK, site information follows (until terminating `.')",
                           SITES3)
            else:
                self.multi("210 OK, site information follows (until terminating `.')", SITES)
            return True
        if cmd != "cddb":
            self.send("500 Unrecognized command.\r\n")
            return True
        if sub == "hello":
            if self.hello:
                self.send("402 Already shook hands.\r\n")
            elif len(words) != 6:
                self.send("431 Handshake not successful, closing connection.\r\n")
                return False
            else:
                self.hello = True
                self.send("200 Hello and welcome %s@%s running %s %s.\r\n"
                          % (words[2], words[3], words[4], words[5]))
            return True
        if sub == "lscat":
            if self.opts.error_line:
                self.send("500 Command syntax error.\r\n")
            else:
                self.multi("210 OK, category list follows (until terminating `.')",
                           self.server.categories())
            return True
        if not self.hello:
            self.send("409 No handshake.\r\n")
            return True
        if sub == "query":
            self.query(words[2:])
        elif sub == "read":
            self.read(words[2:])
        else:
            self.send("500 Unrecognized command.\r\n")
        return True

    def query(self, args):
        try:
            disc_id = args[0].lower()
            n = int(args[1])
            offsets = [int(x) for x in args[2:2 + n]]
            seconds = int(args[2 + n])
            if len(offsets) != n or len(args) != n + 3:
                raise ValueError
        except (ValueError, IndexError):
            self.send("500 Command syntax error.\r\n")
            return
        exact, fuzzy = [], []
        for cat, did, path in self.server.entries():
            entry_offsets, entry_seconds, title = parse_entry(path)
            if did == disc_id:
                exact.append((cat, did, title))
            elif len(entry_offsets) == n and abs(entry_seconds - seconds) <= 60:
                fuzzy.append((cat, did, title))
        if len(exact) == 1:
            self.send("200 %s %s %s\r\n" % exact[0])
        elif exact:
            status = ("210 Found exact matches" if self.level >= 3 else
                      "211 Found inexact matches") + ", list follows (until terminating `.')"
            self.multi(status, ["%s %s %s" % m for m in exact])
        elif fuzzy:
            self.multi("211 Found inexact matches, list follows (until terminating `.')",
                       ["%s %s %s" % m for m in fuzzy])
        else:
            self.send("202 No match for disc ID %s.\r\n" % disc_id)

    def read(self, args):
        if len(args) != 2:
            self.send("500 Command syntax error.\r\n")
            return
        cat, disc_id = args[0].lower(), args[1].lower()
        path = os.path.join(self.opts.dir, cat, disc_id)
        if self.opts.error_line or "/" in cat + disc_id or not os.path.isfile(path):
            self.send("401 %s %s No such CD entry in database.\r\n" % (cat, disc_id))
            return
        lines = read_text(path).splitlines()
        self.multi("210 %s %s CD database entry follows (until terminating `.')"
                   % (cat, disc_id), lines)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def entries(self):
        out = []
        for cat in sorted(os.listdir(self.opts.dir)):
            d = os.path.join(self.opts.dir, cat)
            if os.path.isdir(d):
                for did in sorted(os.listdir(d)):
                    out.append((cat, did, os.path.join(d, did)))
        return out

    def categories(self):
        found = sorted(c for c in os.listdir(self.opts.dir)
                       if os.path.isdir(os.path.join(self.opts.dir, c)))
        return found or CATEGORIES


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--dir", required=True)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--never-greet", action="store_true")
    p.add_argument("--close-mid-reply", action="store_true")
    p.add_argument("--error-line", action="store_true")
    p.add_argument("--endless-line", action="append", default=[])
    p.add_argument("--slow", type=int, default=0)
    p.add_argument("--split", action="store_true")
    p.add_argument("--force", action="append", default=[])
    p.add_argument("--no-sites", action="store_true")
    p.add_argument("--max-level", type=int, default=6)
    p.add_argument("--greeting", default="")
    p.add_argument("--no-proto", action="store_true")
    p.add_argument("--http", action="store_true")
    p.add_argument("--path", default="/~cddb/cddb.cgi")
    p.add_argument("--ipv6", action="store_true")
    opts = p.parse_args()
    if opts.ipv6:
        Server.address_family = socket.AF_INET6
    server = Server(("::1" if opts.ipv6 else "127.0.0.1", opts.port), Handler)
    server.opts = opts
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdout.write("PORT %d\n" % server.server_address[1])
    sys.stdout.flush()
    try:
        while sys.stdin.read(1):
            pass
    except KeyboardInterrupt:
        pass
    os._exit(0)


if __name__ == "__main__":
    main()
