local Particle = {}
Particle.__index = Particle

function Particle.new(x, y, vx, vy)
  return setmetatable({x = x, y = y, vx = vx, vy = vy}, Particle)
end

function Particle:move(dt)
  self.x = self.x + self.vx * dt
  self.y = self.y + self.vy * dt
  if self.x < 0.0 or self.x > 100.0 then self.vx = 0.0 - self.vx end
  if self.y < 0.0 or self.y > 100.0 then self.vy = 0.0 - self.vy end
end

function Particle:energy()
  return self.vx * self.vx + self.vy * self.vy
end

local particles = {}
for i = 0, 99 do
  particles[#particles + 1] = Particle.new(i * 1.0, 100.0 - i, (i % 7) - 3.0, (i % 5) - 2.0)
end
local total = 0.0
for step = 0, 19999 do
  for _, p in ipairs(particles) do p:move(0.1) end
  total = total + particles[step % 100 + 1]:energy()
end
local sx = 0.0
for _, p in ipairs(particles) do sx = sx + p.x + p.y end
print(math.floor(sx * 1000.0) .. " " .. math.floor(total))
