#!/usr/bin/env python3
"""An HTTPS server on 127.0.0.1 that answers every GET with 200 and the body "trusted\\n".

    tls_peer.py --cert CHAIN.pem --key KEY.pem

CHAIN.pem holds the certificates to present, leaf first. Prints "PORT <n>" once listening.
A client that refuses the certificate ends only its own connection. Connections are kept
alive; each response tells which one served it ("X-Connection: <n>", counting from 1 in the
order handshakes completed) and whether its TLS session was resumed ("X-Session-Reused: 0|1").
GET /close answers the same and closes the connection.
"""

import argparse
import http.server
import ssl
import sys
import threading

BODY = b"trusted\n"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 10

    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(BODY)))
        self.send_header("X-Connection", str(self.request.number))
        self.send_header("X-Session-Reused", "1" if self.request.session_reused else "0")
        if self.path == "/close":
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(BODY)

    def log_message(self, format, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, context):
        super().__init__(("127.0.0.1", 0), Handler)
        self.context = context
        self.lock = threading.Lock()
        self.handshakes = 0

    def finish_request(self, request, client_address):
        # The handshake runs on the connection's own thread, not in accept().
        request.settimeout(Handler.timeout)
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        with self.lock:
            self.handshakes += 1
            tls.number = self.handshakes
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            tls.close()

    def handle_error(self, request, client_address):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    args = parser.parse_args()

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    server = Server(context)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
