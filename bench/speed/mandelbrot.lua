local function mandelbrot(width, height, limit)
  local inside = 0
  for y = 0, height - 1 do
    local ci = 2.0 * y / height - 1.0
    for x = 0, width - 1 do
      local cr = 2.5 * x / width - 2.0
      local zr, zi, i = 0.0, 0.0, 0
      while i < limit and zr * zr + zi * zi <= 4.0 do
        local t = zr * zr - zi * zi + cr
        zi = 2.0 * zr * zi + ci
        zr = t
        i = i + 1
      end
      if i == limit then inside = inside + 1 end
    end
  end
  return inside
end
print(mandelbrot(600, 400, 50))
