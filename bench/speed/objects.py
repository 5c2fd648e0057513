class Account:
    def __init__(self, id_, balance):
        self.id = id_
        self.balance = balance
        self.history = []

    def deposit(self, amount):
        self.balance = self.balance + amount
        self.history.append(amount)


total = 0
kept = []
for i in range(800000):
    a = Account(i, i % 100)
    a.deposit(i % 7)
    total = total + a.balance + len(a.history)
    if i % 1000 == 0:
        kept.append(a)
print(total, len(kept), kept[10].balance)
