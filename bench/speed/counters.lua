local function int_counter(n)
  local i, s = 0, 0
  while i < n do
    i = i + 1
    if i % 3 == 0 then s = s + i % 7 end
  end
  return s
end

local function float_counter(limit)
  local x, steps = 0.0, 0
  repeat
    x = x + 0.25
    steps = steps + 1
  until x >= limit
  return steps
end

local function countdown(n)
  local k, hits = n, 0
  while k > 0 do
    k = k - 1
    if k % 1000 == 0 then hits = hits + 1 end
  end
  return hits
end

print(int_counter(3000000) .. " " .. float_counter(750000.0) .. " " .. countdown(3000000))
