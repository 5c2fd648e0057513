local t = {}
for _ = 1, 1000000 do t[#t + 1] = "ab" end
print(#table.concat(t))
