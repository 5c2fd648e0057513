local function scale(x, by, offset)
  if by ~= nil then x = x * by end
  if offset ~= nil then x = x + offset end
  return x
end

local function clamp(x, low, high)
  if low ~= nil and x < low then return low end
  if high ~= nil and x > high then return high end
  return x
end

local function adjust(x, limit)
  local y = scale(x, 3, 1)
  if limit ~= nil then return clamp(y, 0, limit) end
  return clamp(scale(y, nil, -5), 0)
end

local total = 0
for i = 1, 800000 do
  total = total + adjust(i % 100, 200) + adjust(i % 10) + scale(i % 7)
end
print(total)
