local lines = {}
for i = 0, 19999 do
  lines[#lines + 1] = "name" .. i .. "," .. (i % 97) .. "," .. (i % 13) .. ";tag" .. (i % 5) .. "\n"
end
local text = table.concat(lines)

local total, records, tags = 0, 0, 0
for _ = 1, 25 do
  for name, a, b, tag in string.gmatch(text, "([^,]*),(%d+),(%d+);([^\n]*)\n") do
    total = total + tonumber(a) * tonumber(b)
    records = records + 1
    if tag == "tag3" then tags = tags + 1 end
  end
end
print(#text .. " " .. records .. " " .. total .. " " .. tags)
