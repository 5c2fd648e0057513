local function ratio(a, b)
  return 60 // b + a % 10
end

local total = 0
local errors = 0
for i = 1, 1000000 do
  local ok, r = pcall(ratio, i, i % 5)
  if ok then total = total + r else errors = errors + 1 end
  ok, r = pcall(function() return 60 // (i % 4) end)
  if ok then total = total + r else errors = errors + 1 end
end
print(total .. " " .. errors)
