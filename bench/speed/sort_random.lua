local b = {}
for _ = 1, 300000 do b[#b + 1] = math.random(1000000) end
table.sort(b)
print(#b)
