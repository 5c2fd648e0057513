def fold(f, acc, items):
    for x in items:
        acc = f(acc, x)
    return acc


def map_items(f, items):
    out = []
    for x in items:
        out.append(f(x))
    return out


def keep(f, items):
    out = []
    for x in items:
        if f(x):
            out.append(x)
    return out


def square(x):
    return x * x


def plus(a, b):
    return a + b


numbers = list(range(1, 1001))
total = 0
for k in range(1500):
    squares = map_items(square, numbers)
    odds = keep(lambda x: x % 2 == 1, squares)
    total = total + fold(plus, 0, odds) % 1000 + fold(lambda a, b: max(a, b), 0, numbers)
    total = total + fold(plus, k, map_items(lambda x: x + k, numbers)) % 1000
print(total)
