local seed = 3
local orders = {}
for i = 0, 4999 do
  seed = (seed * 1021 + 12345) % 1048576
  orders[#orders + 1] = {i, seed % 100, seed % 7 + 1, "c" .. (seed % 50)}
end
local revenue, big, per_customer = 0, 0, 0
for _ = 1, 400 do
  for _, o in ipairs(orders) do
    if o[3] > 3 then revenue = revenue + o[2] * o[3] else revenue = revenue + o[2] end
    if o[2] > 90 then big = big + 1 end
    if o[4] == "c7" then per_customer = per_customer + o[3] end
  end
end
print(revenue .. " " .. big .. " " .. per_customer)
