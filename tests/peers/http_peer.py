"""A loopback HTTP/1.1 server for the URL-loading tests: keep-alive, chunked bodies, redirects,
Basic authentication, ranges, cookies, pictures, and servers that misbehave (slow, stalled,
short, long, garbage, reset). It counts the requests of every path; GET /hits?path=P answers
how many P has had. Prints "PORT <n>" once it listens on 127.0.0.1."""

import base64
import hashlib
import http.server
import json
import socket
import socketserver
import struct
import sys
import threading
import time
import urllib.parse
import zlib

PATTERN = bytes(range(256))


def pattern(n):
    whole, rest = divmod(n, 256)
    return PATTERN * whole + PATTERN[:rest]


RANGE_BODY = pattern(100000)
RANGE_ETAG = '"range-body-1"'

HITS = {}
HITS_LOCK = threading.Lock()


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(width, height):
    """An opaque RGBA picture whose pixel (x, y) is (x*37, y*53, (x+y)*11) modulo 256."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows += bytes((x * 37 % 256, y * 53 % 256, (x + y) * 11 % 256, 255))
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(bytes(rows)))
            + png_chunk(b"IEND", b""))


# One opaque red pixel.
GIF = bytes.fromhex("474946383961010001008000" "00ff0000000000"
                    "21f90400000000002c00000000010001000002024401003b")


def damaged(width, height, how):
    """A picture spoilt on the way: cut in the middle of its pixels, or with its pixels garbled
    (checksums kept right, so that only the pixel stream is wrong)."""
    good = png(width, height)
    if how == "cut":
        return good[:len(good) // 2]
    data = bytes(b ^ 0x5A for b in zlib.compress(bytes(width * height * 4 + height)))
    return good[:33] + png_chunk(b"IDAT", data) + png_chunk(b"IEND", b"")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0], 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length", "0"))
        return self.rfile.read(length) if length else b""

    def reply(self, status, body=b"", headers=(), content_type="text/plain"):
        self.send_response(status)
        if content_type:
            self.send_header("Content-Type", content_type)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def reply_slowly(self, status, body, headers, chunk, delay):
        if not chunk:
            self.reply(status, body, headers=headers, content_type="application/octet-stream")
            return
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        for i in range(0, len(body), chunk):
            self.wfile.write(body[i:i + chunk])
            self.wfile.flush()
            time.sleep(delay)

    def bomb(self, query):
        """?size= zero bytes sent gzip-compressed whatever the client asked for: a few
        kilobytes on the wire that grow a thousandfold once decoded."""
        import gzip
        self.reply(200, gzip.compress(bytes(int(query.get("size", "1048576"))), 9),
                   headers=[("Content-Encoding", "gzip")],
                   content_type="application/octet-stream")

    def picture(self, kind, query):
        """/picture/<kind>/<any name>: png (?w=&h=), gif, damaged (?how=cut|garble), text (not
        a picture). ?status= answers with another status; ?wait= seconds before answering;
        ?pieces=N sends the body in N flushed pieces (?delay= seconds apart); ?chunked=1 sends
        it without a length."""
        width, height = int(query.get("w", "8")), int(query.get("h", "6"))
        if kind == "png":
            body, ctype = png(width, height), "image/png"
        elif kind == "gif":
            body, ctype = GIF, "image/gif"
        elif kind == "damaged":
            body, ctype = damaged(width, height, query.get("how", "cut")), "image/png"
        else:
            body, ctype = b"this is no picture", "text/plain"
        time.sleep(float(query.get("wait", "0")))
        pieces, delay = int(query.get("pieces", "1")), float(query.get("delay", "0"))
        chunked = query.get("chunked") == "1"
        self.send_response(int(query.get("status", "200")))
        self.send_header("Content-Type", ctype)
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        step = max(1, -(-len(body) // pieces))
        for i in range(0, len(body), step):
            piece = body[i:i + step]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece) if chunked else piece)
            self.wfile.flush()
            if i + step < len(body):
                time.sleep(delay)
        if chunked:
            self.wfile.write(b"0\r\n\r\n")

    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        parts = [p for p in url.path.split("/") if p]
        head = parts[0] if parts else ""
        body = self.read_body()
        if head != "hits":
            with HITS_LOCK:
                HITS[url.path] = HITS.get(url.path, 0) + 1

        if head == "hits":
            with HITS_LOCK:
                count = HITS.get(query.get("path", ""), 0)
            self.reply(200, str(count).encode())
        elif head == "picture":
            self.picture(parts[1] if len(parts) > 1 else "", query)
        elif head == "status":
            code = int(parts[1])
            self.reply(code, ("status %d" % code).encode())
        elif head == "json":
            code = int(parts[1]) if len(parts) > 1 else 200
            self.reply(code, json.dumps({"status": code, "path": self.path}).encode(),
                       content_type="application/json")
        elif head == "echo":
            info = {
                "method": self.command,
                "path": self.path,
                "headers": [[k, v] for k, v in self.headers.items()],
                "body": base64.b64encode(body).decode(),
            }
            self.reply(200, json.dumps(info).encode(), content_type="application/json")
        elif head == "bytes":
            self.reply(200, pattern(int(parts[1])), content_type="application/octet-stream")
        elif head == "text":
            charset = query.get("charset")
            ctype = "text/plain" + ("; charset=" + charset if charset else "")
            self.reply(200, query.get("body", "").encode("latin-1"), content_type=ctype)
        elif head == "bomb":
            self.bomb(query)
        elif head == "gzip":
            import gzip
            text = query.get("body", "").encode()
            if "gzip" in self.headers.get("Accept-Encoding", ""):
                self.reply(200, gzip.compress(text), headers=[("Content-Encoding", "gzip")])
            else:
                self.reply(200, text)
        elif head == "chunked":
            n = int(parts[1])
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            data = pattern(n)
            for i in range(0, n, 7000):
                piece = data[i:i + 7000]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        elif head == "slow":
            n, delay = int(parts[1]), float(query.get("delay", "0.05"))
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            for i in range(n):
                self.wfile.write(pattern(i + 1)[-1:])
                self.wfile.flush()
                time.sleep(delay)
        elif head == "stall":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"x" * 10)
            self.wfile.flush()
            time.sleep(60)
        elif head == "short":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(b"y" * 10)
            self.wfile.flush()
            self.close_connection = True
        elif head == "long":
            self.send_response(200)
            self.send_header("Content-Length", "10")
            self.end_headers()
            self.wfile.write(b"z" * 100)
            self.wfile.flush()
            self.close_connection = True
        elif head == "garbage":
            self.wfile.write(b"\x00\x01NOT HTTP AT ALL\r\n\r\n")
            self.wfile.flush()
            self.close_connection = True
        elif head == "hugeheaders":
            self.send_response(200)
            for i in range(400):
                self.send_header("X-Filler-%d" % i, "f" * 1000)
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif head == "reset":
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.connection.close()
            self.close_connection = True
        elif head == "interim":
            # An interim response before the real one.
            self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n"
                             b"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")
            self.wfile.flush()
        elif head == "port":
            # The client's side of this connection: the same one means a kept-alive connection.
            self.reply(200, str(self.client_address[1]).encode())
        elif head == "framing":
            # Responses framed in ways a reader must not trust; each tells its client's port.
            framing = {
                "twolengths": b"Content-Length: 5\r\nContent-Length: 10\r\n\r\n0123456789",
                "listedlengths": b"Content-Length: 5, 10\r\n\r\n0123456789",
                "samelength": b"Content-Length: 5\r\nContent-Length: 5\r\n\r\n01234",
                "badlength": b"Content-Length: 12x\r\n\r\n0123456789ab",
                "bareCR": b"X-Note: a\rX-Evil: 1\r\nContent-Length: 2\r\n\r\nok",
                "chunkedwithlength": b"Transfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n"
                                     b"5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
            }[parts[1]]
            self.wfile.write(b"HTTP/1.1 200 OK\r\nX-Port: %d\r\n" % self.client_address[1]
                             + framing)
            self.wfile.flush()
        elif head == "fields":
            # Fields as servers write them: repeated, in other cases, with blanks around
            # their values; after an interim response whose fields are not the final one's.
            self.wfile.write(b"HTTP/1.1 103 Early Hints\r\nLink: </early>\r\n\r\n"
                             b"HTTP/1.1 200 OK\r\n"
                             b"Content-Type: Text/Plain; charset=\"UTF-8\"\r\n"
                             b"X-Repeat: one\r\n"
                             b"Content-Length: 2\r\n"
                             b"x-REPEAT:   two  \r\n"
                             b"X-Empty:\r\n"
                             b"X-Inner:\t a  b \t\r\n"
                             b"content-length:  2 \r\n"
                             b"X-Repeat: three\r\n"
                             b"\r\nok")
            self.wfile.flush()
        elif head == "redirect":
            left = int(parts[1])
            status = int(query.get("status", "302"))
            target = query.get("to", "/echo") if left <= 1 else "/redirect/%d?%s" % (
                left - 1, url.query)
            self.reply(status, b"moved", headers=[("Location", target)])
        elif head == "basic":
            # ?to= sends the client on there once it has answered the challenge.
            expected = "Basic " + base64.b64encode(
                ("%s:%s" % (query.get("user", "u"), query.get("pw", "p"))).encode()).decode()
            if self.headers.get("Authorization") != expected:
                self.reply(401, b"who are you", headers=[
                    ("WWW-Authenticate", 'Basic realm="%s"' % query.get("realm", "peer"))])
            elif "to" in query:
                self.reply(302, b"moved", headers=[("Location", query["to"])])
            else:
                self.reply(200, b"welcome")
        elif head == "cookie":
            if parts[1:] == ["set"]:
                self.reply(200, b"set", headers=[
                    ("Set-Cookie", "%s=%s; Path=/" % (k, v)) for k, v in query.items()])
            else:
                self.reply(200, self.headers.get("Cookie", "").encode())
        elif head == "upload":
            digest = hashlib.sha256(body).hexdigest()
            self.reply(200, json.dumps({"length": len(body), "sha256": digest}).encode(),
                       content_type="application/json")
        elif head in ("range", "norange"):
            # Ranges as RFC 9110 has them ("bytes=N-" only), honoured by /range when
            # "If-Range" is absent or matches; /norange always sends the whole body. Each
            # request is reported on stdout; "chunk" and "delay" send the body slowly, and
            # "skew" makes /range answer a range that starts that many bytes late; "weak"
            # makes its entity tag a weak one.
            requested = self.headers.get("Range")
            if_range = self.headers.get("If-Range")
            print("%s range=%s if-range=%s" % (head, requested, if_range), flush=True)
            start = 0
            if (head == "range" and requested and requested.startswith("bytes=")
                    and requested.endswith("-") and if_range in (None, RANGE_ETAG)):
                start = int(requested[6:-1]) + int(query.get("skew", "0"))
            headers = [("ETag", ("W/" if "weak" in query else "") + RANGE_ETAG)]
            if start:
                headers.append(("Content-Range", "bytes %d-%d/%d" % (
                    start, len(RANGE_BODY) - 1, len(RANGE_BODY))))
            self.reply_slowly(206 if start else 200, RANGE_BODY[start:], headers,
                              int(query.get("chunk", "0")), float(query.get("delay", "0")))
        else:
            self.reply(404, b"no such path")

    do_GET = do_POST = do_PUT = do_PATCH = do_DELETE = do_HEAD = do_OPTIONS = handle_any


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass  # broken connections are what several tests are about


def main(handler=None):
    """Serves with the handler (this file's by default); "--tls cert.pem key.pem" speaks
    HTTPS."""
    server = Server(("127.0.0.1", 0), handler or Handler)
    if len(sys.argv) > 3 and sys.argv[1] == "--tls":
        import ssl
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
