class Particle:
    def __init__(self, x, y, vx, vy):
        self.x = x
        self.y = y
        self.vx = vx
        self.vy = vy

    def move(self, dt):
        self.x = self.x + self.vx * dt
        self.y = self.y + self.vy * dt
        if self.x < 0.0 or self.x > 100.0:
            self.vx = 0.0 - self.vx
        if self.y < 0.0 or self.y > 100.0:
            self.vy = 0.0 - self.vy

    def energy(self):
        return self.vx * self.vx + self.vy * self.vy


particles = []
for i in range(100):
    particles.append(Particle(i * 1.0, 100.0 - i, (i % 7) - 3.0, (i % 5) - 2.0))
total = 0.0
for step in range(20000):
    for p in particles:
        p.move(0.1)
    total = total + particles[step % 100].energy()
sx = 0.0
for p in particles:
    sx = sx + p.x + p.y
print(int(sx * 1000.0), int(total))
