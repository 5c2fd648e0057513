def run(program, n):
    acc = 0
    count = 0
    pc = 0
    size = len(program)
    steps = 0
    while steps < n:
        op = program[pc]
        if op == "inc":
            acc = acc + 1
        elif op == "dec":
            acc = acc - 1
        elif op == "double":
            acc = acc * 2
        elif op == "half":
            acc = acc // 2
        elif op == "count":
            count = count + 1
        elif op == "reset":
            acc = 0
        pc = pc + 1
        if pc == size:
            pc = 0
        steps = steps + 1
    return acc + count


prog = ["inc", "inc", "double", "count", "dec", "half", "inc", "double", "count", "reset", "inc", "half"]
print(run(prog, 3000000))
