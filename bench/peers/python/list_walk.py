# Build a list by appending, then walk it summing its items.
items = []
for i in range(1, 1000001):
    items.append(i % 100)
total = 0
for value in items:
    total += value
print("list", len(items), total)
