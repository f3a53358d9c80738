import time


def main():
    t = time.perf_counter()
    s = ""
    for i in range(1000000):
        s += "ab"
    print(time.perf_counter() - t, len(s))


main()
