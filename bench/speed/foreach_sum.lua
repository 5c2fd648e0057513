local b = {}
for i = 1, 1000000 do b[#b + 1] = i % 1000 end
s = 0
for _, x in ipairs(b) do s = s + x end
print(s)
