#!/usr/bin/python3
"""A static HTTP server for the tests that lies on purpose about chosen files.

--short NAME   sends the file with a Content-Length of half its size and only that half, so a
               client sees a complete, well-formed response that is cut short.
--endless NAME sends an endless body of one repeated byte without a Content-Length.

NAME is the request path without its query ("1.00.01/list.inf"). Everything else is served
as it is from --root. Stops with the test (killed by its owner)."""
import argparse
import http.server
import os
import socketserver


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--short", action="append", default=[])
    parser.add_argument("--endless", action="append", default=[])
    args = parser.parse_args()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"

        def log_message(self, *unused):
            pass

        def do_GET(self):
            name = self.path.split("?", 1)[0].lstrip("/")
            if name in args.endless:
                self.send_response(200)
                self.end_headers()
                block = b"\0" * 65536
                try:
                    while True:
                        self.wfile.write(block)
                except OSError:
                    return
            path = os.path.join(args.root, name)
            if ".." in name.split("/") or not os.path.isfile(path):
                self.send_error(404)
                return
            with open(path, "rb") as f:
                data = f.read()
            if name in args.short:
                data = data[: len(data) // 2]
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True
        allow_reuse_address = True

    Server(("127.0.0.1", args.port), Handler).serve_forever()


if __name__ == "__main__":
    main()
