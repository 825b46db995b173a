#!/usr/bin/env python3
"""An HTTP server that replays canned exchanges, for the answers a real server cannot be
made to give: odd statuses, cut or slow bodies, no answer, endless redirections.

The first segment of the request path names the exchange: a request for /cut/any/thing.bin
is answered from EXCHANGES/cut.txt. An exchange file holds one or more replies, separated by
a line "--- next reply ---"; the n-th request for the same path (query left out) gets the
n-th reply, and the last reply repeats. A reply is

    # comment lines and @directives, one a line
    @cut-after 400
    HTTP/1.1 200 OK
    Content-Type: text/plain

    the body, sent as written

Head lines may end in LF or CRLF; they are sent with CRLF. The body is sent byte for byte,
except that one line end before the separator (or at the end of the file) is dropped. In
the head, {host} (the Host header), {port}, {path}, {n} (this path's request number, from
1) and {total} (the exchange's request number, from 1) are replaced. A Content-Length of
the body is added unless the head has one or a Transfer-Encoding, or @no-length is given.

Directives:
    @delay MS          wait before replying
    @hang MS           read the request, answer nothing, close after MS (or when the client does)
    @close             read the request and close without a reply
    @cut-after N       send the head and the first N body bytes, then close
    @throttle BYTES MS send the body BYTES at a time with MS between the pieces
    @pattern N         the body is N bytes, byte i being i % 251 (the body text is ignored)
    @range             answer a "Range: bytes=a-b" request with 206 and that part of the body
    @before-body       reply once the request head is in, without reading the body, and close
    @no-length         add no Content-Length; the body ends when the connection closes

Every request is logged as one JSON line (method, target, path, version, headers, body
size, exchange, reply number) before it is answered. The server stops on SIGTERM, after
--idle-timeout seconds without a connection, and after --lifetime seconds in any case.
"""

import argparse
import json
import re
import signal
import socket
import socketserver
import sys
import threading
import time
import urllib.parse

SEPARATOR = re.compile(rb"\r?\n--- next reply ---\r?\n")
EXCHANGE_NAME = re.compile(r"^[A-Za-z0-9._-]+$")
SEND_PIECE = 65536
# Whole periods of the pattern, long enough to cut any piece of SEND_PIECE bytes from.
PATTERN_BLOCK = bytes(range(251)) * (SEND_PIECE // 251 + 2)

MAX_HEAD_LINE = 65536
MAX_HEADERS = 200
MAX_REQUESTS_PER_CONNECTION = 1000
MAX_CONNECTIONS = 64
MAX_WAIT_MS = 300_000
READ_TIMEOUT = 60
DRAIN_SECONDS = 2


class ExchangeError(Exception):
    pass


class Reply:
    def __init__(self):
        self.directives = {}
        self.head_lines = []
        self.body = b""


def parse_exchange(data):
    blocks = SEPARATOR.split(data)
    if blocks[-1].endswith(b"\r\n"):
        blocks[-1] = blocks[-1][:-2]
    elif blocks[-1].endswith(b"\n"):
        blocks[-1] = blocks[-1][:-1]
    return [parse_reply(block) for block in blocks]


def parse_reply(block):
    reply = Reply()
    rest = block
    # Comments and directives up to the status line.
    while True:
        line, newline, after = rest.partition(b"\n")
        text = line.rstrip(b"\r").decode("utf-8")
        if text.startswith("HTTP/"):
            break
        if not newline:
            raise ExchangeError("no status line")
        rest = after
        stripped = text.strip()
        if not stripped or stripped.startswith("#"):
            continue
        if not stripped.startswith("@"):
            raise ExchangeError(f"neither a directive nor a status line: {text!r}")
        name, *args = stripped[1:].split()
        reply.directives[name] = [int(arg) for arg in args]
    # The head up to the empty line, then the body.
    while rest:
        line, newline, rest = rest.partition(b"\n")
        line = line.rstrip(b"\r")
        if not line:
            break
        reply.head_lines.append(line.decode("latin-1"))
        if not newline:
            rest = b""
    reply.body = rest
    known = {"delay": 1, "hang": 1, "close": 0, "cut-after": 1, "throttle": 2, "pattern": 1,
             "range": 0, "before-body": 0, "no-length": 0}
    for name, args in reply.directives.items():
        if name not in known:
            raise ExchangeError(f"unknown directive @{name}")
        if len(args) != known[name] or any(arg < 0 for arg in args):
            raise ExchangeError(f"@{name} takes {known[name]} non-negative numbers")
    return reply


class Body:
    """A body as a length and pieces, so that a pattern body of gigabytes costs nothing."""

    def __init__(self, literal=None, pattern_length=None):
        self.literal = literal
        self.start = 0
        self.length = len(literal) if literal is not None else pattern_length

    def slice(self, start, end):
        self.start += start
        self.length = end - start

    def pieces(self, size):
        offset, left = self.start, self.length
        while left > 0:
            count = min(size, SEND_PIECE, left)
            if self.literal is not None:
                yield self.literal[offset:offset + count]
            else:
                first = offset % 251
                yield PATTERN_BLOCK[first:first + count]
            offset += count
            left -= count


def header_value(headers, name):
    for key, value in headers:
        if key.lower() == name:
            return value
    return None


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = MAX_CONNECTIONS

    def __init__(self, args):
        super().__init__((args.host, args.port), Handler)
        self.args = args
        self.log_lock = threading.Lock()
        self.log_file = open(args.log, "a", encoding="utf-8")
        self.counters = {}
        self.sequence = 0
        self.last_activity = time.monotonic()
        self.slots = threading.BoundedSemaphore(MAX_CONNECTIONS)

    def count(self, key):
        with self.log_lock:
            self.counters[key] = self.counters.get(key, 0) + 1
            return self.counters[key]

    def log(self, entry):
        with self.log_lock:
            self.sequence += 1
            entry = {"seq": self.sequence, "time": round(time.time(), 3), **entry}
            self.log_file.write(json.dumps(entry, ensure_ascii=False) + "\n")
            self.log_file.flush()


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.request.settimeout(READ_TIMEOUT)
        self.reader = self.request.makefile("rb")

    def handle(self):
        server = self.server
        server.last_activity = time.monotonic()
        if not server.slots.acquire(blocking=False):
            return
        try:
            for _ in range(MAX_REQUESTS_PER_CONNECTION):
                if not self.exchange():
                    break
        except (OSError, ValueError, UnicodeDecodeError):
            pass
        finally:
            server.slots.release()
            self.close()

    def finish(self):
        try:
            self.reader.close()
        except OSError:
            pass

    # One request and its reply; False when the connection is to close.
    def exchange(self):
        server = self.server
        request_line = self.reader.readline(MAX_HEAD_LINE)
        if not request_line:
            return False
        server.last_activity = time.monotonic()
        parts = request_line.decode("latin-1").rstrip("\r\n").split(" ")
        if len(parts) != 3:
            self.send(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return False
        method, target, version = parts
        headers = []
        while True:
            line = self.reader.readline(MAX_HEAD_LINE).decode("latin-1").rstrip("\r\n")
            if not line:
                break
            if len(headers) >= MAX_HEADERS:
                return False
            name, _, value = line.partition(":")
            headers.append([name.strip(), value.strip()])

        path = urllib.parse.urlsplit(target).path
        segment = urllib.parse.unquote(path.lstrip("/").split("/", 1)[0])
        name = segment if EXCHANGE_NAME.match(segment) else None
        replies, problem = None, None
        if name is None:
            problem = f"no exchange is named by {path!r}"
        else:
            try:
                with open(f"{server.args.exchanges}/{name}.txt", "rb") as f:
                    replies = parse_exchange(f.read())
            except FileNotFoundError:
                problem = f"there is no exchange {name!r}"
            except (ExchangeError, ValueError, UnicodeDecodeError) as error:
                problem = f"exchange {name!r} is malformed: {error}"
        number = server.count(("path", path))
        total = server.count(("exchange", name))
        reply = replies[min(number, len(replies)) - 1] if replies else None
        directives = reply.directives if reply else {}

        body_size = 0
        if "before-body" not in directives:
            expect = header_value(headers, "expect")
            if expect and expect.lower() == "100-continue":
                self.send(b"HTTP/1.1 100 Continue\r\n\r\n")
            body_size = self.read_body(headers)
        server.log({"method": method, "target": target, "path": path, "version": version,
                    "headers": headers, "body_size": body_size, "exchange": name,
                    "reply": min(number, len(replies)) if replies else None,
                    "problem": problem})
        if reply is None:
            print(f"scripted_server: {problem}", file=sys.stderr, flush=True)
            text = (problem + "\n").encode("utf-8")
            self.send(b"HTTP/1.1 404 Not Found\r\nContent-Type: text/plain; charset=utf-8\r\n"
                      b"Content-Length: %d\r\n\r\n%s" % (len(text), text))
            return True

        if "delay" in directives:
            time.sleep(min(directives["delay"][0], MAX_WAIT_MS) / 1000)
        if "close" in directives:
            return False
        if "hang" in directives:
            self.wait_for_close(min(directives["hang"][0], MAX_WAIT_MS) / 1000)
            return False

        values = {"host": header_value(headers, "host") or f"{server.args.host}:{server.args.port}",
                  "port": str(server.args.port), "path": path, "n": str(number),
                  "total": str(total)}
        head_lines = [re.sub(r"\{(host|port|path|n|total)\}", lambda m: values[m.group(1)], line)
                      for line in reply.head_lines]
        if "pattern" in directives:
            body = Body(pattern_length=directives["pattern"][0])
        else:
            body = Body(literal=reply.body)
        if "range" in directives:
            head_lines = self.apply_range(head_lines, headers, body)
        names = {line.partition(":")[0].strip().lower() for line in head_lines[1:]}
        if ("content-length" not in names and "transfer-encoding" not in names
                and "no-length" not in directives):
            head_lines.append(f"Content-Length: {body.length}")
        self.send(("\r\n".join(head_lines) + "\r\n\r\n").encode("latin-1"))

        if method != "HEAD":
            limit = directives.get("cut-after", [None])[0]
            piece, pause = directives.get("throttle", [SEND_PIECE, 0])
            sent = 0
            for data in body.pieces(max(piece, 1)):
                if limit is not None and sent + len(data) > limit:
                    data = data[:limit - sent]
                self.send(data)
                sent += len(data)
                if limit is not None and sent >= limit:
                    return False
                if pause:
                    time.sleep(min(pause, MAX_WAIT_MS) / 1000)
        connection = (header_value(headers, "connection") or "").lower()
        reply_connection = next((line.partition(":")[2].strip().lower() for line in head_lines[1:]
                                 if line.lower().startswith("connection:")), "")
        if ("before-body" in directives or "no-length" in directives or "cut-after" in directives
                or version == "HTTP/1.0" or connection == "close" or reply_connection == "close"):
            return False
        return True

    def read_body(self, headers):
        size = 0
        encoding = (header_value(headers, "transfer-encoding") or "").lower()
        if "chunked" in encoding:
            while True:
                line = self.reader.readline(MAX_HEAD_LINE)
                if not line:
                    return size
                count = int(line.split(b";")[0].strip(), 16)
                if count == 0:
                    while self.reader.readline(MAX_HEAD_LINE).strip():
                        pass
                    return size
                size += self.discard(count)
                self.reader.readline(MAX_HEAD_LINE)
        length = header_value(headers, "content-length")
        if length:
            size = self.discard(int(length))
        return size

    def discard(self, count):
        done = 0
        while done < count:
            data = self.reader.read(min(SEND_PIECE, count - done))
            if not data:
                break
            done += len(data)
        return done

    @staticmethod
    def apply_range(head_lines, headers, body):
        wanted = header_value(headers, "range")
        match = re.fullmatch(r"\s*bytes\s*=\s*(\d+)\s*-\s*(\d*)\s*", wanted or "")
        if not match:
            return head_lines
        total = body.length
        first = int(match.group(1))
        last = min(int(match.group(2)), total - 1) if match.group(2) else total - 1
        kept = [line for line in head_lines[1:]
                if line.partition(":")[0].strip().lower() not in ("content-length",
                                                                  "content-range")]
        if first >= total or last < first:
            body.slice(0, 0)
            return ["HTTP/1.1 416 Range Not Satisfiable", *kept, f"Content-Range: bytes */{total}"]
        body.slice(first, last + 1)
        return ["HTTP/1.1 206 Partial Content", *kept,
                f"Content-Range: bytes {first}-{last}/{total}"]

    def send(self, data):
        self.request.sendall(data)

    def wait_for_close(self, seconds):
        deadline = time.monotonic() + seconds
        while (left := deadline - time.monotonic()) > 0:
            self.request.settimeout(min(left, 1.0))
            try:
                if not self.request.recv(SEND_PIECE):
                    return
            except socket.timeout:
                continue

    def close(self):
        """Ends the sending side, then reads what the client still sends (for a short while),
        so that a reply given before the request body is read is not lost to a reset."""
        try:
            self.request.shutdown(socket.SHUT_WR)
            deadline = time.monotonic() + DRAIN_SECONDS
            while (left := deadline - time.monotonic()) > 0:
                self.request.settimeout(left)
                if not self.request.recv(SEND_PIECE):
                    break
        except OSError:
            pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--exchanges", required=True, help="folder of the exchange files")
    parser.add_argument("--log", required=True, help="file the requests are logged to")
    parser.add_argument("--idle-timeout", type=float, default=1200)
    parser.add_argument("--lifetime", type=float, default=3600)
    parser.add_argument("--ready-file", help="written with the port once the server listens")
    args = parser.parse_args()
    if not args.host.startswith("127."):
        parser.error("the server listens on a loopback address only")

    server = Server(args)
    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())
    signal.signal(signal.SIGINT, lambda *_: stopping.set())
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                              daemon=True)
    thread.start()
    if args.ready_file:
        with open(args.ready_file, "w", encoding="utf-8") as f:
            f.write(f"{args.port}\n")
    started = time.monotonic()
    while not stopping.wait(0.5):
        now = time.monotonic()
        if now - started > args.lifetime:
            print("scripted_server: lifetime over, stopping", file=sys.stderr, flush=True)
            break
        if now - server.last_activity > args.idle_timeout:
            print("scripted_server: idle, stopping", file=sys.stderr, flush=True)
            break
    server.shutdown()
    server.server_close()


if __name__ == "__main__":
    main()
