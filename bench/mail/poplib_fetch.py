#!/usr/bin/env python3
"""Reference for bench_mail: a plain sequential header fetch written with the
standard library's poplib, asking what a classic client asks: after the login
(CAPA, USER, PASS, STAT) one UIDL for the ids and one LIST for the sizes, then
TOP n 0 for each message, each awaited before the next is sent, then QUIT.

Usage: poplib_fetch.py HOST PORT USER PASSWORD COUNT
Prints the seconds from connecting to the answered QUIT, and the number of
messages whose header was fetched (at most COUNT).
"""
import poplib
import sys
import time


def main():
    host, port, user, password, count = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5])
    start = time.perf_counter()
    pop = poplib.POP3(host, port, timeout=120)
    pop.capa()
    pop.user(user)
    pop.pass_(password)
    waiting = pop.stat()[0]
    if waiting > 0:
        pop.uidl()
        pop.list()
    fetched = 0
    for number in range(1, min(count, waiting) + 1):
        pop.top(number, 0)
        fetched += 1
    pop.quit()
    print(f"{time.perf_counter() - start:.3f} {fetched}")


if __name__ == "__main__":
    main()
