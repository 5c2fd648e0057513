class Found(Exception):
    def __init__(self, value):
        self.value = value


def check(i):
    if i % 3 == 0:
        raise Found(i)
    return i


def first_multiple(items, k):
    try:
        for x in items:
            if x % k == 0:
                raise Found(x)
        return 0
    except Found as f:
        return f.value


total = 0
items = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13]
for i in range(1, 400001):
    try:
        r = check(i)
    except Found as f:
        r = f.value
    if r % 3 == 0:
        r = r + 1
    total = total + r % 100 + first_multiple(items, i % 13 + 1)
print(total)
