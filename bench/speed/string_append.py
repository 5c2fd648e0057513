def build():
    s = ""
    for _ in range(3000000):
        s += "ab"
    return s
print(len(build()))
