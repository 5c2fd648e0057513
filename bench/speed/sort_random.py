import random
b = []
for _ in range(300000):
    b.append(random.randint(1, 1000000))
b.sort()
print(len(b))
