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
import subprocess
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def make_certificate(path):
    """A fresh self-signed certificate and its key, for 127.0.0.1 and localhost."""
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
                    "-subj", "/CN=zodaru test server", "-addext",
                    "subjectAltName=IP:127.0.0.1,DNS:localhost",
                    "-keyout", path, "-out", path + ".crt"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(path, "ab") as out, open(path + ".crt", "rb") as crt:
        out.write(crt.read())
    os.remove(path + ".crt")


def tls_handler(args):
    from OpenSSL import SSL
    from OpenSSL._util import lib as ssl_lib
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

    def make_context(path):
        make_certificate(path)
        context = SSL.Context(SSL.TLS_SERVER_METHOD)
        context.set_min_proto_version(SSL.TLS1_2_VERSION)
        context.use_certificate_chain_file(path)
        context.use_privatekey_file(path)
        # Lets data connections resume the control connection's session.
        context.set_session_id(b"zodaru-test")
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
    parser.add_argument("--tls", choices=["explicit", "implicit"],
                        help="offer AUTH TLS, or speak TLS from the first byte")
    parser.add_argument("--cert", help="where to write the fresh certificate and key (PEM)")
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

    Handler = tls_handler(args) if args.tls else type("Handler", (FTPHandler,), {})
    Handler.abstracted_fs = LinkReportingFS
    Handler.authorizer = authorizer
    Handler.banner = "pyftpdlib test server ready."
    Handler.permit_foreign_addresses = False
    if args.drop_first_session:
        Handler = dropping_first_session(Handler, args.drop_first_session)

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
