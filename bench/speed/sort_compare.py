from functools import cmp_to_key


def by_score(a, b):
    if a[1] == b[1]:
        return -1 if a[0] < b[0] else 1
    return -1 if a[1] < b[1] else 1


seed = 7
people = []
for i in range(20000):
    seed = (seed * 1021 + 12345) % 1048576
    people.append(["p" + str(i), seed % 1000])
check = 0
for _ in range(10):
    ranked = sorted(people, key=cmp_to_key(by_score))
    check = check + ranked[0][1] + ranked[10000][1] + int(ranked[19999][0][1:])
print(check)
