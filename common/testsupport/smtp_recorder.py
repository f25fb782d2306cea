#!/usr/bin/python3
"""A recording SMTP server for tests, on aiosmtpd (Debian python3-aiosmtpd).

Run it with Debian's interpreter (TARN_TEST_PYTHON, /usr/bin/python3):

  smtp_recorder.py --dir DIR [--host 127.0.0.1] [--port 0]
                   [--auth USER:PASSWORD]... [--auth-required]
                   [--mechanisms PLAIN,LOGIN,CRAM-MD5]
                   [--cert CERT.pem --key KEY.pem [--implicit-tls]]
                   [--refuse ADDRESS]... [--pipelining] [--transcript FILE]
                   [--max-sessions N]

Once listening it prints one line "READY <port>" on stdout (port 0 picks a free
port) and serves until killed (SIGTERM).

Every accepted message is stored in DIR as two files named by a running number
from 1: "N.eml" holds the DATA bytes as received (after dot-unstuffing), and
"N.json" the envelope: {"mail_from", "rcpt_tos", "login", "tls", "helo",
"connection"} ("connection" numbers the TCP connections from 1).
--refuse answers RCPT TO for that address with "550 5.1.1 Mailbox unavailable".
The .json file is written last, by rename, so its presence means the message is
complete. --pipelining adds PIPELINING (RFC 2920) to the EHLO reply; aiosmtpd
reads commands from a buffered stream, so batched commands are answered in
order.

--auth enables SMTP AUTH (without requiring TLS) for the given accounts; the
mechanisms default to PLAIN, LOGIN and CRAM-MD5 (CRAM-MD5 is implemented here;
a server does not normally have the plain password to do it). A refused login
gets "535 5.7.8 Authentication credentials invalid".
--transcript appends every command line a client sends (as received, before
any parsing, with the connection number in front: "3 RCPT TO:<a@b>") to FILE,
also the ones the server refuses; an AUTH line shows its mechanism only.
--max-sessions N greets a connection beyond N open ones with "421 4.7.0 Too
many connections" and closes it, as a server limiting each client does.
--cert/--key offer STARTTLS; with --implicit-tls the socket speaks TLS from the
first byte instead (SMTPS).
"""
import argparse
import asyncio
import base64
import hashlib
import hmac
import json
import logging
import os
import signal
import ssl
import sys
import time

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Recorder:
    def __init__(self, folder, accounts, mechanisms, refused=(), pipelining=False):
        self.folder = folder
        self.pipelining = pipelining
        self.refused = {r.lower() for r in refused}
        self.accounts = accounts
        self.mechanisms = mechanisms
        self.count = 0

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        # With a hook of its own aiosmtpd leaves remembering the name to it.
        session.host_name = hostname
        if self.pipelining:
            responses.insert(len(responses) - 1, "250-PIPELINING")
        return responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.refused:
            return "550 5.1.1 Mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content or b"")
        login = getattr(session.auth_data, "login", None)
        meta = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "login": login.decode("utf-8", "replace") if isinstance(login, bytes) else login,
            "tls": server._tls_protocol is not None or getattr(server, "_implicit", False),
            "helo": session.host_name,
            "connection": getattr(server, "_connection", 0),
        }
        with open(base + ".json.tmp", "w") as f:
            json.dump(meta, f)
        os.rename(base + ".json.tmp", base + ".json")
        return "250 2.0.0 Message accepted"

    # Handler-provided mechanism; aiosmtpd maps "__" in the name to "-".
    async def auth_CRAM__MD5(self, server, args):
        challenge = "<%d.%d@recorder>" % (os.getpid(), time.monotonic_ns())
        answer = await server.challenge_auth(challenge)
        if not isinstance(answer, bytes):
            return AuthResult(success=False, handled=True)
        user, _, digest = answer.decode("utf-8", "replace").partition(" ")
        password = self.accounts.get(user)
        if password is not None:
            expected = hmac.new(password.encode(), challenge.encode(), hashlib.md5).hexdigest()
            if hmac.compare_digest(expected, digest):
                return AuthResult(success=True, auth_data=LoginPassword(user.encode(), b""))
        return AuthResult(success=False, handled=False)

    def authenticator(self, server, session, envelope, mechanism, auth_data):
        if not isinstance(auth_data, LoginPassword):
            return AuthResult(success=False, handled=False)
        user = auth_data.login.decode("utf-8", "replace")
        ok = self.accounts.get(user) == auth_data.password.decode("utf-8", "replace")
        # handled=False makes aiosmtpd send the 535 itself; its default (True) means
        # "already answered" and leaves the client waiting.
        return AuthResult(success=ok, handled=False, auth_data=auth_data)


class Transcript(logging.Handler):
    """Writes the command lines aiosmtpd logs as it reads them ("%r >> %r")."""

    def __init__(self, path):
        super().__init__(logging.INFO)
        self.file = open(path, "ab", buffering=0)

    def emit(self, record):
        if record.msg != "%r >> %r" or len(record.args) != 2:
            return
        line = record.args[1]
        if isinstance(line, str):
            line = line.encode("utf-8", "surrogateescape")
        self.file.write(b"%d %s\n" % (Transcript.connection.get(0), line))


def main():
    p = argparse.ArgumentParser(description="Recording SMTP server for tests")
    p.add_argument("--dir", required=True)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--auth", action="append", default=[], metavar="USER:PASSWORD")
    p.add_argument("--auth-required", action="store_true")
    p.add_argument("--mechanisms", default="PLAIN,LOGIN,CRAM-MD5")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--implicit-tls", action="store_true")
    p.add_argument("--refuse", action="append", default=[], metavar="ADDRESS")
    p.add_argument("--pipelining", action="store_true")
    p.add_argument("--transcript")
    p.add_argument("--max-sessions", type=int, default=0)
    a = p.parse_args()

    os.makedirs(a.dir, exist_ok=True)
    accounts = dict(x.split(":", 1) for x in a.auth)
    mechanisms = [m.strip().upper() for m in a.mechanisms.split(",") if m.strip()]
    handler = Recorder(a.dir, accounts, mechanisms, a.refuse, a.pipelining)
    connections = [0]
    open_sessions = [0]
    excluded = [m for m in ("PLAIN", "LOGIN", "CRAM-MD5") if m not in mechanisms or not accounts]

    context = None
    if a.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(a.cert, a.key)

    import contextvars
    Transcript.connection = contextvars.ContextVar("connection")
    if a.transcript:
        log = logging.getLogger("mail.log")
        log.setLevel(logging.INFO)
        log.propagate = False
        log.addHandler(Transcript(a.transcript))

    class Server(SMTP):
        async def _handle_client(self):
            Transcript.connection.set(self._connection)
            if a.max_sessions and open_sessions[0] >= a.max_sessions:
                await self.push("421 4.7.0 Too many connections")
                self.transport.close()
                return None
            open_sessions[0] += 1
            try:
                return await super()._handle_client()
            finally:
                open_sessions[0] -= 1

    def factory():
        server = Server(
            handler,
            hostname="recorder.test",
            authenticator=handler.authenticator if accounts else None,
            auth_required=a.auth_required,
            auth_require_tls=False,
            auth_exclude_mechanism=excluded,
            tls_context=None if a.implicit_tls else context,
            require_starttls=False,
        )
        server._implicit = a.implicit_tls
        connections[0] += 1
        server._connection = connections[0]
        return server

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    srv = loop.run_until_complete(loop.create_server(
        factory, a.host, a.port, ssl=context if a.implicit_tls else None))
    port = srv.sockets[0].getsockname()[1]
    print("READY %d" % port, flush=True)
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    loop.add_signal_handler(signal.SIGINT, loop.stop)
    try:
        loop.run_forever()
    finally:
        srv.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
