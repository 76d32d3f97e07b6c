# A WHILE loop whose body is compound assignments.
i = 0
total = 0
down = 1000000000
while i < 3000000:
    i += 1
    total += i
    down -= 3
print("while", total + down)
