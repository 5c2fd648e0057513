local Account = {}
Account.__index = Account

function Account.new(id, balance)
  return setmetatable({id = id, balance = balance, history = {}}, Account)
end

function Account:deposit(amount)
  self.balance = self.balance + amount
  self.history[#self.history + 1] = amount
end

local total = 0
local kept = {}
for i = 0, 799999 do
  local a = Account.new(i, i % 100)
  a:deposit(i % 7)
  total = total + a.balance + #a.history
  if i % 1000 == 0 then kept[#kept + 1] = a end
end
print(total .. " " .. #kept .. " " .. kept[11].balance)
