#!/usr/bin/env python3
"""Follows the hosts of the running Corvale and prints one line per host update.

Run without arguments it finds Corvale's window, subscribes to host updates and prints
"<display name><TAB><status>[<TAB><last error>]" for every test result until stopped
(Ctrl+C or SIGTERM cancel the subscription). With --list it prints the host list once
and ends. Standard library only, so any admin script can feed another tool from it:

    scripts/corvale-partner.py | while IFS=$'\\t' read -r host status error; do ...; done

Corvale and this program must share the window folder: $XDG_RUNTIME_DIR/corvale/windows,
or ~/.cache/corvale/windows without XDG_RUNTIME_DIR.
"""
import os
import signal
import socket
import stat
import struct
import sys
import threading

MAGIC = 0x4D575643  # "CVWM"
HEADER = struct.Struct("<IHHIIQqQ")  # magic, kind, reserved, msg, length, wParam, lParam, sender
SEND, POST, GETTEXT, REPLY = 1, 2, 3, 4
WM_COPYDATA = 0x004A
HOST_LIST, HOST_UPDATE = 6442, 6441
RECORD_SIZE = 1374
MAX_PAYLOAD = 16 * 1024 * 1024
CORVALE_STARTED = 7461
STATUS = {-1: "Unknown", 0: "Online", 1: "Warning", 2: "Offline"}
CLASS_NAME = "CorvalePartner"
CAPTION = "Corvale partner (scripts/corvale-partner.py)"


def window_folder():
    runtime = os.environ.get("XDG_RUNTIME_DIR", "")
    if runtime.startswith("/"):
        base = os.path.join(runtime, "corvale")
    else:
        base = os.path.join(os.path.expanduser("~"), ".cache", "corvale")
    folder = os.path.join(base, "windows")
    st = os.lstat(folder)  # raises when Corvale never made it
    if not stat.S_ISDIR(st.st_mode) or st.st_uid != os.geteuid() or st.st_mode & 0o077:
        raise OSError("the window folder %s is not private to this user" % folder)
    return folder


def encode(kind, msg=0, wparam=0, lparam=0, sender=0, payload=b""):
    return HEADER.pack(MAGIC, kind, 0, msg, len(payload), wparam, lparam, sender) + payload


def read_exact(conn, n):
    data = bytearray()
    while len(data) < n:
        chunk = conn.recv(min(n - len(data), 1 << 16))
        if not chunk:
            raise EOFError
        data += chunk
    return bytes(data)


def read_frame(conn):
    magic, kind, reserved, msg, length, wparam, lparam, sender = HEADER.unpack(read_exact(conn, HEADER.size))
    if magic != MAGIC or reserved != 0 or kind not in (SEND, POST, GETTEXT, REPLY) or length > MAX_PAYLOAD:
        raise ValueError("not a window message")
    return kind, msg, wparam, lparam, read_exact(conn, length)


def text(record, offset):
    n = record[offset]
    return record[offset + 1:offset + 1 + n].decode("latin-1")


def host_records(payload):
    """The records of a host list or update: (name, status, last error) each."""
    if len(payload) < 8:
        return []
    count, size = struct.unpack_from("<II", payload, 0)
    if size != RECORD_SIZE:
        return []
    count = min(count, (len(payload) - 8) // RECORD_SIZE)
    hosts = []
    for i in range(count):
        r = payload[8 + i * RECORD_SIZE:8 + (i + 1) * RECORD_SIZE]
        status = struct.unpack_from("<i", r, 1104)[0]
        hosts.append((text(r, 4), STATUS.get(status, "Unknown"), text(r, 848)))
    return hosts


def print_hosts(payload):
    for name, status, error in host_records(payload):
        line = name + "\t" + status + ("\t" + error.replace("\t", " ") if error else "")
        print(line.replace("\r", " ").replace("\n", " "), flush=True)


class PartnerWindow:
    """Our own window: Corvale finds it by handle, reads its caption and sends it data."""

    def __init__(self, folder, on_copy_data, on_started):
        self.handle = (os.getpid() << 20) | 1
        self.path = os.path.join(folder, "%s@%d" % (CLASS_NAME, self.handle))
        self.on_copy_data, self.on_started = on_copy_data, on_started
        self.server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.server.bind(self.path)
        self.server.listen(16)
        threading.Thread(target=self.accept, daemon=True).start()

    def close(self):
        try:
            os.unlink(self.path)
        except OSError:
            pass
        self.server.close()

    def accept(self):
        while True:
            try:
                conn, _ = self.server.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    def serve(self, conn):
        with conn:
            try:
                while True:
                    kind, msg, wparam, lparam, payload = read_frame(conn)
                    if kind == GETTEXT:
                        conn.sendall(encode(REPLY, payload=CAPTION.encode("latin-1")))
                    elif kind == SEND:
                        handled = 0
                        if msg == WM_COPYDATA and lparam in (HOST_LIST, HOST_UPDATE):
                            self.on_copy_data(payload)
                            handled = 1
                        conn.sendall(encode(REPLY, lparam=handled))
                    elif kind == POST and msg == CORVALE_STARTED:
                        self.on_started(wparam)
            except (EOFError, OSError, ValueError):
                return


def find_corvale(folder):
    """The newest live window of the class "TfrmCorvale", or 0."""
    found = []
    for name in os.listdir(folder):
        cls, _, digits = name.rpartition("@")
        if cls == "TfrmCorvale" and digits.isdigit():
            path = os.path.join(folder, name)
            try:
                found.append((os.lstat(path).st_mtime_ns, int(digits), path))
            except OSError:
                pass
    for _, handle, path in sorted(found, reverse=True):
        try:
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
                s.connect(path)
            return handle
        except OSError:
            continue
    return 0


def send(folder, hwnd, msg, wparam, lparam, timeout=10.0):
    """Sends a message to the window and returns its result."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(timeout)
        s.connect(os.path.join(folder, "TfrmCorvale@%d" % hwnd))
        s.sendall(encode(SEND, msg, wparam, lparam))
        while True:
            kind, _, _, result, _ = read_frame(s)
            if kind == REPLY:
                return result


def main(argv):
    list_only = "--list" in argv[1:]
    if any(a not in ("--list",) for a in argv[1:]):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        folder = window_folder()
    except OSError as error:
        print("corvale-partner: no window folder (%s); is Corvale running?" % error, file=sys.stderr)
        return 1
    hwnd = find_corvale(folder)
    if not hwnd:
        print("corvale-partner: Corvale is not running (no window of the class TfrmCorvale)", file=sys.stderr)
        return 1

    done = threading.Event()
    state = {"hwnd": hwnd}

    def on_copy_data(payload):
        print_hosts(payload)
        if list_only:
            done.set()

    def on_started(new_hwnd):
        # A restarted Corvale forgets its subscribers: subscribe again.
        state["hwnd"] = new_hwnd
        if not list_only:
            threading.Thread(target=lambda: send(folder, new_hwnd, 3026, window.handle, 0), daemon=True).start()

    window = PartnerWindow(folder, on_copy_data, on_started)
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    try:
        if list_only:
            if send(folder, hwnd, 3024, window.handle, 0) != 1:
                print("corvale-partner: Corvale refused the host list", file=sys.stderr)
                return 1
            done.wait(70)
            return 0 if done.is_set() else 1
        if send(folder, hwnd, 3026, window.handle, 0) != 1:
            print("corvale-partner: Corvale refused the subscription", file=sys.stderr)
            return 1
        print("corvale-partner: subscribed to Corvale's host updates", file=sys.stderr, flush=True)
        while not done.wait(1.0):
            pass
        return 0
    except KeyboardInterrupt:
        return 0
    except (OSError, EOFError, ValueError) as error:
        print("corvale-partner: %s" % error, file=sys.stderr)
        return 1
    finally:
        if not list_only:
            try:
                send(folder, state["hwnd"], 3027, window.handle, 0, timeout=2.0)
            except (OSError, EOFError, ValueError):
                pass
        window.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
