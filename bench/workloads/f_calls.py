import time


def main():
    def add3(a, b, c):
        return a + b + c
    t = time.perf_counter()
    s = 0
    for i in range(1, 1000001):
        s = add3(s, i, 1)
    print(time.perf_counter() - t, s)


main()
