class O:
    def __init__(self):
        self.n = 0
    def f(self, x):
        self.n = self.n + x
o = O()
for _ in range(4000000):
    o.f(1)
print(o.n)
