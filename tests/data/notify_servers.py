#!/usr/bin/python3
"""Test servers for the notifications, on 127.0.0.1 at the given port.

  notify_servers.py smtp PORT OUT [--cert C --key K] [--user U --password P]
  notify_servers.py http PORT OUT [--status N]

Each message received is appended to OUT as one JSON line; runs until killed.
"""
import argparse
import email
import email.policy
import json
import ssl
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def record(path, entry):
    with open(path, "a", encoding="utf-8") as out:
        out.write(json.dumps(entry, ensure_ascii=False) + "\n")


def run_smtp(args):
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult, LoginPassword

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            message = email.message_from_bytes(envelope.content, policy=email.policy.default)
            record(args.out, {
                "from": envelope.mail_from,
                "to": envelope.rcpt_tos,
                "subject": str(message["subject"]),
                "header_to": str(message["to"]),
                "body": message.get_content(),
                "tls": session.ssl is not None,
                "login": session.authenticated and args.user,
            })
            return "250 2.0.0 Message reçu pour essai"

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login.decode() == args.user
              and auth_data.password.decode() == args.password)
        return AuthResult(success=ok, handled=False)

    kwargs = {}
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
        kwargs.update(tls_context=context, require_starttls=True)
    if args.user:
        kwargs.update(authenticator=authenticator, auth_required=True, auth_require_tls=True)
    controller = Controller(Handler(), hostname="127.0.0.1", port=args.port, **kwargs)
    controller.start()
    print("READY", flush=True)
    threading.Event().wait()


def run_http(args):
    class Handler(BaseHTTPRequestHandler):
        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            record(args.out, {
                "path": self.path,
                "content_type": self.headers.get("Content-Type"),
                "authorization": self.headers.get("Authorization"),
                "body": body.decode("utf-8"),
            })
            reply = b"recu"
            self.send_response(args.status)
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *unused):
            pass

    ThreadingHTTPServer.allow_reuse_address = True
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    print("READY", flush=True)
    server.serve_forever()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kind", choices=["smtp", "http"])
    parser.add_argument("port", type=int)
    parser.add_argument("out")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--user")
    parser.add_argument("--password")
    parser.add_argument("--status", type=int, default=200)
    args = parser.parse_args()
    (run_smtp if args.kind == "smtp" else run_http)(args)


if __name__ == "__main__":
    sys.exit(main())
