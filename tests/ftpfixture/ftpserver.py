"""FTP server for the tests: a real pyftpdlib server on 127.0.0.1 that logs
every command and can be told to misbehave.

Misbehaviour is read from a JSON control file before each command, so a test
can switch it while a client stays connected:
  refuse:     [{"cmd": "RNTO", "arg": "cam.jpg", "times": 5}]  reply 550
  reply421:   [{"cmd": "STOR", "times": 1}]  reply 421 and close the connection
  silent:     true  no greeting, no replies (a server that stops answering)
  drop_after: N   close data and control connections after N bytes stored
  die_after:  N   the whole process exits after N bytes stored
  read_limit: N   store at most N bytes per second, as over a slow link
"""

import argparse
import json
import os
import socket
import sys

import logging

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
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
            return True
        return False

    def value(self, name, default=0):
        return self.current().get(name, default)


class Log:
    def __init__(self, path):
        self.f = open(path, "a", encoding="utf-8", buffering=1)

    def write(self, line):
        self.f.write(line + "\n")


FAULTS = None
LOG = None


class DataHandler(ThrottledDTPHandler):
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

    # The event loop calls this name, bound to the base class's reader.
    handle_read_event = handle_read


class Handler(FTPHandler):
    dtp_handler = DataHandler
    auth_failed_timeout = 0
    permit_foreign_addresses = False

    idle_timeout = 0
    _idle = None

    def handle(self):
        LOG.write("CONNECT")
        self.arm_idle_timer()
        if FAULTS.value("silent", False):
            return
        super().handle()

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
        if FAULTS.take("refuse", cmd, arg):
            self.respond("550 Refused by the test.")
            return
        super().pre_process_command(line, cmd, arg)


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
    a = p.parse_args()

    logging.basicConfig(level=logging.WARNING)
    FAULTS = Faults(a.control)
    LOG = Log(a.log)
    auth = DummyAuthorizer()
    auth.add_user(a.user, a.password, a.root, perm="elradfmwMT")
    Handler.authorizer = auth
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
