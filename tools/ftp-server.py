#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A pyftpdlib server on this machine only, for the tests, the demo and the tools.

Listens on 127.0.0.1 (or ::1) on a port the system picks and prints that port, alone on
one line, once it accepts connections. SIGTERM or SIGINT stop it; with --exit-with-stdin it
also stops when its standard input closes, so that it never outlives a test that started it
and crashed. pyftpdlib's own log goes to --log (standard error without it).

Serves --root, or with --sample-tree a freshly made tree of files of a few sizes, folders
two levels deep and a symbolic link, removed again on the way out. Symbolic links are named
as links in MLSD ("type=OS.unix=slink:<target>"), as ProFTPD does.

Accounts: --user/--password with every right; "reader"/"secret" read-only with --reader;
anonymous read-only unless --no-anonymous. TLS (--tls) uses a self-signed certificate made
at each start, for 127.0.0.1 and localhost, written to --cert.

Run it with /usr/bin/python3: it needs pyftpdlib (Debian package python3-pyftpdlib) and,
for TLS, python3-openssl.
"""
import argparse
import logging
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

MIB = 1024 * 1024


def pattern(size):
    """Bytes whose content depends on the offset, so a shifted or truncated copy shows."""
    block = bytes(range(256)) * 64
    whole, rest = divmod(size, len(block))
    return block * whole + block[:rest]


def make_sample_tree(root, user, password):
    def write(rel, data):
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    write("README.txt", b"Zodaru demo server.\r\nLogin %s, password %s.\r\n"
          % (user.encode(), password.encode()))
    write("empty.txt", b"")
    write("notes.txt", b"".join(b"line %d of the notes\n" % i for i in range(200)))
    write("data-64k.bin", pattern(64 * 1024))
    write("archive-3m.bin", pattern(3 * MIB + 12345))
    write("docs/manual.txt", b"Select files on the right, then press Get files.\n")
    write("docs/guides/upload.txt", b"Select files on the left, then press Put files.\n")
    write("docs/guides/chunk-16k.bin", pattern(16384))
    write("pictures/holiday/beach.raw", pattern(200 * 1024 + 7))
    os.makedirs(os.path.join(root, "incoming"), exist_ok=True)
    # Relative, so the link stays inside the served tree wherever it lives.
    os.symlink("docs/manual.txt", os.path.join(root, "manual-link.txt"))


def make_certificate(path, name):
    """A fresh self-signed certificate and its key in one PEM file, for 127.0.0.1."""
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "30",
                    "-subj", "/CN=" + name, "-addext",
                    "subjectAltName=IP:127.0.0.1,DNS:localhost",
                    "-keyout", path, "-out", path + ".crt"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    with open(path, "ab") as out, open(path + ".crt", "rb") as crt:
        out.write(crt.read())
    os.remove(path + ".crt")


def tls_handler(args):
    from OpenSSL import SSL
    from OpenSSL._util import lib as ssl_lib
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

    def make_context(path):
        make_certificate(path, args.name)
        context = SSL.Context(SSL.TLS_SERVER_METHOD)
        context.set_min_proto_version(SSL.TLS1_2_VERSION)
        context.use_certificate_chain_file(path)
        context.use_privatekey_file(path)
        # Lets data connections resume the control connection's session.
        context.set_session_id(b"zodaru-ftp-server")
        return context

    context = make_context(args.cert)
    data_context = make_context(args.cert + ".data") if args.other_data_cert else context

    class DTP(TLS_DTPHandler):
        def secure_connection(self, ssl_context):
            super().secure_connection(data_context)

        def send(self, data):
            # A write would complete the handshake on its own and skip the check below.
            return 0 if self._ssl_accepting else super().send(data)

        def handle_ssl_established(self):
            if args.require_reuse and not ssl_lib.SSL_session_reused(self.socket._ssl):
                self.cmd_channel.respond("522 Data connection must reuse the TLS session.")
                self._error = True
                self.close()

        def close(self):
            # An upload is whole only when the client said so with close_notify: a bare
            # end of stream may be a cut.
            if (self._ssl_established and self.receive and self.transfer_finished and not self._error
                    and not self.socket.get_shutdown() & SSL.RECEIVED_SHUTDOWN):
                self.transfer_finished = False
                self._resp = ("426 Upload ended without close_notify.", logging.info)
            # Marked as failed, the connection closes without close_notify.
            self._error = self._error or args.cut_tls_data
            super().close()

    class Handler(TLS_FTPHandler):
        def handle(self):
            if args.tls == "implicit":
                # The greeting waits in the output buffer until the handshake is done.
                self.secure_connection(self.ssl_context)
            super().handle()

        def ftp_PROT(self, line):
            if args.refuse_prot:
                self.respond("534 Data protection refused by policy.")
            else:
                super().ftp_PROT(line)

    Handler.ssl_context = context
    Handler.dtp_handler = DTP
    return Handler


def dropping_first_session(base, seconds):
    """The first session to log in is closed with a 421 after `seconds`, as servers close
    sessions idle for too long (pyftpdlib's own idle timer does not run under TLS)."""
    dropped = []

    class Handler(base):
        def on_login(self, username):
            super().on_login(username)
            if not dropped:
                dropped.append(self)
                self.ioloop.call_later(seconds, self.drop)

        def drop(self):
            self.respond("421 Idle for too long.")
            self.close_when_done()

    return Handler


class LinkReportingFS(AbstractedFS):
    """Names symbolic links in MLSD as links; pyftpdlib alone reports what they lead to."""

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


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--root", help="the directory to serve")
    where.add_argument("--sample-tree", action="store_true",
                       help="serve a sample tree made in a temporary directory")
    parser.add_argument("--log", help="pyftpdlib's log file (standard error without it)")
    parser.add_argument("--name", default="zodaru ftp server",
                        help="shown in the greeting and the certificate's subject")
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--reader", action="store_true",
                        help='add "reader"/"secret" with read-only rights')
    parser.add_argument("--no-anonymous", action="store_true")
    parser.add_argument("--tls", choices=["explicit", "implicit"],
                        help="offer AUTH TLS, or speak TLS from the first byte")
    parser.add_argument("--tls-optional", action="store_true",
                        help="serve in clear (saying why on stderr) when TLS cannot be set up")
    parser.add_argument("--cert", help="where to write the fresh certificate and key (PEM); "
                        "a temporary file without it")
    parser.add_argument("--require-reuse", action="store_true",
                        help="refuse TLS data connections that do not resume the session")
    parser.add_argument("--other-data-cert", action="store_true",
                        help="present another certificate on TLS data connections")
    parser.add_argument("--cut-tls-data", action="store_true",
                        help="end TLS data connections without close_notify")
    parser.add_argument("--refuse-prot", action="store_true",
                        help="refuse PROT, so that data connections cannot be encrypted")
    parser.add_argument("--drop-first-session", type=float, default=0,
                        help="close the first session that many seconds after its login (421)")
    parser.add_argument("--throttle", type=int, default=0,
                        help="bytes per second each data connection in clear may move (0: no limit)")
    parser.add_argument("--max-connections", type=int, default=0,
                        help="control connections served at once from one address; one more "
                             "is answered 421 (0: up to 64 in all)")
    parser.add_argument("--host", default="127.0.0.1", choices=["127.0.0.1", "::1"],
                        help="address to listen on")
    parser.add_argument("--exit-with-stdin", action="store_true",
                        help="stop when standard input closes")
    return parser.parse_args()


def main():
    args = parse_args()
    if args.log:
        logging.basicConfig(filename=args.log, level=logging.INFO, format="%(asctime)s %(message)s")
    else:
        logging.basicConfig(stream=sys.stderr, level=logging.INFO, format="%(asctime)s %(message)s")

    temp = tempfile.mkdtemp(prefix="zodaru-ftp-")
    cleanup = lambda: shutil.rmtree(temp, ignore_errors=True)  # noqa: E731
    if args.sample_tree:
        root = os.path.join(temp, "ftp")
        os.mkdir(root)
        make_sample_tree(root, args.user, args.password)
    else:
        root = os.path.abspath(args.root)
    args.cert = args.cert or os.path.join(temp, "server.pem")

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, root, perm="elradfmwMT")
    if args.reader:
        authorizer.add_user("reader", "secret", root, perm="elr")
    if not args.no_anonymous:
        authorizer.add_anonymous(root, perm="elr")

    Handler = None
    if args.tls:
        try:
            Handler = tls_handler(args)
        except Exception as e:
            if not args.tls_optional:
                raise
            print("ftp server: no TLS (%s), serving in clear" % e, file=sys.stderr, flush=True)
    if Handler is None:
        Handler = type("Handler", (FTPHandler,), {})
    Handler.abstracted_fs = LinkReportingFS
    Handler.authorizer = authorizer
    Handler.banner = args.name + " ready."
    Handler.permit_foreign_addresses = False
    # Names are bytes: those that are not UTF-8 come and go unchanged, as on a Unix server,
    # in listings, in commands and in the replies that name a path.
    Handler.unicode_errors = "surrogateescape"
    Handler.push = lambda self, s: super(FTPHandler, self).push(s.encode("utf8", "surrogateescape"))
    if args.drop_first_session:
        Handler = dropping_first_session(Handler, args.drop_first_session)
    if args.throttle > 0 and not args.tls:
        Handler.dtp_handler = type("ThrottledDTP", (ThrottledDTPHandler,),
                                   {"read_limit": args.throttle, "write_limit": args.throttle})

    server = FTPServer((args.host, 0), Handler)
    server.max_cons = 64
    server.max_cons_per_ip = args.max_connections

    def stop(_signum, _frame):
        # At once: a test waits for this before its next case.
        server.close_all()
        cleanup()
        os._exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    if args.exit_with_stdin:
        # The parent closes our stdin when it goes away, even if it crashed.
        def watch_stdin():
            try:
                while sys.stdin.buffer.read(4096):
                    pass
            except Exception:
                pass
            cleanup()
            os._exit(0)

        threading.Thread(target=watch_stdin, daemon=True).start()

    print(server.address[1], flush=True)
    try:
        server.serve_forever(handle_exit=False)
    finally:
        server.close_all()
        cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
