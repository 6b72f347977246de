#!/usr/bin/python3
"""Loopback FTP server for the transfer tests and the local demo.

Serves ROOT to one account on 127.0.0.1, prints the bound port on stdout as
one line once it accepts connections, then serves until killed.  Run it with
/usr/bin/python3: the interpreter first on PATH may not see Debian's
python3-pyftpdlib.
"""

import argparse
import logging
import os
import sys

try:
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
    from pyftpdlib.servers import FTPServer
except ImportError as err:  # the C++ fixture turns this line into its failure message
    sys.stderr.write("VELDA-FTP-SERVER: cannot import pyftpdlib (%s); "
                     "install python3-pyftpdlib\n" % err)
    sys.exit(3)


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--root", required=True, help="folder served as the account's root")
    parser.add_argument("--user", default="velda")
    secret = parser.add_mutually_exclusive_group(required=True)
    secret.add_argument("--password", help="the account's password (visible to every user in ps: tests only)")
    secret.add_argument("--password-file", metavar="FILE",
                        help="file whose first line is the account's password")
    parser.add_argument("--port", type=int, default=0, help="0 lets the system choose")
    parser.add_argument("--rate", type=int, default=0,
                        help="bytes per second each data connection may move (0: unlimited)")
    parser.add_argument("--read-only", action="append", default=[], metavar="DIR",
                        help="folder below ROOT where the account may list and read only")
    parser.add_argument("--no-mlst", action="store_true",
                        help="answer MLST/MLSD with 500, like servers that lack them")
    parser.add_argument("--auth-failed-delay", type=float, default=0.2,
                        help="seconds before a wrong password is answered (pyftpdlib's own default is 3)")
    parser.add_argument("--events", help="file that receives one line per connect and login")
    parser.add_argument("--full-after", type=int, default=-1, metavar="BYTES",
                        help="the disk is full once a file being written holds BYTES bytes")
    parser.add_argument("--extra-reply", metavar="VERB",
                        help="answer the first VERB the server gets twice, as servers do with a command "
                             "line they cut in two")
    parser.add_argument("--rename-race", action="store_true",
                        help="the first RNTO finds its file gone, as when another client moved it between RNFR "
                             "and RNTO, and is refused with 550 as vsftpd refuses it")
    parser.add_argument("--tls-cert", metavar="FILE",
                        help="speak explicit TLS (AUTH TLS) with this certificate; a certificate and key "
                             "replaced in their files take over at once")
    parser.add_argument("--tls-key", metavar="FILE", help="the certificate's private key")
    parser.add_argument("--tls-required", action="store_true",
                        help="refuse USER and PASS until the control connection is encrypted, and plain data "
                             "connections")
    parser.add_argument("--tls13-only", action="store_true",
                        help="speak TLS 1.3 and nothing older, as servers hardened that way do")
    parser.add_argument("--max-cons", type=int, default=64,
                        help="connections served at once; more are turned away with 421")
    args = parser.parse_args()
    if args.password_file:
        try:
            with open(args.password_file, encoding="utf-8") as f:
                args.password = f.readline().rstrip("\r\n")
        except OSError as err:
            parser.error("cannot read the password file: %s" % err)
        if not args.password:
            parser.error("the password file %s is empty" % args.password_file)
    return args


def passive_ports():
    """Ports above the system's range for outgoing connections, or None to let the kernel choose.

    A batch of thousands of drawings on loopback leaves tens of thousands of closed connections waiting
    out their time; a passive port taken from the system's range must be one none of them holds, and
    once that range is used up the server cannot open a data connection at all. Ports of their own,
    bound with SO_REUSEADDR, stay usable, as with an office server's configured passive range."""
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range", encoding="ascii") as f:
            low, high = (int(v) for v in f.read().split())
    except (OSError, ValueError):
        return None
    if 65535 - high >= 1000:
        return range(high + 1, 65536)
    if low - 1024 >= 1000:
        return range(1024, low)
    return None


def main():
    args = parse_args()
    root = os.path.abspath(args.root)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, root, perm="elradfmwMT")
    for folder in args.read_only:
        path = os.path.join(root, folder)
        os.makedirs(path, exist_ok=True)
        authorizer.override_perm(args.user, path, "elr", recursive=True)

    events = open(args.events, "a", buffering=1, encoding="utf-8") if args.events else None

    base = FTPHandler
    if args.tls_cert:
        try:
            from pyftpdlib.handlers import TLS_FTPHandler
        except ImportError as err:
            sys.stderr.write("VELDA-FTP-SERVER: no TLS in pyftpdlib (%s); install python3-openssl\n" % err)
            sys.exit(3)
        base = TLS_FTPHandler

    class Handler(base):
        def pre_process_command(self, line, cmd, arg):
            # What crossed the wire readable by anyone: the tests look for the password in it.
            if events and not getattr(self, "_ssl_established", False):
                events.write("CLEAR %s\n" % line)
            base.pre_process_command(self, line, cmd, arg)

        def on_connect(self):
            if events:
                events.write("CONNECT %s:%d\n" % (self.remote_ip, self.remote_port))

        def on_login(self, username):
            if events:
                events.write("LOGIN %s\n" % username)

        def on_login_failed(self, username, password):
            if events:
                events.write("LOGIN-FAILED %s\n" % username)

    if args.extra_reply:
        extra_verb = args.extra_reply.upper()

        extra_pending = [True]

        def process_command(self, cmd, *cmd_args, **kwargs):
            base.process_command(self, cmd, *cmd_args, **kwargs)
            if cmd == extra_verb and extra_pending[0]:
                extra_pending[0] = False
                self.respond("500 Command not understood.")

        Handler.process_command = process_command

    if args.rename_race:
        race_pending = [True]

        def ftp_RNTO(self, path):
            if race_pending[0] and self._rnfr:
                race_pending[0] = False
                os.remove(self._rnfr)
                self._rnfr = None
                self.respond("550 Rename failed.")
                return
            return base.ftp_RNTO(self, path)

        Handler.ftp_RNTO = ftp_RNTO

    if args.full_after >= 0:
        import errno
        from pyftpdlib.filesystems import AbstractedFS
        limit = args.full_after
        disk_full = [False]

        class FullFile:
            def __init__(self, f):
                self._f = f
                self._n = 0

            def write(self, data):
                room = limit - self._n
                if len(data) > room:
                    self._f.write(data[:max(0, room)])
                    self._n = limit
                    disk_full[0] = True
                    raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))
                self._n += len(data)
                return self._f.write(data)

            def __getattr__(self, name):
                return getattr(self._f, name)

        class FullFS(AbstractedFS):
            def open(self, filename, mode):
                f = AbstractedFS.open(self, filename, mode)
                return FullFile(f) if ("w" in mode or "a" in mode) else f

        Handler.abstracted_fs = FullFS

        # pyftpdlib loses the error number and answers "426 None"; a server that knows its disk is
        # full answers 552, as the standard has it.
        base_dtp = Handler.dtp_handler

        class FullDiskDTP(base_dtp):
            def handle_error(self):
                if not disk_full[0]:
                    return base_dtp.handle_error(self)
                disk_full[0] = False
                self._resp = ("552 No space left on device; transfer aborted.", logging.getLogger().warning)
                self.close()

        Handler.dtp_handler = FullDiskDTP

    if args.tls_cert:
        Handler.certfile = args.tls_cert
        Handler.keyfile = args.tls_key
        Handler.tls_control_required = args.tls_required
        Handler.tls_data_required = args.tls_required
        # Clients resume the control connection's TLS session on each data connection (vsftpd even
        # demands it); OpenSSL refuses a resumption on a context without a session id context.
        from OpenSSL import SSL

        def load_context():
            context = SSL.Context(SSL.SSLv23_METHOD)
            context.use_certificate_chain_file(args.tls_cert)
            context.use_privatekey_file(args.tls_key)
            context.check_privatekey()
            context.set_session_id(b"velda-test")
            if args.tls13_only:
                context.set_min_proto_version(SSL.TLS1_3_VERSION)
            return context

        def files_stamp():
            return tuple((s.st_mtime_ns, s.st_size) for s in map(os.stat, (args.tls_cert, args.tls_key)))

        Handler.ssl_context = load_context()
        loaded = [files_stamp()]

        def fresh_context():
            """A certificate replaced in its files is shown to every connection opened since, as by a
            server whose key was changed; connections already secured keep theirs while they last. A pair caught half
            replaced (key and certificate apart) leaves the one in use until the next look."""
            try:
                stamp = files_stamp()
                if stamp != loaded[0]:
                    Handler.ssl_context = load_context()
                    loaded[0] = stamp
            except (OSError, SSL.Error):
                pass

        def ftp_AUTH(self, line):
            fresh_context()
            return base.ftp_AUTH(self, line)

        Handler.ftp_AUTH = ftp_AUTH

        # libcurl secures a data connection as soon as it is open, before it sends the transfer
        # command; pyftpdlib takes a data connection that is readable before that command for one
        # the client dropped and closes it in the middle of the handshake.
        from pyftpdlib.handlers import TLS_DTPHandler

        class EagerTlsDTP(TLS_DTPHandler):
            def __init__(self, sock, cmd_channel):
                fresh_context()
                TLS_DTPHandler.__init__(self, sock, cmd_channel)

            def readable(self):
                if self._ssl_accepting or self._ssl_want_read:
                    return True
                if not self.receive and not self._initialized:
                    return False
                return TLS_DTPHandler.readable(self)

        Handler.dtp_handler = EagerTlsDTP

    Handler.authorizer = authorizer
    Handler.passive_ports = passive_ports()
    Handler.banner = "VELDA test server ready."
    # pyftpdlib answers a wrong password only after 3 s, which a client counts into its connect timeout.
    Handler.auth_failed_timeout = args.auth_failed_delay
    if args.no_mlst:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items()
                              if k not in ("MLST", "MLSD")}
    if args.rate > 0:
        class Throttled(ThrottledDTPHandler):
            read_limit = args.rate
            write_limit = args.rate
        Handler.dtp_handler = Throttled

    server = FTPServer(("127.0.0.1", args.port), Handler)
    server.max_cons = args.max_cons
    if args.tls_cert:
        def watch_certificate():
            # As a server restarted on a new key: the sessions secured with the old one end once no
            # transfer is under way, and their clients meet the new key on their next connection.
            fresh_context()
            for handler in list(server.ioloop.socket_map.values()):
                if (isinstance(handler, Handler) and handler.data_channel is None
                        and isinstance(handler.socket, SSL.Connection)
                        and handler.socket.get_context() is not Handler.ssl_context):
                    handler.close()

        server.ioloop.call_every(0.1, watch_certificate)
    sys.stdout.write("%d\n" % server.socket.getsockname()[1])
    sys.stdout.flush()
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
