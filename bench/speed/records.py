seed = 3
orders = []
for i in range(5000):
    seed = (seed * 1021 + 12345) % 1048576
    orders.append([i, seed % 100, seed % 7 + 1, "c" + str(seed % 50)])
revenue = 0
big = 0
per_customer = 0
for _ in range(400):
    for o in orders:
        if o[2] > 3:
            revenue = revenue + o[1] * o[2]
        else:
            revenue = revenue + o[1]
        if o[1] > 90:
            big = big + 1
        if o[3] == "c7":
            per_customer = per_customer + o[2]
print(revenue, big, per_customer)
