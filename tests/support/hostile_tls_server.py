#!/usr/bin/env python3
"""A TLS server that misbehaves on purpose, for the client's tests.

usage: hostile_tls_server.py PORT CERT KEY GARBAGE_PORT STALL_PORT EVENTS_FILE. On PORT it speaks TLS, and the request path picks the misbehaviour:
  /cut            Content-Length 1000, 400 bytes, then a TCP close without close_notify
  /cut-unframed   no Content-Length, 400 bytes, a TCP close without close_notify
  /clean-unframed no Content-Length, 400 bytes, close_notify, then the close
  /endless        a header that never ends
  /close-check    Content-Length 5, then notes in EVENTS_FILE whether the client ended
                  with close_notify ("close_notify from the client") or without
  /flaky          without a Range: 200 with ETag "v1" and Content-Length 100000, cut
                  after 40000 bytes without close_notify; with one: the rest, as a 206
                  (the bytes are the tests' PatternBytes(100000, 1))
On GARBAGE_PORT it answers the client's hello with plain text; on STALL_PORT it reads the
hello, notes "hello held" in EVENTS_FILE and never answers. Every connection gets its own
thread.
"""
import os
import socket
import ssl
import sys
import threading

port, cert, key = int(sys.argv[1]), sys.argv[2], sys.argv[3]
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
held = []  # stalled connections stay open until the server ends


def pattern_bytes(size, seed):
    state = (seed * 2654435761 + 1) & 0xFFFFFFFF
    out = bytearray(size)
    for i in range(size):
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        out[i] = state >> 24
    return bytes(out)


FLAKY = pattern_bytes(100000, 1)


def read_request(tls):
    data = b""
    while b"\r\n\r\n" not in data and len(data) < 65536:
        chunk = tls.recv(4096)
        if not chunk:
            break
        data += chunk
    parts = data.split(b" ")
    return parts[1].decode("latin-1") if len(parts) > 1 else "", data


def serve_flaky(tls, request):
    marker = b"Range: bytes="
    if marker not in request:
        tls.sendall(b'HTTP/1.0 200 OK\r\nETag: "v1"\r\nContent-Length: 100000\r\n\r\n'
                    + FLAKY[:40000])
        return raw_close(tls)
    start = int(request.split(marker)[1].split(b"-")[0])
    tls.sendall(b'HTTP/1.0 206 Partial Content\r\nETag: "v1"\r\n'
                + b"Content-Length: %d\r\n" % (100000 - start)
                + b"Content-Range: bytes %d-99999/100000\r\n\r\n" % start + FLAKY[start:])
    tls.unwrap().close()


def serve_tls(raw):
    tls = context.wrap_socket(raw, server_side=True, suppress_ragged_eofs=False)
    path, request = read_request(tls)
    body = bytes(range(200)) * 2
    if path == "/flaky":
        serve_flaky(tls, request)
    elif path == "/close-check":
        tls.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello")
        try:
            ending = "close_notify from the client" if tls.recv(1) == b"" else "more bytes"
        except (OSError, ssl.SSLError):
            ending = "a close without close_notify"
        note(ending)
        tls.close()
    elif path == "/cut":
        tls.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + body)
        raw_close(tls)
    elif path == "/cut-unframed":
        tls.sendall(b"HTTP/1.0 200 OK\r\n\r\n" + body)
        raw_close(tls)
    elif path == "/clean-unframed":
        tls.sendall(b"HTTP/1.0 200 OK\r\n\r\n" + body)
        tls.unwrap().close()
    elif path == "/endless":
        tls.sendall(b"HTTP/1.0 200 OK\r\n")
        line = b"X-Filler: " + b"a" * 1000 + b"\r\n"
        try:
            while True:
                tls.sendall(line * 16)
        except OSError:
            pass
        tls.close()
    else:
        tls.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")
        tls.unwrap().close()


def note(event):
    with open(events_file, "a") as events:
        events.write(event + "\n")


def raw_close(tls):
    """Ends the TCP connection under the TLS stream, without close_notify."""
    raw = socket.socket(fileno=os.dup(tls.fileno()))
    raw.shutdown(socket.SHUT_RDWR)
    raw.close()
    tls.close()


def serve(raw, stall):
    try:
        if stall:
            raw.recv(4096)  # the client's hello, never answered
            held.append(raw)
            note("hello held")
            return
        if raw.recv(1, socket.MSG_PEEK) == b"":
            return raw.close()  # a probe that the port is open
        if raw.getsockname()[1] == garbage_port:
            raw.recv(4096)
            raw.sendall(b"HTTP/1.0 200 OK\r\n\r\nthis is not TLS at all\r\n")
            return raw.close()
        serve_tls(raw)
    except (OSError, ssl.SSLError):
        raw.close()


def listen(number):
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", number))
    server.listen(16)
    return server


garbage_port, stall_port, events_file = int(sys.argv[4]), int(sys.argv[5]), sys.argv[6]
servers = [listen(port), listen(garbage_port), listen(stall_port)]


def accept(server):
    while True:
        raw, _ = server.accept()
        stall = server.getsockname()[1] == stall_port
        threading.Thread(target=serve, args=(raw, stall), daemon=True).start()


for extra in servers[1:]:
    threading.Thread(target=accept, args=(extra,), daemon=True).start()
accept(servers[0])
