# SPDX-License-Identifier: GPL-3.0-or-later
"""A small FTP server to try the client against, on this machine only.

Serves a freshly made sample tree (files of a few sizes, one of a few MiB, folders two
levels deep and a symbolic link) from a temporary directory, to the user "demo" with the
password "demo" and every permission. Listens on 127.0.0.1 on a port the system picks and
prints that port, alone on one line, once it accepts connections. SIGTERM or SIGINT stop it;
the temporary tree is removed on the way out.

The server offers explicit TLS (AUTH TLS) with a self-signed certificate made at each start,
so the client shows its certificate question once and then an encrypted session; clients
that do not ask for TLS still get a session in clear. Without openssl or python3-openssl,
or with --no-tls, it serves in clear only.

Run it with /usr/bin/python3: it needs pyftpdlib (Debian package python3-pyftpdlib).
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

USER = "demo"
PASSWORD = "demo"
MIB = 1024 * 1024


def pattern(size):
    """Bytes whose content depends on the offset, so a shifted or truncated copy shows."""
    block = bytes(range(256)) * 64
    whole, rest = divmod(size, len(block))
    return block * whole + block[:rest]


def make_tree(root):
    def write(rel, data):
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    write("README.txt", b"Zodaru demo server.\r\nLogin demo, password demo.\r\n")
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


def make_certificate(directory):
    """A fresh self-signed certificate and its key in one PEM file, for 127.0.0.1."""
    path = os.path.join(directory, "demo-cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "30",
                    "-subj", "/CN=Zodaru demo server", "-addext",
                    "subjectAltName=IP:127.0.0.1,DNS:localhost",
                    "-keyout", path, "-out", path + ".crt"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    with open(path, "ab") as out, open(path + ".crt", "rb") as crt:
        out.write(crt.read())
    os.remove(path + ".crt")
    return path


def tls_handler(directory):
    """The handler class offering AUTH TLS, or None (with the reason on stderr)."""
    try:
        from OpenSSL import SSL
        from pyftpdlib.handlers import TLS_FTPHandler

        certificate = make_certificate(directory)
        context = SSL.Context(SSL.TLS_SERVER_METHOD)
        context.set_min_proto_version(SSL.TLS1_2_VERSION)
        context.use_certificate_chain_file(certificate)
        context.use_privatekey_file(certificate)
        # Data connections may resume the control connection's session.
        context.set_session_id(b"zodaru-demo")
    except Exception as e:  # any missing piece: the demo goes on in clear
        print("demo server: no TLS (%s), serving in clear" % e, file=sys.stderr, flush=True)
        return None

    class Handler(TLS_FTPHandler):
        pass

    Handler.ssl_context = context
    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", help="serve this directory instead of a sample tree")
    parser.add_argument("--no-tls", action="store_true", help="serve in clear only")
    args = parser.parse_args()

    temp = tempfile.mkdtemp(prefix="zodaru-demo-")
    if args.root:
        root = os.path.abspath(args.root)
    else:
        root = os.path.join(temp, "ftp")
        os.mkdir(root)
        make_tree(root)

    authorizer = DummyAuthorizer()
    authorizer.add_user(USER, PASSWORD, root, perm="elradfmwMT")

    Handler = None if args.no_tls else tls_handler(temp)
    if Handler is None:
        class Handler(FTPHandler):
            pass

    Handler.authorizer = authorizer
    Handler.banner = "Zodaru demo server ready."
    # Passive data connections on this machine only, whatever the host's name resolves to.
    Handler.masquerade_address = "127.0.0.1"

    server = FTPServer(("127.0.0.1", 0), Handler)
    server.max_cons = 32

    stopping = []

    def stop(_signum, _frame):
        stopping.append(True)
        # Leaves serve_forever(); the cleanup below then runs on the normal path.
        server.ioloop.close()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    port = server.socket.getsockname()[1]
    print(port, flush=True)
    try:
        server.serve_forever(handle_exit=False)
    except Exception:
        if not stopping:
            raise
    finally:
        server.close_all()
        shutil.rmtree(temp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
