local parts = {}
for i = 0, 1999 do
  parts[#parts + 1] = "the quick brown fox " .. i .. " jumps over the lazy dog; "
end
local text = table.concat(parts)

local function count(text, needle)
  local n = 0
  local pos = string.find(text, needle, 1, true)
  while pos do
    n = n + 1
    pos = string.find(text, needle, pos + 1, true)
  end
  return n
end

local total = 0
for _ = 1, 500 do
  total = total + count(text, "fox") + count(text, "dog;") + count(text, "99 ") + count(text, "z")
end
print(#text .. " " .. total)
