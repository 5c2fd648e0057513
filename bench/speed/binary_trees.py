def make_tree(depth):
    if depth == 0:
        return (None, None)
    return (make_tree(depth - 1), make_tree(depth - 1))


def check(tree):
    left, right = tree
    if left is None:
        return 1
    return 1 + check(left) + check(right)


max_depth = 14
stretch = make_tree(max_depth + 1)
out = [check(stretch)]
stretch = None
long_lived = make_tree(max_depth)
depth = 4
while depth <= max_depth:
    iterations = 2 ** (max_depth - depth + 4)
    total = 0
    for _ in range(iterations):
        total = total + check(make_tree(depth))
    out.append(total)
    depth = depth + 2
out.append(check(long_lived))
print(" ".join(str(x) for x in out))
