local function check(i)
  if i % 3 == 0 then error({value = i}) end
  return i
end

local function first_multiple(items, k)
  local ok, result = pcall(function()
    for _, x in ipairs(items) do
      if x % k == 0 then error({value = x}) end
    end
    return 0
  end)
  if ok then return result end
  return result.value
end

local total = 0
local items = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}
for i = 1, 400000 do
  local ok, r = pcall(check, i)
  if not ok then r = r.value end
  if r % 3 == 0 then r = r + 1 end
  total = total + r % 100 + first_multiple(items, i % 13 + 1)
end
print(total)
