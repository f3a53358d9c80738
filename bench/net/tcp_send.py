"""Sending side of the TCP transfer (the same steps as tcp_send.qx3)."""
import socket, sys

total = int(sys.argv[2])
block = bytes(262144)
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
sent = 0
while sent < total:
    s.sendall(block)
    sent += len(block)
s.close()
