def ack(m, n):
    if m == 0:
        return n + 1
    if n == 0:
        return ack(m - 1, 1)
    return ack(m - 1, ack(m, n - 1))


total = 0
for i in range(3000):
    total += ack(2, 20 + i % 30)
print(total)
