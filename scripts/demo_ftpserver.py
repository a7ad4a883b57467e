#!/usr/bin/python3
"""A throw-away FTP server on 127.0.0.1 for the demo: one user, one folder,
TLS required on the control and the data connections (explicit, AUTH TLS)
with a self-signed certificate made at start. Prints the port, then the pin
of the certificate's public key (sha256//...) for the client's settings."""
import argparse
import base64
import hashlib
import logging
import os
import sys

from OpenSSL import crypto
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def make_certificate(path):
    key = crypto.PKey()
    key.generate_key(crypto.TYPE_RSA, 2048)
    cert = crypto.X509()
    cert.get_subject().CN = "localhost"
    cert.set_serial_number(int.from_bytes(os.urandom(8), "big"))
    cert.gmtime_adj_notBefore(-3600)
    cert.gmtime_adj_notAfter(30 * 86400)
    cert.set_issuer(cert.get_subject())
    cert.set_pubkey(key)
    cert.sign(key, "sha256")
    with open(path, "wb") as f:
        f.write(crypto.dump_certificate(crypto.FILETYPE_PEM, cert))
        f.write(crypto.dump_privatekey(crypto.FILETYPE_PEM, key))
    os.chmod(path, 0o600)
    spki = crypto.dump_publickey(crypto.FILETYPE_ASN1, key)
    return "sha256//" + base64.b64encode(hashlib.sha256(spki).digest()).decode()


class DataHandler(TLS_DTPHandler):
    def readable(self):
        # The library drops a data connection that speaks before the transfer
        # command, which a TLS client does with its hello.
        if self._ssl_accepting:
            return True
        return super().readable()


class ControlHandler(TLS_FTPHandler):
    dtp_handler = DataHandler

    def handle_ssl_established(self):
        logging.info("TLS session with %s: %s", self.remote_ip, self.socket.get_cipher_name())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--user", default="webcam")
    parser.add_argument("--password", default="demo")
    args = parser.parse_args()

    logging.basicConfig(level=logging.INFO, format="%(asctime)s ftp: %(message)s")
    pin = make_certificate(args.cert)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    handler = ControlHandler
    handler.certfile = args.cert
    handler.tls_control_required = True
    handler.tls_data_required = True
    handler.authorizer = authorizer
    handler.banner = "Vizo demo server ready (TLS required)."
    server = FTPServer(("127.0.0.1", 0), handler)
    print(server.socket.getsockname()[1], flush=True)
    print(pin, flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
