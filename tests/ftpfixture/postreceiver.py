#!/usr/bin/python3
"""A form-upload receiver for tests, on 127.0.0.1 with Python's standard library.

Usage: postreceiver.py DIR AUTHORIZATION
Stores each posted file in DIR under its file name, answers 201, and appends
one JSON line per request to DIR/../requests.log. Requests whose Authorization
header differs get 401; a path ending in /500 gets 500. Prints "PORT n".
"""
import email.parser
import email.policy
import json
import os
import sys
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

STORE, AUTHORIZATION = sys.argv[1], sys.argv[2]
LOG = os.path.join(os.path.dirname(os.path.abspath(STORE)), "requests.log")


class Receiver(BaseHTTPRequestHandler):
    def answer(self, code):
        self.send_response(code)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        record = {"path": self.path, "cache": self.headers.get("Cache-Control", "")}
        if self.headers.get("Authorization", "") != AUTHORIZATION:
            self.answer(401)
            return
        if self.path.endswith("/500"):
            self.answer(500)
            return
        head = b"Content-Type: " + self.headers["Content-Type"].encode() + b"\r\n\r\n"
        form = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(head + body)
        for part in form.iter_parts():
            name = part.get_param("name", header="content-disposition")
            filename = part.get_filename()
            record.setdefault("fields", []).append([name, filename])
            if filename and ".." not in filename.split("/"):
                target = os.path.join(STORE, filename)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with open(target, "wb") as out:
                    out.write(part.get_payload(decode=True))
        with open(LOG, "a") as log:
            log.write(json.dumps(record) + "\n")
        self.answer(201)

    def log_message(self, *args):
        pass


server = ThreadingHTTPServer(("127.0.0.1", 0), Receiver)
print("PORT %d" % server.server_address[1], flush=True)
server.serve_forever()
