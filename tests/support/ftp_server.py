"""FTP server for the transfer and patch-session tests (pyftpdlib, one process per test).

Besides serving a directory it can misbehave on purpose: refuse the first N RETR of a file,
send only the first bytes of a file, hide MLSD, throttle every transfer, or stall it; with
--drive-pwd it names its root the way a Windows server does (257 "C:\ftproot").
Every accepted control connection appends one line to --connections-file, every RETR
appends the file's name to --retrievals-file, and every command line received is appended
to --commands-file.
"""
import argparse
import io
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


DRIVE_ROOT = "C:\\ftproot"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="patch")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--passive-ports", default="")
    parser.add_argument("--no-mlsd", action="store_true")
    parser.add_argument("--refuse-retr", action="append", default=[], help="NAME:COUNT")
    parser.add_argument("--truncate", action="append", default=[], help="NAME:BYTES")
    parser.add_argument("--stall", action="store_true", help="accept RETR, then send nothing")
    parser.add_argument("--refuse-rest", action="store_true",
                        help="answer 502 to REST of any offset but 0")
    parser.add_argument("--stall-file", action="append", default=[],
                        help="as --stall, for this file name only")
    parser.add_argument("--slow", type=int, default=0, help="send at most BYTES a second")
    parser.add_argument("--steady", type=int, default=0,
                        help="send BYTES a second in small pieces, all along the transfer")
    parser.add_argument("--retrievals-file", default="")
    parser.add_argument("--connections-file", default="")
    parser.add_argument("--commands-file", default="")
    parser.add_argument("--drive-pwd", action="store_true",
                        help='answer PWD with a drive path, accept CWD to it')
    args = parser.parse_args()

    refuse = {}
    for item in args.refuse_retr:
        name, count = item.rsplit(":", 1)
        refuse[name] = int(count)
    truncate = {}
    for item in args.truncate:
        name, size = item.rsplit(":", 1)
        truncate[name] = int(size)

    class FS(AbstractedFS):
        def open(self, filename, mode):
            base = os.path.basename(filename)
            if base in truncate and "r" in mode:
                with open(filename, "rb") as f:
                    data = f.read(truncate[base])
                buf = io.BytesIO(data)
                buf.name = filename
                return buf
            return super().open(filename, mode)

    class Handler(FTPHandler):
        def on_connect(self):
            if args.connections_file:
                with open(args.connections_file, "a") as f:
                    f.write("connect\n")

        def pre_process_command(self, line, cmd, arg):
            if args.commands_file:
                with open(args.commands_file, "a") as f:
                    f.write(line + "\n")
            if args.drive_pwd and cmd in ("CWD", "XCWD") and arg and arg.startswith(DRIVE_ROOT):
                # The drive path names the root: "C:\ftproot" and what lies below it.
                arg = "/" + arg[len(DRIVE_ROOT):].replace("\\", "/").lstrip("/")
            return super().pre_process_command(line, cmd, arg)

        def ftp_PWD(self, line):
            if not args.drive_pwd:
                return super().ftp_PWD(line)
            cwd = self.fs.cwd
            spelled = DRIVE_ROOT + ("" if cwd == "/" else cwd.replace("/", "\\"))
            self.respond('257 "%s" is the current directory.' % spelled)
            return None

        def ftp_REST(self, line):
            if args.refuse_rest and line.strip() not in ("", "0"):
                self.respond("502 Command not implemented.")
                return None
            return super().ftp_REST(line)

        def ftp_RETR(self, file):
            base = os.path.basename(file)
            if args.retrievals_file:
                with open(args.retrievals_file, "a") as f:
                    f.write(base + "\n")
            if args.stall or base in args.stall_file:
                # The data connection stays open and idle: a transfer that never moves.
                self.respond("150 File status okay. About to open data connection.")
                return None
            if refuse.get(base, 0) > 0:
                refuse[base] -= 1
                self.respond("550 Try again later.")
                return None
            return super().ftp_RETR(file)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elr")
    Handler.authorizer = authorizer
    Handler.abstracted_fs = FS
    Handler.banner = "test server ready"
    if args.no_mlsd:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items()
                              if k not in ("MLSD", "MLST")}
    if args.slow:
        # Whole chunks go out at once, then the sender sleeps to keep the average rate.
        class SlowDTPHandler(ThrottledDTPHandler):
            write_limit = args.slow
        Handler.dtp_handler = SlowDTPHandler
    if args.steady:
        # A tenth of the rate every tenth of a second, in small pieces: the transfer moves
        # all the time instead of in one burst a second.
        class SteadyDTPHandler(ThrottledDTPHandler):
            write_limit = max(1, args.steady // 10)
            ac_out_buffer_size = 4096

            def _throttle_bandwidth(self, len_chunk, max_speed):
                self._datacount += len_chunk
                if self._datacount < max_speed:
                    return
                self._datacount = 0
                now = time.monotonic()
                wait = self._timenext - now
                self._timenext = max(now, self._timenext) + 0.1
                if wait > 0:
                    def unsleep():
                        self.add_channel(events=self.ioloop.WRITE)

                    self.del_channel()
                    self._cancel_throttler()
                    self._throttler = self.ioloop.call_later(
                        wait, unsleep, _errback=self.handle_error)
        Handler.dtp_handler = SteadyDTPHandler
    if args.passive_ports:
        low, high = args.passive_ports.split("-")
        Handler.passive_ports = range(int(low), int(high) + 1)

    server = FTPServer(("127.0.0.1", args.port), Handler)
    server.max_cons = 256
    sys.stdout.write("ready\n")
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()
