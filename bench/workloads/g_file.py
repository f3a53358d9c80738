import os, tempfile, time


def main():
    path = os.path.join(tempfile.gettempdir(), "tarvex_bench_lines.txt")
    t = time.perf_counter()
    with open(path, "w") as f:
        for i in range(1, 200001):
            f.write("line number %d\n" % i)
    n = 0
    with open(path) as f:
        for line in f:
            n += 1
    print(time.perf_counter() - t, n)
    os.remove(path)


main()
