"""FTP server for the tests: a real pyftpdlib server on 127.0.0.1 that logs
every command and can be told to misbehave.

Misbehaviour is read from a JSON control file before each command, so a test
can switch it while a client stays connected:
  refuse:     [{"cmd": "RNTO", "arg": "cam.jpg", "times": 5}]  reply 550 (or "code")
  reply421:   [{"cmd": "STOR", "times": 1}]  reply 421 and close the connection
  silent:     true  no greeting, no replies (a server that stops answering)
  drop_after: N   close data and control connections after N bytes stored
  die_after:  N   the whole process exits after N bytes stored
  read_limit: N   store at most N bytes per second, as over a slow link
  truncate_after: N  keep only the first N bytes of an upload, still answer 226
  withhold:   ["226"]  never send replies with these codes (a server that hangs)
  login_dir:  "sub"  the login directory, below the root (which stays reachable)

With --tls the server speaks explicit (AUTH TLS) or implicit TLS with a
throw-away self-signed certificate; it prints "PIN sha256//..." (the pin of
its public key) before "PORT n".
"""

import argparse
import json
import os
import socket
import sys

import logging

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
try:
    from pyftpdlib.handlers import TLS_FTPHandler, TLS_DTPHandler
except ImportError:  # no pyOpenSSL: plain FTP only
    TLS_FTPHandler = TLS_DTPHandler = None
from pyftpdlib.servers import FTPServer


class Faults:
    def __init__(self, path):
        self.path = path
        self.text = None
        self.rules = {}
        self.counts = {}

    def current(self):
        try:
            with open(self.path, encoding="utf-8") as f:
                text = f.read()
        except OSError:
            text = ""
        if text != self.text:
            try:
                self.rules = json.loads(text) if text.strip() else {}
            except ValueError:
                return self.rules
            self.text = text
            self.counts = {}
        return self.rules

    def take(self, kind, cmd, arg):
        """True when a counted rule of this kind matches the command."""
        for i, rule in enumerate(self.current().get(kind, [])):
            if rule.get("cmd") != cmd:
                continue
            if "arg" in rule and rule["arg"] != arg:
                continue
            used = self.counts.get((kind, i), 0)
            times = rule.get("times", -1)
            if times >= 0 and used >= times:
                continue
            self.counts[(kind, i)] = used + 1
            return rule
        return None

    def value(self, name, default=0):
        return self.current().get(name, default)


class Log:
    def __init__(self, path):
        self.f = open(path, "a", encoding="utf-8", buffering=1)

    def write(self, line):
        self.f.write(line + "\n")


FAULTS = None
LOG = None


def make_handlers(tls):
    if tls:
        # The TLS layer reads through its parent's handle_read_event, which
        # the library binds to its own reader: route it to ours.
        from pyftpdlib.handlers import DTPHandler
        hook = type("ReadHook", (DTPHandler,), {
            "handle_read_event": lambda self: self.handle_read()})
        data = type("DataHandler", (DataMixin, TLS_DTPHandler, hook), {})
    else:
        data = type("DataHandler", (DataMixin, ThrottledDTPHandler), {})
        data.handle_read_event = DataMixin.handle_read
    base_control = TLS_FTPHandler if tls else FTPHandler
    control = type("Handler", (ControlMixin, base_control), {"dtp_handler": data})
    return control


class DataMixin:
    def readable(self):
        # The library closes a data connection that is readable before the
        # transfer command, which is exactly when a TLS client says hello.
        if getattr(self, "_ssl_accepting", False):
            return True
        return super().readable()

    def __init__(self, sock, cmd_channel):
        self.read_limit = FAULTS.value("read_limit")
        if self.read_limit:
            # A slow link, not a slow reader with a huge receive buffer.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 * 1024)
        super().__init__(sock, cmd_channel)
        self.stored = 0

    def handle_read(self):
        before = self.tot_bytes_received
        super().handle_read()
        self.stored += self.tot_bytes_received - before
        keep = FAULTS.value("truncate_after")
        if keep and self.stored > keep and self.file_obj is not None \
                and not self.file_obj.closed:
            self.file_obj.truncate(keep)
            self.file_obj.seek(keep)
        die = FAULTS.value("die_after")
        if die and self.stored >= die:
            LOG.write("DIED")
            os._exit(3)
        drop = FAULTS.value("drop_after")
        if drop and self.stored >= drop:
            LOG.write("DROPPED")
            channel = self.cmd_channel
            self.close()
            channel.close()



class ControlMixin:
    auth_failed_timeout = 0
    implicit_tls = False
    permit_foreign_addresses = False

    idle_timeout = 0
    _idle = None

    def handle(self):
        LOG.write("CONNECT")
        self.arm_idle_timer()
        if FAULTS.value("silent", False):
            return
        if self.implicit_tls:
            self.secure_connection(self.ssl_context)
        super().handle()

    def on_login(self, username):
        sub = FAULTS.value("login_dir", "")
        if sub:
            self.fs.cwd = "/" + sub

    def respond(self, resp, logfun=logging.debug):
        if resp[:3] in FAULTS.value("withhold", []):
            LOG.write("WITHHELD " + resp[:3])
            return
        super().respond(resp, logfun)

    def arm_idle_timer(self):
        # The library's own idle timer is not re-armed reliably after a command.
        if self.idle_timeout <= 0:
            return
        if self._idle is not None and not self._idle.cancelled:
            self._idle.cancel()
        self._idle = self.ioloop.call_later(self.idle_timeout, self.handle_timeout,
                                            _errback=self.handle_error)

    def close(self):
        if self._idle is not None and not self._idle.cancelled:
            self._idle.cancel()
        super().close()

    def pre_process_command(self, line, cmd, arg):
        LOG.write("PASS ***" if cmd == "PASS" else line)
        self.arm_idle_timer()
        if FAULTS.value("silent", False):
            return
        if FAULTS.take("reply421", cmd, arg):
            self.respond("421 Service not available, closing control connection.")
            self.close_when_done()
            return
        refusal = FAULTS.take("refuse", cmd, arg)
        if refusal:
            self.respond("%d Refused by the test." % refusal.get("code", 550))
            return
        super().pre_process_command(line, cmd, arg)


def make_certificate(path, name):
    """A throw-away self-signed certificate; returns its public-key pin."""
    import base64
    import hashlib
    from OpenSSL import crypto
    key = crypto.PKey()
    key.generate_key(crypto.TYPE_RSA, 2048)
    cert = crypto.X509()
    cert.get_subject().CN = name
    cert.set_serial_number(int.from_bytes(os.urandom(8), "big"))
    cert.gmtime_adj_notBefore(-3600)
    cert.gmtime_adj_notAfter(86400)
    cert.set_issuer(cert.get_subject())
    cert.set_pubkey(key)
    alt = ("DNS:%s" % name).encode()
    if name == "localhost":
        alt += b",IP:127.0.0.1"
    cert.add_extensions([
        crypto.X509Extension(b"subjectAltName", False, alt),
        crypto.X509Extension(b"basicConstraints", True, b"CA:TRUE"),
    ])
    cert.sign(key, "sha256")
    with open(path, "wb") as f:
        f.write(crypto.dump_certificate(crypto.FILETYPE_PEM, cert))
        f.write(crypto.dump_privatekey(crypto.FILETYPE_PEM, key))
    spki = crypto.dump_publickey(crypto.FILETYPE_ASN1, key)
    return "sha256//" + base64.b64encode(hashlib.sha256(spki).digest()).decode()


def main():
    global FAULTS, LOG
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--control", required=True)
    p.add_argument("--log", required=True)
    p.add_argument("--user", default="user")
    p.add_argument("--password", default="secret")
    p.add_argument("--idle-timeout", type=float, default=0)
    p.add_argument("--tls", choices=["explicit", "implicit"])
    p.add_argument("--tls-required", action="store_true")
    p.add_argument("--cert-name", default="localhost")
    a = p.parse_args()

    logging.basicConfig(level=logging.WARNING)
    FAULTS = Faults(a.control)
    LOG = Log(a.log)
    auth = DummyAuthorizer()
    auth.add_user(a.user, a.password, a.root, perm="elradfmwMT")
    Handler = make_handlers(a.tls)
    Handler.authorizer = auth
    if a.tls:
        cert = os.path.join(os.path.dirname(a.control), "cert.pem")
        pin = make_certificate(cert, a.cert_name)
        Handler.certfile = cert
        Handler.implicit_tls = a.tls == "implicit"
        Handler.tls_control_required = Handler.tls_data_required = True
        print("PIN " + pin, flush=True)
    elif a.tls_required:
        # A plain server that refuses logins the way TLS-only servers do.
        Handler.proto_cmds = dict(Handler.proto_cmds)
        Handler.ftp_USER = lambda self, line: self.respond(
            "550 SSL/TLS required on the control channel.")
    Handler.idle_timeout = a.idle_timeout
    server = FTPServer(("127.0.0.1", a.port), Handler)
    print("PORT %d" % server.address[1], flush=True)
    try:
        server.serve_forever(handle_exit=False)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
