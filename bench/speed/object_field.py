class O:
    pass
o = O()
o.a = 0
for _ in range(5000000):
    o.a = o.a + 1
print(o.a)
