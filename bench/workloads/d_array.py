import time


def main():
    t = time.perf_counter()
    a = [0] * 1000000
    for i in range(1000000):
        a[i] = i
    s = 0
    for i in range(1000000):
        s += a[i]
    print(time.perf_counter() - t, s)


main()
