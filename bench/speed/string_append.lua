local t = {}
for _ = 1, 4000000 do t[#t + 1] = "ab" end
print(#table.concat(t))
