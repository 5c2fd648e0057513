words = []
for i in range(2000):
    words.append("w" + str(i * 7))
counts = {}
seed = 1
for _ in range(1500000):
    seed = (seed * 1021 + 12345) % 1048576
    w = words[seed % 2000]
    counts[w] = counts.get(w, 0) + 1
most = 0
for w in words:
    c = counts.get(w, 0)
    if c > most:
        most = c
print(len(counts), most, counts["w700"])
