import math


def a(i, j):
    return 1.0 / ((i + j) * (i + j + 1) // 2 + i + 1)


def times(v):
    n = len(v)
    out = []
    for i in range(n):
        s = 0.0
        for j in range(n):
            s += a(i, j) * v[j]
        out.append(s)
    return out


def times_transposed(v):
    n = len(v)
    out = []
    for i in range(n):
        s = 0.0
        for j in range(n):
            s += a(j, i) * v[j]
        out.append(s)
    return out


def times_ata(v):
    return times_transposed(times(v))


def spectral_norm(n):
    u = [1.0] * n
    v = None
    for _ in range(10):
        v = times_ata(u)
        u = times_ata(v)
    vbv = 0.0
    vv = 0.0
    for i in range(n):
        vbv += u[i] * v[i]
        vv += v[i] * v[i]
    return math.sqrt(vbv / vv)


print(int(spectral_norm(240) * 1e9))
