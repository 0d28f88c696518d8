# SPDX-License-Identifier: GPL-3.0-or-later
"""Real FTP server for the end-to-end tests, on 127.0.0.1 and a port the OS picks.

Prints the port on standard output once it accepts connections, then serves until it is
terminated (SIGTERM) or its standard input closes, so that it never outlives the test that
started it. pyftpdlib's own log goes to a file so that test output stays readable.
"""
import argparse
import logging
import os
import signal
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class LinkReportingFS(AbstractedFS):
    """Names symbolic links in MLSD as links ("type=OS.unix=slink:<target>"), the way
    ProFTPD does; pyftpdlib alone reports what they lead to, and the tests of link handling
    need a server that tells."""

    def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
        for line in super().format_mlsx(basedir, listing, perms, facts, ignore_err):
            text = line.decode("utf-8", "surrogateescape") if isinstance(line, bytes) else line
            facts_part, _, name = text.partition(" ")
            path = os.path.join(basedir, name.rstrip("\r\n"))
            if os.path.islink(path):
                target = os.readlink(path)
                facts_part = ";".join("type=OS.unix=slink:" + target if f.startswith("type=") else f
                                      for f in facts_part.split(";"))
                text = facts_part + " " + name
            yield text.encode("utf-8", "surrogateescape") if isinstance(line, bytes) else text


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--reader", action="store_true",
                        help='add "reader"/"secret" with read-only rights')
    parser.add_argument("--no-anonymous", action="store_true")
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (::1 for IPv6)")
    args = parser.parse_args()

    logging.basicConfig(filename=args.log, level=logging.INFO,
                        format="%(asctime)s %(message)s")

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    if args.reader:
        authorizer.add_user("reader", "secret", args.root, perm="elr")
    if not args.no_anonymous:
        authorizer.add_anonymous(args.root, perm="elr")

    class Handler(FTPHandler):
        abstracted_fs = LinkReportingFS

    Handler.authorizer = authorizer
    Handler.banner = "pyftpdlib test server ready."
    Handler.permit_foreign_addresses = False

    server = FTPServer((args.host, 0), Handler)
    server.max_cons = 64

    def stop(*_):
        server.close_all()
        os._exit(0)

    signal.signal(signal.SIGTERM, stop)

    # The parent closes our stdin when it goes away, even if it crashed.
    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        except Exception:
            pass
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()

    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
