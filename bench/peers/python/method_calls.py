# Method calls on one object inside a loop.
class Counter:
    def __init__(self):
        self.total = 0

    def add(self, n):
        self.total = self.total + n

    def get(self):
        return self.total


counter = Counter()
for i in range(1, 3000001):
    counter.add(i % 10)
print("method", counter.get())
