local seed = 11
local b = {}
for _ = 1, 300000 do
  seed = (seed * 1021 + 12345) % 1048576
  b[#b + 1] = seed
end
table.sort(b)
print(#b .. " " .. b[1] .. " " .. b[150000] .. " " .. b[#b])
