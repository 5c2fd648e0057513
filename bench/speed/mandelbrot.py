def mandelbrot(width, height, limit):
    inside = 0
    for y in range(height):
        ci = 2.0 * y / height - 1.0
        for x in range(width):
            cr = 2.5 * x / width - 2.0
            zr = 0.0
            zi = 0.0
            i = 0
            while i < limit and zr * zr + zi * zi <= 4.0:
                t = zr * zr - zi * zi + cr
                zi = 2.0 * zr * zi + ci
                zr = t
                i += 1
            if i == limit:
                inside += 1
    return inside


print(mandelbrot(600, 400, 50))
