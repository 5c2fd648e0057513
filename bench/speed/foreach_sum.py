b = []
for i in range(1, 1000001):
    b.append(i % 1000)
s = 0
for x in b:
    s = s + x
print(s)
