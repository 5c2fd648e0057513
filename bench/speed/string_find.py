parts = []
for i in range(2000):
    parts.append("the quick brown fox " + str(i) + " jumps over the lazy dog; ")
text = "".join(parts)


def count(text, needle):
    n = 0
    pos = text.find(needle)
    while pos >= 0:
        n = n + 1
        pos = text.find(needle, pos + 1)
    return n


total = 0
for _ in range(500):
    total = total + count(text, "fox") + count(text, "dog;") + count(text, "99 ") + count(text, "z")
print(len(text), total)
