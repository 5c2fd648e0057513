def int_counter(n):
    i = 0
    s = 0
    while i < n:
        i = i + 1
        if i % 3 == 0:
            s = s + i % 7
    return s


def float_counter(limit):
    x = 0.0
    steps = 0
    while True:
        x = x + 0.25
        steps = steps + 1
        if x >= limit:
            break
    return steps


def countdown(n):
    k = n
    hits = 0
    while k > 0:
        k = k - 1
        if k % 1000 == 0:
            hits = hits + 1
    return hits


print(int_counter(3000000), float_counter(750000.0), countdown(3000000))
