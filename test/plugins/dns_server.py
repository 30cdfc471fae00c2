# A small name server for the DNS plug-in's tests, on UDP and TCP of one loopback port
# (printed first). www.test is 192.0.2.10; missing.test does not exist; slow.test gets
# no answer; big.test comes truncated over UDP and whole over TCP (192.0.2.20 and .21).
import socket
import struct
import sys
import threading


def question(query):
    pos, labels = 12, []
    while query[pos]:
        labels.append(query[pos + 1:pos + 1 + query[pos]].decode())
        pos += 1 + query[pos]
    return ".".join(labels).lower(), query[12:pos + 5]


def answer(query, tcp):
    name, q = question(query)
    ident = query[:2]
    if name == "slow.test":
        return None
    if name == "missing.test":
        return ident + struct.pack(">HHHHH", 0x8183, 1, 0, 0, 0) + q
    addresses = {"www.test": ["192.0.2.10"], "big.test": ["192.0.2.20", "192.0.2.21"]}.get(name, [])
    if name == "big.test" and not tcp:
        return ident + struct.pack(">HHHHH", 0x8380, 1, 0, 0, 0) + q
    records = b"".join(b"\xc0\x0c" + struct.pack(">HHIH", 1, 1, 60, 4) + socket.inet_aton(a) for a in addresses)
    return ident + struct.pack(">HHHHH", 0x8180, 1, len(addresses), 0, 0) + q + records


def serve_udp(sock):
    while True:
        data, peer = sock.recvfrom(4096)
        reply = answer(data, False)
        if reply:
            sock.sendto(reply, peer)


def serve_tcp(listener):
    while True:
        conn, _ = listener.accept()
        with conn:
            length = struct.unpack(">H", conn.recv(2))[0]
            data = b""
            while len(data) < length:
                data += conn.recv(length - len(data))
            reply = answer(data, True)
            if reply:
                conn.sendall(struct.pack(">H", len(reply)) + reply)


udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
for _ in range(50):
    udp.bind(("127.0.0.1", 0))
    try:
        tcp.bind(("127.0.0.1", udp.getsockname()[1]))
        break
    except OSError:
        udp.close()
        udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
tcp.listen(8)
print(udp.getsockname()[1], flush=True)
threading.Thread(target=serve_tcp, args=(tcp,), daemon=True).start()
serve_udp(udp)
