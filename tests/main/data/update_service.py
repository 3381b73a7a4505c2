#!/usr/bin/python3
"""A stand-in for the vendor's update service, for the client's tests only.

Serves HTTPS on 127.0.0.1 with the certificate given, answers each path from a
JSON table {path: [status, body]} and appends every request body, one JSON
string per line, to the log file. Prints the bound port on its first line.
"""
import http.server
import json
import ssl
import sys

cert, key, table_path, log_path = sys.argv[1:5]
with open(table_path, encoding="utf-8") as f:
    table = json.load(f)


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length).decode("utf-8", "replace")
        with open(log_path, "a", encoding="utf-8") as log:
            log.write(json.dumps({"path": self.path,
                                  "type": self.headers.get("Content-Type", ""),
                                  "body": body}) + "\n")
        status, answer = table.get(self.path, [404, "no such path"])
        data = answer.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
