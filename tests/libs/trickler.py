# A server on 127.0.0.1 that answers the transfer engine slowly, a piece every
# interval seconds, up to count pieces; then it answers in full. Prints
# "port N" once it listens, and "done" when a peer took every piece (only a
# client that waited out the whole trickle sees that).
#
#   trickler.py MODE COUNT INTERVAL
#   ftp-reply  the greeting's continuation lines
#   ftp-data   a byte of the RETR data connection
#   chunked    an HTTP body of one-byte chunks
#   body       an HTTP body of Content-Length COUNT, a byte at a time
#   flood      an HTTP body of COUNT bytes sent at once, closed half-way
#   slowread   reads a request's body in pieces of COUNT bytes, one every
#              interval, with a small receive buffer; then answers "ok"
import socket
import sys
import time

mode, count, interval = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])


def listener():
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if mode == "slowread":
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
    s.bind(("127.0.0.1", 0))
    s.listen(8)
    return s


def read_line(f):
    return f.readline().decode("latin-1").strip()


def trickle(conn, pieces):
    for piece in pieces:
        conn.sendall(piece)
        time.sleep(interval)


def ftp(conn):
    f = conn.makefile("rb")
    if mode == "ftp-reply":
        trickle(conn, [b"220-hello\r\n"] * count)
    conn.sendall(b"220 ready\r\n")
    data = listener()
    while True:
        line = read_line(f).lower()
        if not line or line.startswith("quit"):
            return
        if line.startswith("user"):
            conn.sendall(b"331 password\r\n")
        elif line.startswith("pass"):
            conn.sendall(b"230 in\r\n")
        elif line.startswith("pasv"):
            p = data.getsockname()[1]
            conn.sendall(b"227 passive (127,0,0,1,%d,%d)\r\n" % (p >> 8, p & 255))
        elif line.startswith("type"):
            conn.sendall(b"200 type\r\n")
        elif line.startswith("retr"):
            conn.sendall(b"150 go\r\n")
            d, _ = data.accept()
            trickle(d, [b"q"] * (count if mode == "ftp-data" else 1))
            d.close()
            conn.sendall(b"226 done\r\n")
        else:
            conn.sendall(b"500 what\r\n")


def http(conn):
    f = conn.makefile("rb")
    length = 0
    while True:
        line = read_line(f)
        if not line:
            break
        if line.lower().startswith("content-length:"):
            length = int(line.split(":")[1])
    if mode == "slowread":
        while length > 0:
            piece = f.read1(min(count, length))
            if not piece:
                return
            length -= len(piece)
            time.sleep(interval)
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")
    elif mode == "chunked":
        conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
        trickle(conn, [b"1\r\nq\r\n"] * count)
        conn.sendall(b"0\r\n\r\n")
    elif mode == "body":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % count)
        trickle(conn, [b"q"] * count)
    else:
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % count)
        conn.sendall(b"q" * (count // 2))


server = listener()
print("port", server.getsockname()[1], flush=True)
while True:
    conn, _ = server.accept()
    try:
        (ftp if mode.startswith("ftp") else http)(conn)
        print("done", flush=True)
    except OSError:
        pass
    conn.close()
