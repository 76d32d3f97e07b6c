#!/usr/bin/env python3
"""Writes a large QOB program and its Lua twin for the compile benchmark.

The two programs compute the same checksum: many small functions with
expressions and every kind of control statement, called through group
functions so that the linker keeps all of them.

    generate.py OUTPUT_DIR [--lines N]

writes OUTPUT_DIR/big.qob and OUTPUT_DIR/big.lua and prints the line count
of each. It also writes OUTPUT_DIR/idle.qob: big.qob whose MAIN calls the
groups only under a condition that is false when it runs, so that its
compiled file holds the whole program while its run does next to nothing
(it prints "compile 1"): loading that file times the load alone.
"""

import argparse
import pathlib

# Every value stays a non-negative integer below 2^31, so that the integer
# remainder of both languages agrees and no double loses precision.
FUNCTIONS_PER_GROUP = 40


def constants(k):
    return 3 + k % 41, 11 + k % 89, 7 + k % 13, 2 + k % 37


def qob_function(k):
    c1, c2, c3, c4 = constants(k)
    return f"""FUNC F{k}(A$, B$)
  LOCAL(X$, Y$, I$);
  X$ = (A$ * {c1} + B$) MOD 1000;
  Y$ = (B$ + {c2}) MOD 997;
  IF(X$ > Y$)
    X$ = X$ - Y$;
  ELSE
    X$ = Y$ - X$ + {c3};
  END;
  FOR(I$, 1, 3)
    Y$ = (Y$ * 7 + I$ + X$) MOD 1009;
  END;
  WHILE(X$ > 100)
    X$ = X$ - 100;
  END;
  CASE(X$ MOD 4)
    0: Y$ = Y$ + 1;
    1: Y$ = Y$ + 2;
    DEFAULT: Y$ = Y$ + 3;
  END;
  REPEAT
    Y$ = Y$ + 5;
  UNTIL(Y$ MOD 2 == 0);
  IF(X$ == {c3} AND Y$ > 10)
    Y$ = Y$ - 10;
  END;
  RETURN((X$ + Y$ * {c4}) MOD 10007);
END;

"""


def lua_function(k):
    c1, c2, c3, c4 = constants(k)
    return f"""function f{k}(a, b)
  local x = (a * {c1} + b) % 1000
  local y = (b + {c2}) % 997
  if x > y then
    x = x - y
  else
    x = y - x + {c3}
  end
  for i = 1, 3 do
    y = (y * 7 + i + x) % 1009
  end
  while x > 100 do
    x = x - 100
  end
  local selector = x % 4
  if selector == 0 then
    y = y + 1
  elseif selector == 1 then
    y = y + 2
  else
    y = y + 3
  end
  repeat
    y = y + 5
  until y % 2 == 0
  if x == {c3} and y > 10 then
    y = y - 10
  end
  return (x + y * {c4}) % 10007
end

"""


def qob_group(g, first, last):
    calls = "".join(f"  S$ = (S$ + F{k}(S$, {k})) MOD 1000003;\n" for k in range(first, last))
    return f"FUNC G{g}(S$)\n{calls}  RETURN(S$);\nEND;\n\n"


def lua_group(g, first, last):
    calls = "".join(f"  s = (s + f{k}(s, {k})) % 1000003\n" for k in range(first, last))
    return f"function g{g}(s)\n{calls}  return s\nend\n\n"


def qob_main(groups, idle):
    head = "PROC MAIN\n  LOCAL(S$);\n  S$ = 1;\n"
    calls = "".join(f"  S$ = G{g}(S$);\n" for g, _, _ in groups)
    if idle:
        # S$ is 1 here, so the calls are compiled and linked but never made.
        calls = "  IF(S$ == 0)\n" + calls.replace("\n  ", "\n    ").replace("  S$", "    S$", 1) + "  END;\n"
    return head + calls + '  showmessage("compile ", S$);\nEND;\n'


def generate(target_lines):
    # A function takes its own lines, one call line and a share of the
    # group function's head and tail.
    per_function = qob_function(0).count("\n") + 1 + 4 / FUNCTIONS_PER_GROUP
    count = max(FUNCTIONS_PER_GROUP, int(target_lines / per_function))
    groups = [(g, first, min(first + FUNCTIONS_PER_GROUP, count))
              for g, first in enumerate(range(0, count, FUNCTIONS_PER_GROUP))]
    qob = ["// Generated for the compile benchmark: many small functions.\n\n"]
    lua = ["-- Generated for the compile benchmark: the twin of big.qob.\n\n"]
    for k in range(count):
        qob.append(qob_function(k))
        lua.append(lua_function(k))
    for g, first, last in groups:
        qob.append(qob_group(g, first, last))
        lua.append(lua_group(g, first, last))
    body = "".join(qob)
    lua.append("local s = 1\n")
    lua.extend(f"s = g{g}(s)\n" for g, _, _ in groups)
    lua.append('print("compile " .. s)\n')
    return body + qob_main(groups, False), "".join(lua), body + qob_main(groups, True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output_dir", type=pathlib.Path)
    parser.add_argument("--lines", type=int, default=50000)
    args = parser.parse_args()
    args.output_dir.mkdir(parents=True, exist_ok=True)
    qob, lua, idle = generate(args.lines)
    (args.output_dir / "big.qob").write_text(qob)
    (args.output_dir / "big.lua").write_text(lua)
    (args.output_dir / "idle.qob").write_text(idle)
    print(f"big.qob {qob.count(chr(10))} lines, big.lua {lua.count(chr(10))} lines")


if __name__ == "__main__":
    main()
