local function fold(f, acc, items)
  for _, x in ipairs(items) do acc = f(acc, x) end
  return acc
end

local function map_items(f, items)
  local out = {}
  for _, x in ipairs(items) do out[#out + 1] = f(x) end
  return out
end

local function keep(f, items)
  local out = {}
  for _, x in ipairs(items) do
    if f(x) then out[#out + 1] = x end
  end
  return out
end

local function square(x) return x * x end
local function plus(a, b) return a + b end

local numbers = {}
for i = 1, 1000 do numbers[i] = i end
local total = 0
for k = 0, 1499 do
  local squares = map_items(square, numbers)
  local odds = keep(function(x) return x % 2 == 1 end, squares)
  total = total + fold(plus, 0, odds) % 1000 + fold(function(a, b) return math.max(a, b) end, 0, numbers)
  total = total + fold(plus, k, map_items(function(x) return x + k end, numbers)) % 1000
end
print(total)
