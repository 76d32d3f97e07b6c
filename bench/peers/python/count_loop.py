# A counting loop of ten million additions.
total = 0
for i in range(1, 10000001):
    total = total + i
print("count", total)
