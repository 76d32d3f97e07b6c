# Nested counting loops with a product and a remainder in the body.
total = 0
for i in range(1, 3001):
    for j in range(1, 1001):
        total = total + (i * j) % 7
print("nested", total)
