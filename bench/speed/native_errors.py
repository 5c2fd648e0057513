import functools


class Thrown(Exception):
    pass


def order(x, y):
    raise Thrown(1)


b = bytearray(0)
caught = 0
sorted_total = 0
for i in range(1, 100001):
    try:
        b[5 + i % 3] = 1
    except IndexError:
        caught += 1
    try:
        int("x")
    except ValueError:
        caught += 1
    try:
        i.append(2)
    except AttributeError:
        caught += 1
    try:
        sorted([3, 1, 2], key=functools.cmp_to_key(order))
    except Thrown as t:
        sorted_total += t.args[0]
print(caught, sorted_total)
