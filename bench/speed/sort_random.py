seed = 11
b = []
for _ in range(300000):
    seed = (seed * 1021 + 12345) % 1048576
    b.append(seed)
b.sort()
print(len(b), b[0], b[149999], b[-1])
