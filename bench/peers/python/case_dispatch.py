# Multi-way dispatch on a small selector inside a loop.
total = 0
for i in range(1, 3000001):
    k = i % 5
    if k == 0:
        total += 1
    elif k == 1:
        total += 3
    elif k == 2:
        total -= 2
    elif k == 3:
        total += i % 3
    else:
        total += 7
print("case", total)
