total = 0
for round_ in range(200):
    out = []
    for i in range(5000):
        out.append("item " + str(i) + ": " + str(i * round_) + "\n")
    text = "".join(out)
    line = ""
    for i in range(200):
        line = line + str(i % 10)
    total = total + len(text) + len(line)
print(total)
