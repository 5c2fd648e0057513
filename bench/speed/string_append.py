def build():
    s = ""
    for _ in range(4000000):
        s += "ab"
    return s
print(len(build()))
