#!/usr/bin/env python3
"""A local firmware mirror for the download tests.

Serves the files below --root on 127.0.0.1 (TLS with --cert/--key, plain HTTP without) and a
few paths that misbehave on purpose. Prints the port it listens on as one line on stdout, then
serves until it is terminated or its parent goes away (stdin reaches its end).
"""

import argparse
import os
import select
import socket
import ssl
import sys
import threading
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer

ERROR_PAGE = b"<html><body>firmware server error</body></html>\n"


class Handler(SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # noqa: A002 - quiet unless asked
        if self.server.verbose:
            super().log_message(format, *args)

    def file_bytes(self, rel):
        path = os.path.join(self.server.root, rel.lstrip("/"))
        with open(path, "rb") as f:
            return f.read()

    def send_head_only(self, status, length, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(length))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()

    def end_abruptly(self):
        # FIN without a TLS close-notify, then wait for the client to give up so that the
        # close does not turn into a reset that could discard bytes already sent.
        self.wfile.flush()
        self.connection.shutdown(socket.SHUT_WR)
        sock = self.connection
        sock.settimeout(30)
        try:
            while sock.recv(65536):
                pass
        except OSError:
            pass
        self.close_connection = True

    def do_GET(self):  # noqa: N802 - the name http.server calls
        path = self.path.split("?", 1)[0]
        if path == "/empty":
            self.send_head_only(200, 0)
        elif path == "/error":
            self.send_head_only(500, len(ERROR_PAGE))
            self.wfile.write(ERROR_PAGE)
        elif path == "/echo-headers":
            body = str(self.headers).encode()
            self.send_head_only(200, len(body))
            self.wfile.write(body)
        elif path.startswith("/cut/"):
            # Promises the whole file, sends the first half, then breaks off.
            data = self.file_bytes(path[len("/cut"):])
            self.send_head_only(200, len(data))
            self.wfile.write(data[: len(data) // 2])
            self.end_abruptly()
        elif path.startswith("/chunked-cut/"):
            # Chunked, and the connection closes after the first half without the last chunk.
            data = self.file_bytes(path[len("/chunked-cut"):])
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            half = data[: len(data) // 2]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(half), half))
            self.end_abruptly()
        elif path.startswith("/headers-only/"):
            data = self.file_bytes(path[len("/headers-only"):])
            self.send_head_only(200, len(data))
            self.end_abruptly()
        elif path.startswith("/stall/"):
            # Sends 64 KiB of the file, then nothing for 20 s unless the client goes away,
            # then the rest: a download that is not cancelled in time ends complete.
            data = self.file_bytes(path[len("/stall"):])
            self.send_head_only(200, len(data))
            self.wfile.write(data[:65536])
            self.wfile.flush()
            readable, _, _ = select.select([self.connection], [], [], 20)
            if readable:
                self.close_connection = True
                return
            self.wfile.write(data[65536:])
        elif path.startswith("/redirect-to/"):
            # /redirect-to/<scheme>/<rest>: 302 to <scheme>://<rest>, so a test can point a
            # redirect anywhere.
            _, _, scheme, rest = path.split("/", 3)
            self.send_head_only(302, 0, [("Location", f"{scheme}://{rest}")])
        else:
            super().do_GET()


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, root, context, verbose):
        super().__init__(address, Handler)
        self.root = root
        self.context = context
        self.verbose = verbose

    def handle_error(self, request, client_address):
        # Clients that break off on purpose (the cancel and certificate tests) are expected.
        if self.verbose:
            super().handle_error(request, client_address)

    def finish_request(self, request, client_address):
        # The TLS handshake runs on the request's own thread, so that a client that stalls
        # in it holds up nobody else.
        if self.context is not None:
            request.settimeout(30)
            try:
                request = self.context.wrap_socket(request, server_side=True)
            except OSError:
                return
        try:
            Handler(request, client_address, self, directory=self.root)
        finally:
            if self.context is not None:
                request.close()


def watch_parent():
    # stdin is a pipe from the test; its end means the test is gone.
    try:
        while sys.stdin.buffer.read(1):
            pass
    finally:
        os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    context = None
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)

    server = Server(("127.0.0.1", 0), os.path.abspath(args.root), context, args.verbose)
    print(server.server_address[1], flush=True)
    threading.Thread(target=watch_parent, daemon=True).start()
    server.serve_forever(poll_interval=0.2)


if __name__ == "__main__":
    main()
