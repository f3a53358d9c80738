"""Receiving side of the TCP transfer (the same steps as tcp_recv.qx3)."""
import os, random, socket, sys, time

total = int(sys.argv[2])
listener = socket.socket()
for _ in range(100):
    port = random.randint(20000, 60000)
    try:
        listener.bind(("127.0.0.1", port))
        break
    except OSError:
        pass
listener.listen(5)
with open(sys.argv[1] + ".new", "w") as f:
    f.write(str(port))
os.replace(sys.argv[1] + ".new", sys.argv[1])
s, _ = listener.accept()
t = time.perf_counter()
got = 0
while got < total:
    data = s.recv(262144)
    if not data:
        break
    got += len(data)
print(time.perf_counter() - t, got)
