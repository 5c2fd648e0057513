local b = {}
local function poke(t, i, v)
  if i > #t then error("out of range") end
  t[i] = v
end
local function to_integer(s)
  local n = math.tointeger(tonumber(s))
  if n == nil then error("bad text") end
  return n
end
local function order(x, y) error({value = 1}) end

local caught, sorted_total = 0, 0
for i = 1, 100000 do
  if not pcall(poke, b, 5 + i % 3, 1) then caught = caught + 1 end
  if not pcall(to_integer, "x") then caught = caught + 1 end
  if not pcall(table.insert, i, 2) then caught = caught + 1 end
  local ok, t = pcall(table.sort, {3, 1, 2}, order)
  if not ok then sorted_total = sorted_total + t.value end
end
print(caught .. " " .. sorted_total)
