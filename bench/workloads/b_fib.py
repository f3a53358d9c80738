import time


def main():
    def fib(n):
        if n < 2:
            return n
        return fib(n - 1) + fib(n - 2)
    t = time.perf_counter()
    r = fib(27)
    print(time.perf_counter() - t, r)


main()
