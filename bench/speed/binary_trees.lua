local function make_tree(depth)
  if depth == 0 then return {false, false} end
  return {make_tree(depth - 1), make_tree(depth - 1)}
end

local function check(tree)
  if not tree[1] then return 1 end
  return 1 + check(tree[1]) + check(tree[2])
end

local max_depth = 14
local stretch = make_tree(max_depth + 1)
local out = {check(stretch)}
stretch = nil
local long_lived = make_tree(max_depth)
local depth = 4
while depth <= max_depth do
  local iterations = 2 ^ (max_depth - depth + 4)
  local total = 0
  for _ = 1, iterations do total = total + check(make_tree(depth)) end
  out[#out + 1] = total
  depth = depth + 2
end
out[#out + 1] = check(long_lived)
print(table.concat(out, " "))
