"""Downloads the URL named first into the file named second (urllib into a file, as inet_get.qx3)."""
import shutil, sys, time, urllib.request

t = time.perf_counter()
with urllib.request.urlopen(sys.argv[1]) as r, open(sys.argv[2], "wb") as f:
    shutil.copyfileobj(r, f)
    n = f.tell()
print(time.perf_counter() - t, n)
