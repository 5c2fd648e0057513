def build():
    s = ""
    for _ in range(1000000):
        s += "ab"
    return s
print(len(build()))
