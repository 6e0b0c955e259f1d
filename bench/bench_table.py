#!/usr/bin/env python3
"""The benchmarks in one table, as scripts/bench runs them (inside Xvfb, software GL).

    python3 bench/bench_table.py BUILD_DIR [--seconds N] [--big-seconds M]

Rows:
  - headless frame steps a second: whole four-player games replayed with no window;
  - in the real window (window_pace_bench): steps a second held over N seconds (60) with 1 and
    with 4 players, the median and worst cost of one frame step, CPU per second of game;
  - the program itself: time from launch to the title picture, CPU over 10 s at the title
    picture (it must be idle), peak memory over a four-player game.

Then the big screen, a table of its own: four players for M seconds (30) a case in the window at
640 x 480, 1280 x 960 and 1920 x 1440, drawn at the full size and with the automatic height, with
the machine's CPU and its load average before and after (--big-seconds 0 leaves it out).
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")


def fail(message):
    print("bench: " + message, file=sys.stderr)
    sys.exit(1)


def cpu_seconds(pid):
    """User plus system CPU time of a process so far, from /proc (threads included)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def peak_memory_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return 0.0


def headless_rate(program, games=5):
    """Whole four-player games (3000 steps each, with shots) replayed headless."""
    lines = ["players 1 1 1 1", "joysticks 2"]
    for _ in range(games):
        lines.append("game")
        for step in range(10, 3000, 25):
            lines += [f"at {step} key down 17 2", f"at {step + 3} key up 17 0",
                      f"at {step} key down 70 0", f"at {step + 3} key up 70 0",
                      f"at {step} joy 0 0 32767 1", f"at {step + 3} joy 0 65535 32767 0",
                      f"at {step} joy 1 32767 0 1", f"at {step + 3} joy 1 32767 65535 0"]
    with tempfile.TemporaryDirectory() as d:
        # The meshes beside the program, so the scene is built as in play; a high-score file
        # of the benchmark's own.
        for name in os.listdir(os.path.dirname(program)):
            if name.endswith(".x") and name != "gun3.x":
                shutil.copy(os.path.join(os.path.dirname(program), name), d)
        script = os.path.join(d, "games.replay")
        with open(script, "w") as f:
            f.write("\n".join(lines) + "\n")
        start = time.monotonic()
        out = subprocess.run([program, "--headless", script, "--dir", d], capture_output=True,
                             text=True, check=True).stdout
        seconds = time.monotonic() - start
    steps = sum(int(n) for n in re.findall(r", (\d+) steps", out))
    if steps != 3000 * games:
        fail("the headless games did not run their 3000 steps each:\n" + out)
    return steps / seconds


def window_pace(bench, seconds):
    """Steps a second, step cost and CPU in the 640 x 480 window, with 1 and with 4 players."""
    rows = {}
    for players in (1, 4):
        out = subprocess.run([bench, "--seconds", str(seconds), "--players", str(players),
                              "--scales", "1", "--render", "full"],
                             capture_output=True, text=True, check=True).stdout
        for line in out.splitlines()[1:]:
            f = line.split()
            # players window render seconds steps steps/s median worst (paint: median worst
            # count) cpu% drawn
            if len(f) == 13 and f[0] == str(players):
                rows[players] = {"steps/s": float(f[5]), "median": float(f[6]),
                                 "worst": float(f[7]), "cpu%": float(f[11])}
    if set(rows) != {1, 4}:
        fail("window_pace_bench printed no row for 1 and 4 players")
    return rows


def big_screen(bench, seconds):
    """The big screen's cases, four players, as rows of the README's table."""
    out = subprocess.run([bench, "--seconds", str(seconds), "--players", "4", "--scales", "1,2,3"],
                         capture_output=True, text=True, check=True).stdout
    rows = []
    for line in out.splitlines()[1:]:
        f = line.split()
        # players window render seconds steps steps/s median worst (paint: median worst count)
        # cpu% drawn
        if len(f) == 13 and f[0] == "4":
            rows.append({"window": f[1], "render": f[2], "steps/s": float(f[5]),
                         "step": (float(f[6]), float(f[7])), "paint": (float(f[8]), float(f[9])),
                         "cpu%": float(f[11]), "drawn": int(f[12])})
    if len(rows) != 5:
        fail("window_pace_bench printed no five big-screen rows:\n" + out)
    return rows


def cpu_model():
    out = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
    for line in out.splitlines():
        if line.startswith("Model name:"):
            return line.split(":", 1)[1].strip()
    return "unknown"


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def visible_window(pid, name):
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid), "--name", name],
                         capture_output=True, text=True).stdout.split()
    return out[0] if out else None


def program_figures(program, game_seconds):
    """Launch to title, CPU idle at the title, peak memory over a four-player game."""
    env = dict(os.environ, SDL_AUDIODRIVER="dummy")
    with tempfile.TemporaryDirectory() as data:
        env["XDG_DATA_HOME"] = data   # the benchmark's games are not kept among the player's
        start = time.monotonic()
        p = subprocess.Popen([program, "--players", "1234"], env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            window = None
            while window is None and time.monotonic() - start < 30:
                window = visible_window(p.pid, "^HopShot$")
                if window is None:
                    time.sleep(0.01)
            if window is None:
                fail("the program's window did not show within 30 s")
            launch = time.monotonic() - start
            time.sleep(1)   # settled at the title picture

            cpu0 = cpu_seconds(p.pid)
            time.sleep(10)
            idle = (cpu_seconds(p.pid) - cpu0) / 10 * 100

            subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True)
            subprocess.run(["xdotool", "key", "ctrl+s"], check=True)
            end = time.monotonic() + game_seconds
            while time.monotonic() < end:
                subprocess.run(["xdotool", "key", "--delay", "60", "ctrl", "f"], check=True)
                time.sleep(0.3)
            peak = peak_memory_mib(p.pid)
        finally:
            p.terminate()
            p.wait(15)
    return launch, idle, peak


def main():
    args = sys.argv[1:]
    if not args:
        fail("usage: bench_table.py BUILD_DIR [--seconds N] [--big-seconds M]")
    build = args.pop(0)
    seconds, big_seconds = 60, 30
    while len(args) >= 2 and args[0] in ("--seconds", "--big-seconds"):
        if args[0] == "--seconds":
            seconds = int(args[1])
        else:
            big_seconds = int(args[1])
        args = args[2:]
    if args:
        fail("usage: bench_table.py BUILD_DIR [--seconds N] [--big-seconds M]")
    program = os.path.join(build, "hopshot")
    bench = os.path.join(build, "bench", "window_pace_bench")
    if not os.environ.get("DISPLAY"):
        fail("needs an X display: run scripts/bench")

    rows = []
    rows.append(("headless frame steps per second (4 players)", f"{headless_rate(program):.0f}"))
    pace = window_pace(bench, seconds)
    for players in (1, 4):
        r = pace[players]
        rows.append((f"window, {players} player(s): steps per second over {seconds} s",
                     f"{r['steps/s']:.2f}"))
        rows.append((f"window, {players} player(s): median / worst frame step (ms)",
                     f"{r['median']:.2f} / {r['worst']:.2f}"))
        rows.append((f"window, {players} player(s): CPU per second of game (ms)",
                     f"{r['cpu%'] * 10:.0f}"))
    launch, idle, peak = program_figures(program, 20)
    rows.append(("launch to title picture (s)", f"{launch:.2f}"))
    rows.append(("CPU at the title picture over 10 s (%)", f"{idle:.1f}"))
    rows.append(("peak memory, 4-player game of 20 s (MiB)", f"{peak:.0f}"))

    width = max(len(name) for name, _ in rows)
    print(f"{'measure':<{width}}  value")
    print(f"{'-' * width}  -----")
    for name, value in rows:
        print(f"{name:<{width}}  {value}")

    if big_seconds > 0:
        before = load_average()
        big = big_screen(bench, big_seconds)
        after = load_average()
        print()
        print(f"The big screen: four players, {big_seconds} s a case; {cpu_model()}, "
              f"{os.cpu_count()} cores; load average {before} before, {after} after.")
        print("The paint's share is its median against the 20 ms step.")
        print()
        print("| Window | Drawn | Steps/s | Median / worst step ms | Median / worst paint ms "
              "| Paint's share of a step | CPU % of a core | Rows drawn |")
        print("|---|---|---|---|---|---|---|---|")
        for r in big:
            print(f"| {r['window']} | {r['render']} | {r['steps/s']:.2f} "
                  f"| {r['step'][0]:.2f} / {r['step'][1]:.2f} "
                  f"| {r['paint'][0]:.2f} / {r['paint'][1]:.2f} "
                  f"| {100 * r['paint'][0] / 20:.0f} % | {r['cpu%']:.0f} | {r['drawn']} |")

    if idle > 2:
        print(f"bench: the title picture is not idle ({idle:.1f} % CPU)", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
