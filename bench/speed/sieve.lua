local function sieve(n)
  local flags = {}
  for k = 0, n do flags[k + 1] = true end
  local count = 0
  local i = 2
  while i <= n do
    if flags[i + 1] then
      count = count + 1
      local j = i + i
      while j <= n do
        flags[j + 1] = false
        j = j + i
      end
    end
    i = i + 1
  end
  return count
end

local total = 0
for _ = 1, 6 do total = total + sieve(300000) end
print(total)
