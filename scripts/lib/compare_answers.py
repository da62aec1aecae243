#!/usr/bin/env python3
"""Sends the same raw requests to two running programs and tells whether their
answers are the same bytes (the Date header masked). Usage: PORT_A PORT_B"""
import re
import socket
import sys

reqs = [
 ("business, UTF-8 body", b"POST /WsTavoric?usuario=demo&senha=demo123 HTTP/1.1\r\nHost: t\r\nContent-Type: application/json; charset=UTF-8\r\nContent-Length: %d\r\n\r\n", '{"ACAO":"CONSULTAR","TABELA":"clientes","FILTRO":{"nome":"Jo\u00e3o Lima"}}'.encode()),
 ("business, credentials in headers", b"POST /WsTavoric HTTP/1.1\r\nHost: t\r\nusuario: demo\r\nsenha: demo123\r\nContent-Length: %d\r\n\r\n", b'{"ACAO":"CONSULTAR","TABELA":"produtos","FILTRO":{"id":1}}'),
 ("wrong password", b"POST /WsTavoric?usuario=demo&senha=x HTTP/1.1\r\nHost: t\r\nContent-Length: %d\r\n\r\n", b'{"ACAO":"CONSULTAR","TABELA":"produtos"}'),
 ("unknown table", b"POST /WsTavoric?usuario=demo&senha=demo123 HTTP/1.1\r\nHost: t\r\nContent-Length: %d\r\n\r\n", b'{"ACAO":"CONSULTAR","TABELA":"usuarios"}'),
 ("intake", b"POST /WsTavoric HTTP/1.1\r\nHost: t\r\nContent-Type: application/json; charset=UTF-8\r\nContent-Length: %d\r\n\r\n", '{"ACAO":"VUZEDAVODOZUZODOVE","TEXTO":"Avi\u00e3o"}'.encode()),
 ("status query", b"POST /WsTavoric HTTP/1.1\r\nHost: t\r\nContent-Length: %d\r\n\r\n", b'{"ACAO":"VUZEDAVODOZUZODOVE","STATUS":"CONSULTARSTATUS"}'),
 ("whatsapp without gateway", b"POST /WsTavoric HTTP/1.1\r\nHost: t\r\nContent-Length: %d\r\n\r\n", b'{"a":"ENVIARWHATSAPP","f":"1","m":"x"}'),
 ("GET of the action", b"GET /WsTavoric?ACAO=PING HTTP/1.1\r\nHost: t\r\n\r\n", None),
 ("another path", b"GET /outro HTTP/1.1\r\nHost: t\r\n\r\n", None),
 ("bad request line", b"BLAH\r\n\r\n", None),
 ("body too large", b"POST /WsTavoric HTTP/1.1\r\nHost: t\r\nContent-Length: 999999999999\r\n\r\n", None),
]
def ask(port, raw):
    s = socket.create_connection(("127.0.0.1", port)); s.sendall(raw); s.shutdown(socket.SHUT_WR)
    out = b""
    while True:
        d = s.recv(65536)
        if not d: break
        out += d
    return re.sub(rb"Date: [^\r]*\r\n", b"Date: *\r\n", out)
lin, win = int(sys.argv[1]), int(sys.argv[2])
same = 0
for name, head, body in reqs:
    raw = (head % len(body) + body) if body is not None else head
    a, b = ask(lin, raw), ask(win, raw)
    status = a.split(b"\r\n")[0].decode()
    print(f"{'same' if a == b else 'DIFFERENT':9} {len(a):5} bytes  {status:35} {name}")
    if a != b: print("  linux:  ", a[:300]); print("  windows:", b[:300])
    same += a == b
print(f"{same}/{len(reqs)} answers identical byte for byte (Date header masked)")
