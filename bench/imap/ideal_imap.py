#!/usr/bin/env python3
"""Reference for bench_imap: the fewest waits the protocol allows for a
header check, written as plainly as possible. After the greeting it sends
LOGIN; then EXAMINE (SELECT with --move, which needs a folder open for
writing) and `UID FETCH 1:* (UID RFC822.SIZE BODY.PEEK[HEADER])` in one
write, and reads to the end; with --move, one `UID MOVE` of every hit (a
From address containing "0@example.com") to Junk; then LOGOUT.

Usage: ideal_imap.py HOST PORT USER PASSWORD [--move]
Prints the seconds from connecting to the answered LOGOUT, the number of
headers read and the number of hits moved.
"""
import re
import socket
import sys
import time

LITERAL = re.compile(rb"\{(\d+)\+?\}\r\n$")
UID = re.compile(rb"\bUID (\d+)")
FROM = re.compile(rb"^From:[^\r\n]*", re.IGNORECASE | re.MULTILINE)


class Connection:
    def __init__(self, host, port):
        self.sock = socket.create_connection((host, port), timeout=120)
        self.file = self.sock.makefile("rb", buffering=1 << 20)

    def send(self, data):
        self.sock.sendall(data)

    def response(self):
        """One response, its literals inside: (the lines joined, the literals)."""
        lines, literals = [], []
        while True:
            line = self.file.readline()
            if not line:
                raise ConnectionError("the server closed the connection")
            lines.append(line)
            match = LITERAL.search(line)
            if not match:
                return b"".join(lines), literals
            literals.append(self.file.read(int(match.group(1))))

    def until(self, tag):
        """Every response up to the tagged one; the untagged ones are yielded."""
        while True:
            text, literals = self.response()
            if text.startswith(tag + b" "):
                if not text.startswith(tag + b" OK"):
                    raise RuntimeError(text.decode("latin-1").strip())
                return
            yield text, literals


def main():
    host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    move = "--move" in sys.argv[5:]
    start = time.perf_counter()
    imap = Connection(host, port)
    imap.response()  # the greeting
    imap.send(b"a1 LOGIN " + user.encode() + b" " + password.encode() + b"\r\n")
    for _ in imap.until(b"a1"):
        pass
    imap.send((b"a2 SELECT" if move else b"a2 EXAMINE") + b" INBOX\r\na3 UID FETCH 1:* (UID RFC822.SIZE BODY.PEEK[HEADER])\r\n")
    for _ in imap.until(b"a2"):
        pass
    read, hits = 0, []
    for text, literals in imap.until(b"a3"):
        uid = UID.search(text)
        if b" FETCH " not in text or not uid or not literals:
            continue
        read += 1
        sender = FROM.search(literals[0])
        if sender and b"0@example.com" in sender.group(0):
            hits.append(uid.group(1))
    if move and hits:
        # One UID MOVE, or a few sent in one write where a command line
        # would pass what servers accept (the sample server: 64 KB).
        tags, commands, line, length = [], [], [], 0
        for uid in hits + [None]:
            if uid is None or length + len(uid) > 60000:
                tags.append(b"m%d" % len(tags))
                commands.append(tags[-1] + b" UID MOVE " + b",".join(line) + b" Junk\r\n")
                line, length = [], 0
            if uid is not None:
                line.append(uid)
                length += len(uid) + 1
        imap.send(b"".join(commands))
        for tag in tags:
            for _ in imap.until(tag):
                pass
    imap.send(b"a5 LOGOUT\r\n")
    try:
        for _ in imap.until(b"a5"):
            pass
    except ConnectionError:
        pass  # closed right after its BYE

    print(f"{time.perf_counter() - start:.3f} {read} {len(hits) if move else 0}")


if __name__ == "__main__":
    main()
