def fib(n):
    if n < 2.0:
        return n
    return fib(n - 1.0) + fib(n - 2.0)


print(int(fib(32.0)))
