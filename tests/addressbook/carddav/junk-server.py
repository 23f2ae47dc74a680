#!/usr/bin/python3
"""A misbehaving plain-HTTP "CardDAV server" on 127.0.0.1 for the CardDAV client's robustness
tests. Basic auth with any user and password is accepted; a request without it gets a 401
challenge (except on /status/ and the catch listener).

    junk-server.py PORT [--auth-log FILE]

PORT 0 picks a free one. The first line on stdout is the port, the second the port of the
catch listener (both flushed at once). Paths, for any method (PROPFIND and REPORT included):

    /huge/        207 multistatus that streams 200 MB, no Content-Length, then closes
    /malformed/   207 whose XML breaks off in the middle of an element
    /loop/        301 to itself, forever
    /notvcard/    a minimal address book ("Junk") holding /notvcard/a.vcf, whose address-data
                  and GET body are "this is not a vCard"
    /status/401/, /status/403/, /status/404/   that status for every request
    /status/507/  an empty address book that answers every PUT with 507 Insufficient Storage
    /busy/        an empty address book that answers every third request 503 with Retry-After: 1
    /elsewhere/   307 to http://localhost:PORT2/catch/, the catch listener, which writes one
                  line per request to the --auth-log file, "PATH auth" or "PATH no-auth"
                  (whether an Authorization header came), and answers an empty 207
"""
import argparse
import http.server
import sys
import threading

DAV = 'xmlns:D="DAV:" xmlns:CR="urn:ietf:params:xml:ns:carddav"'
NOT_A_VCARD = "this is not a vCard"
HUGE_BYTES = 200 * 1024 * 1024


def multistatus(*responses, token=None):
    sync = f"<D:sync-token>{token}</D:sync-token>" if token else ""
    return f'<?xml version="1.0" encoding="utf-8"?>\n<D:multistatus {DAV}>{"".join(responses)}{sync}</D:multistatus>\n'


def response(href, props):
    return (f"<D:response><D:href>{href}</D:href><D:propstat><D:prop>{props}</D:prop>"
            "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>")


def book(href, name):
    return response(href, "<D:resourcetype><D:collection/><CR:addressbook/></D:resourcetype>"
                          f"<D:displayname>{name}</D:displayname>")


def card(href, with_data):
    data = f"<CR:address-data>{NOT_A_VCARD}</CR:address-data>" if with_data else ""
    return response(href, f'<D:getetag>"1"</D:getetag>{data}')


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    catch_port = 0
    auth_log = None
    log_lock = threading.Lock()
    busy_count = 0

    def log_message(self, format, *args):  # quiet: tests read stdout
        pass

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            while (size := int(self.rfile.readline().split(b";")[0], 16)) > 0:
                self.rfile.read(size + 2)
            self.rfile.readline()
        else:
            self.rfile.read(int(self.headers.get("Content-Length") or 0))

    def answer(self, status, body="", headers=()):
        data = body.encode()
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if body:
            self.send_header("Content-Type", "application/xml; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def challenge(self, status=401):
        self.answer(status, headers=[("WWW-Authenticate", 'Basic realm="junk"')])

    def handle_any(self):
        self.read_body()
        if self.server.server_port == self.catch_port:
            return self.catch()
        path = self.path.split("?")[0]
        if path.startswith("/status/"):
            return self.status(path)
        if "Authorization" not in self.headers:
            return self.challenge()
        if path.startswith("/huge/"):
            return self.huge()
        if path.startswith("/malformed/"):
            return self.answer(207, f'<?xml version="1.0"?>\n<D:multistatus {DAV}><D:response>'
                                    "<D:href>/malformed/a.vcf</D:href><D:propstat><D:prop><D:getetag")
        if path.startswith("/loop/"):
            return self.answer(301, headers=[("Location", path)])
        if path.startswith("/notvcard/"):
            return self.notvcard(path)
        if path.startswith("/busy/"):
            with self.log_lock:
                Handler.busy_count += 1
                busy = Handler.busy_count % 3 == 1
            if busy:
                return self.answer(503, headers=[("Retry-After", "1")])
            return self.answer(207, multistatus(book(path, "Busy")))
        if path.startswith("/elsewhere/"):
            return self.answer(307, headers=[("Location", f"http://localhost:{self.catch_port}/catch/")])
        self.answer(404)

    def notvcard(self, path):
        if path != "/notvcard/":
            if self.command in ("GET", "HEAD"):
                data = NOT_A_VCARD.encode()
                self.send_response(200)
                self.send_header("Content-Type", "text/vcard; charset=utf-8")
                self.send_header("ETag", '"1"')
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                if self.command == "GET":
                    self.wfile.write(data)
                return
            if self.command == "PUT":
                return self.answer(201, headers=[("ETag", '"2"')])
            return self.answer(204 if self.command == "DELETE" else 405)
        if self.command == "PROPFIND":
            cards = [card("/notvcard/a.vcf", False)] if self.headers.get("Depth") == "1" else []
            return self.answer(207, multistatus(book(path, "Junk"), *cards))
        if self.command == "REPORT":
            return self.answer(207, multistatus(card("/notvcard/a.vcf", True), token="junk-1"))
        self.answer(405)

    def status(self, path):
        code = path.split("/")[2]
        if code == "401":
            return self.challenge()
        if code in ("403", "404"):
            return self.answer(int(code))
        if code != "507":
            return self.answer(404)
        if self.command == "PUT":
            return self.answer(507)
        if self.command == "PROPFIND" and path == "/status/507/":
            return self.answer(207, multistatus(book(path, "Full")))
        if self.command == "REPORT":
            return self.answer(207, multistatus(token="full-1"))
        self.answer(404)

    def huge(self):
        self.send_response(207)
        self.send_header("Content-Type", "application/xml; charset=utf-8")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        block = "".join(card(f"/huge/{n:06d}.vcf", False) for n in range(200)).encode()
        sent = 0
        try:
            self.wfile.write(f'<?xml version="1.0"?>\n<D:multistatus {DAV}>'.encode())
            while sent < HUGE_BYTES:
                self.wfile.write(block)
                sent += len(block)
            self.wfile.write(b"</D:multistatus>\n")
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up, as it should

    def catch(self):
        if self.auth_log:
            with self.log_lock, open(self.auth_log, "a") as log:
                auth = "auth" if "Authorization" in self.headers else "no-auth"
                log.write(f"{self.path} {auth}\n")
        self.answer(207, multistatus())

    do_GET = do_HEAD = do_PUT = do_POST = do_DELETE = do_OPTIONS = handle_any
    do_PROPFIND = do_PROPPATCH = do_REPORT = do_MKCOL = do_MOVE = do_COPY = handle_any


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("port", type=int)
    parser.add_argument("--auth-log")
    args = parser.parse_args()
    Handler.auth_log = args.auth_log
    http.server.ThreadingHTTPServer.daemon_threads = True
    main_server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    catch_server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    Handler.catch_port = catch_server.server_port
    print(main_server.server_port, flush=True)
    print(catch_server.server_port, flush=True)
    threading.Thread(target=catch_server.serve_forever, daemon=True).start()
    try:
        main_server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
