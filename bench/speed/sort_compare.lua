local function by_score(a, b)
  if a[2] == b[2] then return a[1] < b[1] end
  return a[2] < b[2]
end

local seed = 7
local people = {}
for i = 0, 19999 do
  seed = (seed * 1021 + 12345) % 1048576
  people[#people + 1] = {"p" .. i, seed % 1000}
end
local check = 0
for _ = 1, 10 do
  local ranked = table.move(people, 1, #people, 1, {})
  table.sort(ranked, by_score)
  check = check + ranked[1][2] + ranked[10001][2] + tonumber(string.sub(ranked[20000][1], 2))
end
print(check)
