x = 0
for _ in range(3000000):
    x = x + 1
print(x)
