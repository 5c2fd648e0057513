o = {a = 0}
for _ = 1, 5000000 do o.a = o.a + 1 end
print(o.a)
