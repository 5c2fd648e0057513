local total = 0
for k = 0, 199 do
  local out = {}
  for i = 0, 4999 do
    out[#out + 1] = "item " .. i .. ": " .. (i * k) .. "\n"
  end
  local text = table.concat(out)
  local line = ""
  for i = 0, 199 do line = line .. (i % 10) end
  total = total + #text + #line
end
print(total)
