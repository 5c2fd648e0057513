def ratio(a, b):
    return 60 // b + a % 10


total = 0
errors = 0
for i in range(1, 1000001):
    try:
        total = total + ratio(i, i % 5)
    except ZeroDivisionError:
        errors = errors + 1
    try:
        total = total + 60 // (i % 4)
    except ZeroDivisionError:
        errors = errors + 1
print(total, errors)
