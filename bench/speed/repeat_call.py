def f(a):
    return a + 1
s = 0
for i in range(1, 4000001):
    s = f(i)
print(s)
