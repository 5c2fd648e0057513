local function run(program, n)
  local acc, count, pc = 0, 0, 1
  local size = #program
  local steps = 0
  while steps < n do
    local op = program[pc]
    if op == "inc" then acc = acc + 1
    elseif op == "dec" then acc = acc - 1
    elseif op == "double" then acc = acc * 2
    elseif op == "half" then acc = acc // 2
    elseif op == "count" then count = count + 1
    elseif op == "reset" then acc = 0
    end
    pc = pc + 1
    if pc > size then pc = 1 end
    steps = steps + 1
  end
  return acc + count
end

local prog = {"inc", "inc", "double", "count", "dec", "half", "inc", "double", "count", "reset", "inc", "half"}
print(run(prog, 3000000))
