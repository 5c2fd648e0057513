function f(a) return a + 1 end
s = 0
for i = 1, 4000000 do s = f(i) end
print(s)
