"""A loopback web site for the web view tests: pages with links and a form, redirects, a cookie
set on one page and shown on the next, and a request that is answered by a dropped connection.
Prints "PORT <n>" once it listens on 127.0.0.1, then "<METHOD> <path>" for every request."""

import html
import http.server
import socketserver
import sys
import urllib.parse

STYLE = "<style>h1 { color: #d00000; font-size: 40px; margin: 0 }</style>"


def page(title, body):
    return ("<!DOCTYPE html><html><head><title>%s</title>%s</head><body>%s</body></html>"
            % (html.escape(title), STYLE, body)).encode()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_page(self, title, body, headers=()):
        data = page(title, body)
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def handle_any(self, method):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length).decode() if length else ""
        print(method, self.path, flush=True)
        if url.path == "/":
            # The link fills the line below the heading, so a tap there finds it.
            self.send_page("Home", '<h1>Welcome</h1><a href="/next" style="display:block;'
                           'height:60px">Next page</a>')
        elif url.path == "/next":
            self.send_page("Next", "<h1>Next</h1>")
        elif url.path == "/redirect":
            self.send_response(302)
            self.send_header("Location", query["to"][0])
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif url.path == "/set-cookie":
            self.send_page("Cookie set", "<h1>Set</h1>", [("Set-Cookie", "session=s3cr3t; Path=/")])
        elif url.path == "/show-cookie":
            self.send_page("Cookie: " + self.headers.get("Cookie", ""), "<h1>Cookie</h1>")
        elif url.path == "/form":
            self.send_page("Form", '<form method="%s" action="/submit">'
                           '<input type="hidden" name="user" value="ann lee">'
                           '<input type="text" name="code" value="a&b">'
                           '<button type="submit" name="go" value="1" style="display:block;'
                           'height:60px">Send</button></form>' % query.get("method", ["get"])[0])
        elif url.path == "/submit":
            self.send_page("Sent " + method + " " + (url.query or body), "<h1>Sent</h1>")
        elif url.path == "/drop":
            self.close_connection = True
            self.connection.shutdown(2)
        else:
            self.send_error(404)

    def do_GET(self):
        self.handle_any("GET")

    def do_POST(self):
        self.handle_any("POST")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print("PORT", server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
