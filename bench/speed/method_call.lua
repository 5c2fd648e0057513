local o = {n = 0}
function o:f(x) self.n = self.n + x end
for _ = 1, 4000000 do o:f(1) end
print(o.n)
