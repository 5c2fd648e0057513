x = 0
for _ in range(5000000):
    x = x + 1
print(x)
