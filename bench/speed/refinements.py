def scale(x, by=None, offset=None):
    if by is not None:
        x = x * by
    if offset is not None:
        x = x + offset
    return x


def clamp(x, low=None, high=None):
    if low is not None and x < low:
        return low
    if high is not None and x > high:
        return high
    return x


def adjust(x, limit=None):
    y = scale(x, by=3, offset=1)
    if limit is not None:
        return clamp(y, low=0, high=limit)
    return clamp(scale(y, offset=-5), low=0)


total = 0
for i in range(1, 800001):
    total = total + adjust(i % 100, limit=200) + adjust(i % 10) + scale(i % 7)
print(total)
