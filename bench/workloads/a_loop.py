import time


def main():
    t = time.perf_counter()
    c = 0
    for i in range(1, 10000001):
        if i > 100:
            c += 1
    print(time.perf_counter() - t, c)


main()
