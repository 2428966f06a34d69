"""A loopback HTTP/1.1 server (keep-alive) for the request-operation tests: status codes, an
echo of the request, slow and stalled replies, byte ranges with an ETag and If-Range, a server
that ignores ranges, large bodies (whole, stalled after a part, or trickling), redirects,
Basic authentication (?to= redirects once answered) and text in a charset.

Prints "PORT <n>" once it listens on 127.0.0.1, then one line per request:
"REQUEST <method> <path> range=<Range or -> if-range=<If-Range or -> auth=<yes|no>".
With "--tls cert.pem key.pem" it speaks HTTPS."""

import base64
import json
import select
import socket
import threading
import time
import urllib.parse

import http_peer  # the body reading, replies and server it builds on

STALL_LIMIT = 30.0  # seconds a stalled reply waits for the client to go away

_etag_lock = threading.Lock()
_etag_counter = [0]


def pattern(n):
    whole, rest = divmod(n, 251)
    block = bytes(range(251))
    return block * whole + block[:rest]


def next_etag():
    with _etag_lock:
        _etag_counter[0] += 1
        return '"v%d"' % _etag_counter[0]


class Handler(http_peer.Handler):
    """Reads bodies and replies as the URL-loading peer does; its own paths below."""

    def start(self, status, length, content_type="application/octet-stream", headers=()):
        self.send_response(status)
        if content_type:
            self.send_header("Content-Type", content_type)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(length))
        self.end_headers()

    def wait_for_client_to_leave(self):
        """Holds a reply open until the client closes its end (or the limit passes)."""
        self.wfile.flush()
        deadline = time.monotonic() + STALL_LIMIT
        sock = self.connection
        while time.monotonic() < deadline:
            readable, _, _ = select.select([sock], [], [], 0.05)
            if readable:
                try:
                    if not sock.recv(1, socket.MSG_PEEK):
                        break
                except OSError:
                    break
        self.close_connection = True

    def send_full(self, body, etag, stall_after, trickle=False):
        """A 200 with the whole body; with stall_after, only that many bytes and then a wait;
        with trickle, in small pieces a moment apart, for as long as the client listens."""
        headers = [("ETag", etag)] if etag else []
        self.start(200, len(body), headers=headers)
        if trickle:
            try:
                for i in range(0, len(body), 512):
                    self.wfile.write(body[i:i + 512])
                    self.wfile.flush()
                    time.sleep(0.002)
            except OSError:
                self.close_connection = True
            return
        if stall_after is None:
            self.wfile.write(body)
            return
        self.wfile.write(body[:stall_after])
        self.wait_for_client_to_leave()

    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        parts = [p for p in url.path.split("/") if p]
        head = parts[0] if parts else ""
        body = self.read_body()
        print("REQUEST %s %s range=%s if-range=%s auth=%s" % (
            self.command, self.path, self.headers.get("Range", "-"),
            self.headers.get("If-Range", "-"),
            "yes" if self.headers.get("Authorization") else "no"), flush=True)
        stall_after = int(query["stall_after"]) if "stall_after" in query else None

        if head == "status":
            code = int(parts[1])
            self.reply(code, query.get("body", "status %d" % code).encode())
        elif head == "empty":
            self.reply(200, b"")
        elif head == "echo":
            info = {
                "method": self.command,
                "path": self.path,
                "headers": [[k, v] for k, v in self.headers.items()],
                "body": base64.b64encode(body).decode(),
            }
            self.reply(200, json.dumps(info).encode(), content_type="application/json")
        elif head == "bomb":
            self.bomb(query)
        elif head == "json":
            self.reply(200, b'{"ok":true,"n":1}', content_type="application/json")
        elif head == "text":
            charset = query.get("charset")
            text = query.get("body", "")
            encoded = text.encode(charset if charset and charset != "x-unknown" else "utf-8")
            if "raw" in query:
                encoded = bytes.fromhex(query["raw"])
            ctype = "text/plain" + ("; charset=" + charset if charset else "")
            self.reply(200, encoded, content_type=ctype)
        elif head == "bytes":
            self.send_full(pattern(int(parts[1])), None, stall_after)
        elif head == "slow":
            n, delay = int(parts[1]), float(query.get("delay", "0.05"))
            self.start(200, n)
            data = pattern(n)
            for i in range(n):
                self.wfile.write(data[i:i + 1])
                self.wfile.flush()
                time.sleep(delay)
        elif head == "stall":
            self.start(200, 1000)
            self.wfile.write(b"x" * 10)
            self.wait_for_client_to_leave()
        elif head == "range":
            # One entity per size, unless every reply is to name a new version of it.
            data = pattern(int(parts[1]))
            etag = next_etag() if "new_etag" in query else '"size-%d"' % len(data)
            requested = self.headers.get("Range", "")
            if_range = self.headers.get("If-Range")
            if (requested.startswith("bytes=") and requested.endswith("-")
                    and (if_range is None or if_range == etag)):
                first = int(requested[6:-1])
                if first >= len(data):
                    self.reply(416, b"", headers=[("Content-Range", "bytes */%d" % len(data))])
                    return
                self.reply(206, data[first:], content_type="application/octet-stream",
                           headers=[("ETag", etag), ("Content-Range", "bytes %d-%d/%d" % (
                               first, len(data) - 1, len(data)))])
            else:
                self.send_full(data, etag, None if requested else stall_after,
                               trickle=not requested and "trickle" in query)
        elif head == "ignore-range":
            self.send_full(pattern(int(parts[1])), '"ignored"',
                           None if self.headers.get("Range") else stall_after)
        elif head == "redirect":
            left = int(parts[1])
            if left <= 0:
                self.reply(200, b"arrived")
            else:
                self.reply(302, b"moved", headers=[("Location", "/redirect/%d" % (left - 1))])
        elif head == "basic":
            expected = "Basic " + base64.b64encode(
                ("%s:%s" % (query.get("user", "u"), query.get("pw", "p"))).encode()).decode()
            if self.headers.get("Authorization") == expected and "to" in query:
                self.reply(302, b"moved", headers=[("Location", query["to"])])
            elif self.headers.get("Authorization") == expected:
                self.reply(200, b"welcome")
            else:
                self.reply(401, b"who are you",
                           headers=[("WWW-Authenticate", 'Basic realm="peer"')])
        else:
            self.reply(404, b"no such path")

    do_GET = do_POST = do_PUT = do_PATCH = do_DELETE = do_HEAD = handle_any


if __name__ == "__main__":
    http_peer.main(Handler)
