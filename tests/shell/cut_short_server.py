# An HTTP server that dies in the middle of every answer: it promises
# 100,000 bytes, sends the first 3,000 of good update data (argv[2]) and
# closes the connection. Listens on 127.0.0.1:argv[1] and writes
# argv[1] + ".ready" beside argv[2] once it does; serves at most 20 requests.
import socket
import sys

port = int(sys.argv[1])
body = open(sys.argv[2], "rb").read()[:3000]
s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", port))
s.listen(4)
open(sys.argv[2] + ".ready", "w").close()
for _ in range(20):
    c, _ = s.accept()
    c.recv(65536)
    c.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nContent-Type: application/octet-stream\r\n\r\n" + body)
    c.close()
