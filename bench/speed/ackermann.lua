local function ack(m, n)
  if m == 0 then return n + 1 end
  if n == 0 then return ack(m - 1, 1) end
  return ack(m - 1, ack(m, n - 1))
end
local total = 0
for i = 0, 2999 do total = total + ack(2, 20 + i % 30) end
print(total)
