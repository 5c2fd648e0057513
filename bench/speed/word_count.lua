local words = {}
for i = 0, 1999 do words[#words + 1] = "w" .. (i * 7) end
local counts = {}
local distinct = 0
local seed = 1
for _ = 1, 1500000 do
  seed = (seed * 1021 + 12345) % 1048576
  local w = words[seed % 2000 + 1]
  local c = counts[w]
  if c == nil then distinct = distinct + 1 end
  counts[w] = (c or 0) + 1
end
local most = 0
for _, w in ipairs(words) do
  local c = counts[w] or 0
  if c > most then most = c end
end
print(distinct .. " " .. most .. " " .. counts["w700"])
