lines = []
for i in range(20000):
    lines.append("name" + str(i) + "," + str(i % 97) + "," + str(i % 13) + ";tag" + str(i % 5) + "\n")
text = "".join(lines)

total = 0
records = 0
tags = 0
for _ in range(25):
    for line in text.split("\n"):
        if not line:
            continue
        fields, tag = line.split(";")
        name, a, b = fields.split(",")
        total = total + int(a) * int(b)
        records = records + 1
        if tag == "tag3":
            tags = tags + 1
print(len(text), records, total, tags)
