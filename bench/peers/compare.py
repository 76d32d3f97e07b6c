#!/usr/bin/env python3
"""Runs the benchmark programs on qob, lua5.4 and python3 and compares them.

Each program of bench/programs/ has a twin in bench/peers/lua/ and
bench/peers/python/ that prints the same checksum line. Every program is
first run once on each interpreter to check that the checksums agree; the
agreeing ones are then timed with hyperfine (the median of several runs).
The compile benchmark times compiling a generated program of about 50,000
lines, loading its compiled file (with its run, and alone), `luac5.4 -p` on
its Lua twin, and Lua loading the twin's stripped bytecode (`luac5.4 -s -o`)
and running it: the peer of qob's load.

scripts/bench-peers builds qob and calls this; run it through that script.
"""

import argparse
import json
import math
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[2]
PROGRAMS = ROOT / "bench" / "programs"
PEERS = ROOT / "bench" / "peers"
GENERATOR = ROOT / "bench" / "compile" / "generate.py"
CHECK_TIMEOUT = 300  # seconds for the one checking run of a program


class Outcome:
    """The checking run of one program on one interpreter."""

    def __init__(self, output=None, failure=None):
        self.output = output
        self.failure = failure

    @property
    def ok(self):
        return self.failure is None


def run_once(command, cwd, quiet=False):
    """Runs a command once; quiet says that it is meant to print nothing."""
    try:
        done = subprocess.run(command, cwd=cwd, capture_output=True, text=True,
                              timeout=CHECK_TIMEOUT, errors="replace")
    except subprocess.TimeoutExpired:
        return Outcome(failure=f"no end after {CHECK_TIMEOUT} s")
    except OSError as error:
        return Outcome(failure=str(error))
    output = done.stdout.strip()
    if done.returncode != 0:
        lines = [line for line in (done.stderr.strip() or output).splitlines() if line.strip()]
        detail = lines[-2:]
        return Outcome(output, f"exit code {done.returncode}: {' | '.join(detail)}")
    if not output and not quiet:
        return Outcome(output, "printed nothing")
    return Outcome(output)


def time_commands(commands, work, runs, warmup):
    """Median seconds of each (name, argv) pair, timed by hyperfine."""
    if not commands:
        return {}
    report = work / "hyperfine.json"
    argv = ["hyperfine", "--shell=none", "--style=none", "--runs", str(runs),
            "--warmup", str(warmup), "--export-json", str(report)]
    for name, command in commands:
        argv += ["--command-name", name, " ".join(command)]
    # hyperfine's advice about outliers goes to stderr: shown only on failure.
    done = subprocess.run(argv, cwd=work, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"hyperfine failed:\n{done.stderr}")
    results = json.loads(report.read_text())["results"]
    return {result["command"]: result["median"] for result in results}


def peer_commands(name, qob, work):
    commands = {
        "lua5.4": ["lua5.4", str(PEERS / "lua" / f"{name}.lua")],
        "python3": ["/usr/bin/python3", str(PEERS / "python" / f"{name}.py")],
    }
    if qob is not None:
        commands = {"qob": [str(qob), str(work / f"{name}.qob")], **commands}
    return commands


def format_ms(seconds):
    return "-" if seconds is None else f"{seconds * 1000:.1f}"


def format_ratio(numerator, denominator):
    if numerator is None or denominator is None or denominator == 0:
        return "-"
    return f"{numerator / denominator:.2f}"


def geometric_mean(values):
    values = [v for v in values if v is not None and v > 0]
    if not values:
        return None
    return math.exp(sum(math.log(v) for v in values) / len(values))


def print_table(header, rows):
    widths = [max(len(str(row[i])) for row in [header] + rows) for i in range(len(header))]
    line = lambda row: "  ".join(str(cell).rjust(widths[i]) if i else str(cell).ljust(widths[i])
                                 for i, cell in enumerate(row))
    print(line(header))
    print("  ".join("-" * w for w in widths))
    for row in rows:
        print(line(row))


def program_benchmark(names, qob, work, runs, warmup):
    """Checks and times every program; returns the list of problems."""
    problems = []
    rows = []
    lua_ratios, python_ratios = [], []
    for name in names:
        shutil.copy(PROGRAMS / f"{name}.qob", work / f"{name}.qob")
        commands = peer_commands(name, qob, work)
        outcomes = {who: run_once(command, work) for who, command in commands.items()}
        # The first peer that runs gives the checksum every other must print.
        expected = next((o.output for who, o in outcomes.items() if who != "qob" and o.ok), None)
        timed = []
        for who, outcome in outcomes.items():
            if not outcome.ok:
                problems.append(f"{name} on {who}: {outcome.failure}")
            elif outcome.output != expected:
                problems.append(f"{name} on {who}: printed {outcome.output!r}, expected {expected!r}")
            else:
                timed.append((who, commands[who]))
        if qob is None:
            problems.append(f"{name} on qob: no qob executable")
        medians = time_commands(timed, work, runs, warmup)
        q, l, p = (medians.get(who) for who in ("qob", "lua5.4", "python3"))
        if q is not None and l is not None:
            lua_ratios.append(q / l)
        if q is not None and p is not None:
            python_ratios.append(q / p)
        rows.append([name, format_ms(q), format_ms(l), format_ms(p), format_ratio(q, l), format_ratio(q, p)])
    lua_mean, python_mean = geometric_mean(lua_ratios), geometric_mean(python_ratios)
    rows.append(["geometric mean", "", "", "",
                 "-" if lua_mean is None else f"{lua_mean:.2f}",
                 "-" if python_mean is None else f"{python_mean:.2f}"])
    print(f"\nPrograms (median of {runs} runs, milliseconds; qob loads the compiled file after the first run)\n")
    print_table(["program", "qob", "lua5.4", "python3", "qob/lua", "qob/python"], rows)
    return problems


def count_lines(path):
    return path.read_text().count("\n")


def compile_benchmark(qob, work, runs, warmup):
    """Times compiling and loading the generated program; returns problems."""
    folder = work / "compile"
    folder.mkdir(exist_ok=True)
    subprocess.run([sys.executable, str(GENERATOR), str(folder)], check=True, stdout=subprocess.DEVNULL)
    big_qob, big_lua = folder / "big.qob", folder / "big.lua"
    # Start-up alone: a program of one statement, loaded from its compiled file.
    tiny = folder / "tiny.qob"
    tiny.write_text('PROC MAIN\n  showmessage("tiny");\nEND;\n')
    problems = []
    expected = run_once(["lua5.4", str(big_lua)], folder)
    if not expected.ok:
        return [f"compile benchmark on lua5.4: {expected.failure}"]
    commands = [("luac5.4 -p", ["luac5.4", "-p", str(big_lua)])]
    # Lua's own load: the twin's stripped bytecode, loaded and run.
    big_luac = folder / "big.luac"
    made = run_once(["luac5.4", "-s", "-o", str(big_luac), str(big_lua)], folder, quiet=True)
    loaded_luac = run_once(["lua5.4", str(big_luac)], folder) if made.ok else made
    if not loaded_luac.ok:
        problems.append(f"compile benchmark, lua5.4 loading big.luac: {loaded_luac.failure}")
    elif loaded_luac.output != expected.output:
        problems.append(f"compile benchmark on lua5.4 big.luac: printed {loaded_luac.output!r}, "
                        f"expected {expected.output!r}")
    else:
        commands.append(("lua5.4 big.luac", ["lua5.4", str(big_luac)]))
    if qob is None:
        problems.append("compile benchmark on qob: no qob executable")
    else:
        compiled = run_once([str(qob), str(big_qob), "C"], folder, quiet=True)
        loaded = run_once([str(qob), str(big_qob)], folder) if compiled.ok else compiled
        if not compiled.ok:
            problems.append(f"compile benchmark, qob compiling: {compiled.failure}")
        elif not (folder / "big.qoc").exists():
            problems.append("compile benchmark, qob compiling: no big.qoc written")
        elif not loaded.ok:
            problems.append(f"compile benchmark, qob loading: {loaded.failure}")
        elif loaded.output != expected.output:
            problems.append(f"compile benchmark on qob: printed {loaded.output!r}, expected {expected.output!r}")
        else:
            commands = [("qob compile", [str(qob), str(big_qob), "C"]),
                        ("qob load", [str(qob), str(big_qob)])] + commands
            # The same program whose run makes no call: its load is timed alone.
            idle_qob = folder / "idle.qob"
            idle = run_once([str(qob), str(idle_qob), "C"], folder, quiet=True)
            if idle.ok:
                idle = run_once([str(qob), str(idle_qob)], folder)
            if not idle.ok:
                problems.append(f"compile benchmark, qob loading idle.qob: {idle.failure}")
            elif idle.output != "compile 1":
                problems.append(f"compile benchmark on qob: idle.qob printed {idle.output!r}, expected 'compile 1'")
            else:
                commands.append(("qob load alone", [str(qob), str(idle_qob)]))
            if run_once([str(qob), str(tiny)], folder).output == "tiny":
                commands.append(("qob start-up", [str(qob), str(tiny)]))
    medians = time_commands(commands, folder, runs, warmup)
    qob_lines, lua_lines = count_lines(big_qob), count_lines(big_lua)
    per_line = lambda seconds, lines: "-" if seconds is None else f"{seconds * 1e6 / lines:.2f}"
    compile_time, load_time, alone_time, luac_time, startup_time, lua_load_time = (
        medians.get(n) for n in ("qob compile", "qob load", "qob load alone", "luac5.4 -p", "qob start-up",
                                 "lua5.4 big.luac"))
    rows = [
        ["qob: start-up (one-line program, compiled file)", count_lines(tiny), format_ms(startup_time), "-"],
        ["qob: compile (C switch)", qob_lines, format_ms(compile_time), per_line(compile_time, qob_lines)],
        ["qob: load compiled file and run", qob_lines, format_ms(load_time), per_line(load_time, qob_lines)],
        ["qob: load compiled file, run makes no call", qob_lines, format_ms(alone_time),
         per_line(alone_time, qob_lines)],
        ["luac5.4 -p", lua_lines, format_ms(luac_time), per_line(luac_time, lua_lines)],
        ["lua5.4 big.luac (load luac5.4 -s output and run)", lua_lines, format_ms(lua_load_time),
         per_line(lua_load_time, lua_lines)],
    ]
    print(f"\nCompile benchmark (median of {runs} runs; whole process, start-up included)\n")
    print_table(["step", "lines", "ms", "us/line"], rows)
    if compile_time is not None and luac_time is not None:
        ratio = (compile_time / qob_lines) / (luac_time / lua_lines)
        print(f"\nqob compile per line / luac5.4 -p per line: {ratio:.2f}")
    if compile_time is not None and load_time is not None:
        print(f"qob compile / qob load and run: {compile_time / load_time:.2f}")
    if compile_time is not None and alone_time is not None:
        print(f"qob compile / qob load alone: {compile_time / alone_time:.2f}")
    if alone_time is not None and lua_load_time is not None:
        print(f"qob load alone / lua5.4 big.luac: {alone_time / lua_load_time:.2f}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--qob", type=pathlib.Path, help="the qob executable (omit when it could not be built)")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--warmup", type=int, default=1)
    parser.add_argument("--work", type=pathlib.Path, help="working folder (default: a new temporary one)")
    parser.add_argument("--no-compile", action="store_true", help="skip the compile benchmark")
    parser.add_argument("programs", nargs="*", help="program names (default: all of bench/programs)")
    args = parser.parse_args()

    names = args.programs or sorted(p.stem for p in PROGRAMS.glob("*.qob"))
    missing = [n for n in names if not (PROGRAMS / f"{n}.qob").exists()]
    if missing:
        parser.error(f"no such program: {', '.join(missing)}")
    work = args.work or pathlib.Path(tempfile.mkdtemp(prefix="qob-bench-"))
    work = work.resolve()
    work.mkdir(parents=True, exist_ok=True)
    qob = args.qob.resolve() if args.qob else None
    # qob writes its logs into its root folder: keep them in the working one.
    os.environ["QOB_ROOT"] = str(work) + "/"

    problems = program_benchmark(names, qob, work, args.runs, args.warmup)
    if not args.no_compile:
        problems += compile_benchmark(qob, work, args.runs, args.warmup)
    if problems:
        print("\nNot compared:")
        for problem in problems:
            print(f"  {problem}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
