"""A fault-injecting TCP proxy for the transfer tests (one process per test).

It listens on --port and forwards every connection to 127.0.0.1:--target-port. One fault is
applied to what the server sends back, for the transfers that --match selects:

  reset    after --after bytes, both sides are reset (RST)
  close    after --after bytes, the client's side is closed cleanly (an early end)
  stall    after --after bytes, nothing more is forwarded for --seconds (0: for ever)
  endless  the server's bytes, then filler for ever (listing lines for LIST/MLSD)
  chunked  (HTTP) the request is answered here: 200 with an endless chunked body

With --ftp the control connection is understood: passive-mode replies (227, 229) are
rewritten so data connections pass through the proxy too, --match is compared with the
client's last command (e.g. "RETR a.bmd", "LIST"), the fault hits data connections only, and
--announce-size N rewrites the server's SIZE replies (for the file of a "RETR name" match). Without --ftp, --match is looked for in
the client's first bytes (an HTTP request line). --times N limits the fault to the first N
matching transfers (0: all). Every faulted transfer appends a line to --faults-file.
"""
import argparse
import re
import socket
import struct
import threading
import time

ARGS = None
LOCK = threading.Lock()
FAULTS_DONE = 0


def claim_fault(what):
    """True when this transfer gets the fault (and counts it)."""
    global FAULTS_DONE
    if ARGS.match and ARGS.match not in what:
        return False
    with LOCK:
        if ARGS.times and FAULTS_DONE >= ARGS.times:
            return False
        FAULTS_DONE += 1
    if ARGS.faults_file:
        with open(ARGS.faults_file, "a") as f:
            f.write(what.strip() + "\n")
    return True


def reset(sock):
    # Another thread may be blocked reading this socket, which would keep it alive past
    # close(): shutting down the reading side wakes it, and the last close sends the RST.
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        sock.shutdown(socket.SHUT_RD)
    except OSError:
        pass
    quiet_close(sock)


def quiet_close(sock, shutdown=False):
    try:
        if shutdown:
            sock.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    try:
        sock.close()
    except OSError:
        pass


def filler(listing):
    if not listing:
        block = b"\0" * 65536
        while True:
            yield block
    n = 0
    while True:
        lines = []
        for _ in range(512):
            n += 1
            lines.append(b"-rw-r--r-- 1 u g 1000 Jan 01 00:00 filler%09d.bin\r\n" % n)
        yield b"".join(lines)


def pipe(src, dst):
    """Plain forwarding until either side ends."""
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    end_of_writing(dst)


def end_of_writing(sock):
    try:
        sock.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def faulty_pipe(src, dst, what, client, server):
    """Server-to-client forwarding with the fault applied."""
    sent = 0
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            if ARGS.fault in ("reset", "close", "stall") and sent + len(data) >= ARGS.after:
                cut = ARGS.after - sent
                dst.sendall(data[:cut])
                if ARGS.fault == "reset":
                    reset(client)
                    reset(server)
                    return
                if ARGS.fault == "close":
                    quiet_close(dst, shutdown=True)
                    quiet_close(server, shutdown=True)
                    return
                # stall: both connections stay open and quiet, then (maybe) go on.
                if ARGS.seconds <= 0:
                    while True:
                        time.sleep(3600)
                time.sleep(ARGS.seconds)
                dst.sendall(data[cut:])
                pipe(src, dst)
                return
            dst.sendall(data)
            sent += len(data)
        if ARGS.fault == "endless":
            listing = what.split(" ", 1)[0].upper() in ("LIST", "MLSD", "NLST")
            for block in filler(listing):
                dst.sendall(block)
    except OSError:
        pass
    end_of_writing(dst)


def relay_lines(src, dst, edit):
    """Forwards line by line, each line (without its LF) passed through `edit`."""
    buf = b""
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            buf += data
            while b"\n" in buf:
                line, buf = buf.split(b"\n", 1)
                dst.sendall(edit(line.decode("latin-1")).encode("latin-1") + b"\n")
    except OSError:
        pass


class ControlSession:
    """One FTP control connection: rewrites passive replies, remembers the last command."""

    def __init__(self, client):
        self.client = client
        self.server = socket.create_connection(("127.0.0.1", ARGS.target_port))
        self.last_command = ""

    def run(self):
        threading.Thread(target=self.client_to_server, daemon=True).start()
        self.server_to_client()

    def client_to_server(self):
        def remember(line):
            self.last_command = line.strip()
            return line
        relay_lines(self.client, self.server, remember)
        end_of_writing(self.server)

    def server_to_client(self):
        relay_lines(self.server, self.client, self.rewrite)
        quiet_close(self.client)
        quiet_close(self.server)

    def rewrite(self, line):
        m = re.match(r"227 .*\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)", line)
        if m:
            port = self.data_listener(int(m.group(5)) * 256 + int(m.group(6)))
            return "227 Entering Passive Mode (127,0,0,1,%d,%d).\r" % (port // 256, port % 256)
        m = re.match(r"229 .*\(\|\|\|(\d+)\|\)", line)
        if m:
            port = self.data_listener(int(m.group(1)))
            return "229 Entering Extended Passive Mode (|||%d|).\r" % port
        if ARGS.announce_size and line.startswith("213 ") and self.size_is_matched():
            return "213 %d\r" % ARGS.announce_size
        return line

    def size_is_matched(self):
        """The last command asked for the size of the file --match names (or any file)."""
        if not self.last_command.upper().startswith("SIZE "):
            return False
        name = ARGS.match.split(" ", 1)[1] if ARGS.match.upper().startswith("RETR ") else ""
        return not name or self.last_command[5:].strip() == name

    def data_listener(self, server_port):
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)

        def accept():
            try:
                client, _ = listener.accept()
            except OSError:
                return
            finally:
                quiet_close(listener)
            server = socket.create_connection(("127.0.0.1", server_port))
            threading.Thread(target=pipe, args=(client, server), daemon=True).start()
            # The server sends only once the transfer's command has gone out.
            first = server.recv(65536)
            what = self.last_command
            if not claim_fault(what):
                if first:
                    client.sendall(first)
                pipe(server, client)
                return
            forward_with_fault(first, server, client, what)

        threading.Thread(target=accept, daemon=True).start()
        return listener.getsockname()[1]


def forward_with_fault(first, server, client, what):
    """Sends `first` (already read from the server) and the rest with the fault."""

    class Prefixed:
        def __init__(self, sock, head):
            self.sock, self.head = sock, head

        def recv(self, n):
            if self.head:
                head, self.head = self.head, b""
                return head
            return self.sock.recv(n)

    faulty_pipe(Prefixed(server, first), client, what, client, server)


def serve_plain(client):
    head = b""
    client.settimeout(5)
    try:
        head = client.recv(65536)
    except OSError:
        pass
    client.settimeout(None)
    if not head:  # a readiness probe, or a client that gave up
        quiet_close(client)
        return
    what = head.decode("latin-1").split("\r\n", 1)[0]
    faulted = claim_fault(what)
    if faulted and ARGS.fault == "chunked":
        try:
            client.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                           b"Content-Type: application/octet-stream\r\n\r\n")
            chunk = b"%x\r\n%s\r\n" % (65536, b"\0" * 65536)
            while True:
                client.sendall(chunk)
        except OSError:
            pass
        quiet_close(client)
        return
    server = socket.create_connection(("127.0.0.1", ARGS.target_port))
    if head:
        server.sendall(head)
    threading.Thread(target=pipe, args=(client, server), daemon=True).start()
    if faulted:
        faulty_pipe(server, client, what, client, server)
    else:
        pipe(server, client)


def handle(client):
    try:
        if ARGS.ftp:
            ControlSession(client).run()
        else:
            serve_plain(client)
    except OSError:
        quiet_close(client)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--target-port", type=int, required=True)
    parser.add_argument("--ftp", action="store_true")
    parser.add_argument("--fault", required=True,
                        choices=["none", "reset", "close", "stall", "endless", "chunked"])
    parser.add_argument("--match", default="")
    parser.add_argument("--after", type=int, default=0)
    parser.add_argument("--seconds", type=float, default=0)
    parser.add_argument("--times", type=int, default=0)
    parser.add_argument("--announce-size", type=int, default=0)
    parser.add_argument("--faults-file", default="")
    ARGS = parser.parse_args()

    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", ARGS.port))
    listener.listen(64)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=handle, args=(client,), daemon=True).start()


if __name__ == "__main__":
    main()
