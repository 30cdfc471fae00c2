# A time server for the NTP plug-in's tests on a loopback port (printed first), whose
# clock runs the number of seconds of its argument ahead of ours.
import socket
import struct
import sys
import time

offset = float(sys.argv[1])
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("127.0.0.1", 0))
print(sock.getsockname()[1], flush=True)


def stamp(t):
    t += 2208988800
    return struct.pack(">II", int(t), int((t - int(t)) * 2**32))


while True:
    data, peer = sock.recvfrom(512)
    if len(data) < 48:
        continue
    received = stamp(time.time() + offset)
    header = struct.pack(">BBbbII4s", (0 << 6) | (4 << 3) | 4, 2, 6, -20, 0, 0, b"TEST")
    sock.sendto(header + stamp(time.time() + offset - 1) + data[40:48] + received + stamp(time.time() + offset), peer)
