i = 0
x = 0
while i < 4000000:
    i = i + 1
    if i % 7 == 0:
        x = x + 1
print(x)
