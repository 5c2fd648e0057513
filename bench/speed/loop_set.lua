x = 0
for _ = 1, 5000000 do x = x + 1 end
print(x)
