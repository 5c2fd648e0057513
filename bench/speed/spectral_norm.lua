local function a(i, j)
  return 1.0 / ((i + j) * (i + j + 1) // 2 + i + 1)
end

local function times(v)
  local n = #v
  local out = {}
  for i = 0, n - 1 do
    local s = 0.0
    for j = 0, n - 1 do s = s + a(i, j) * v[j + 1] end
    out[i + 1] = s
  end
  return out
end

local function times_transposed(v)
  local n = #v
  local out = {}
  for i = 0, n - 1 do
    local s = 0.0
    for j = 0, n - 1 do s = s + a(j, i) * v[j + 1] end
    out[i + 1] = s
  end
  return out
end

local function times_ata(v) return times_transposed(times(v)) end

local function spectral_norm(n)
  local u = {}
  for i = 1, n do u[i] = 1.0 end
  local v
  for _ = 1, 10 do
    v = times_ata(u)
    u = times_ata(v)
  end
  local vbv, vv = 0.0, 0.0
  for i = 1, n do
    vbv = vbv + u[i] * v[i]
    vv = vv + v[i] * v[i]
  end
  return math.sqrt(vbv / vv)
end

print(math.floor(spectral_norm(240) * 1e9))
