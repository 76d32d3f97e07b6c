# A long text built by appending numbers and commas one at a time.
text = ""
for i in range(1, 20001):
    text = text + str(i) + ","
print("concat", len(text))
