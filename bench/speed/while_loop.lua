i = 0 x = 0
while i < 4000000 do i = i + 1 if i % 7 == 0 then x = x + 1 end end
print(x)
