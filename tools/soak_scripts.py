#!/usr/bin/env python3
"""Writes random but game-like replay scripts for the soak (scripts/soak).

Each script is valid: one to four players (any set of them), the screen options, zero to two
joysticks, a timer phase, a name for the record prompt (now and then one the window would
refuse: a comma, a leading space or a double quote), and two to four games in which the players
turn, aim and fire (short presses and long charges), the joysticks move and press, menu items
flip, and now and then Esc ends a game early. The same seed writes the same scripts.

Usage: soak_scripts.py COUNT OUTDIR [--seed N]
"""

import argparse
import pathlib
import random

# Each keyboard player's keys (Windows virtual-key codes): turn left/right, gun down/up, fire.
KEYS = {0: (37, 39, 38, 40, 17), 1: (65, 68, 87, 83, 70)}
ESC = 27
MENU = ["1P", "2P", "3P", "4P", "live", "small", "simple", "wire"]
NAMES = ["TARO", "HANAKO", "ななし", "a,b", "  spaced", '"quoted', 'TA"RO', "x" * 40, "trailing  ",
         "😀", ""]
STEPS = 3000   # a whole game of 60 seconds


def game_events(rng, players, joysticks):
    """The `at` lines of one game, in step order."""
    events = []
    for p in players:
        if p in KEYS:
            left, right, down, up, fire = KEYS[p]
            for _ in range(rng.randint(5, 40)):
                start = rng.randint(1, STEPS - 1)
                key = rng.choice((left, right, down, up, fire, fire, fire))
                hold = rng.choice((1, 2, 5, 20, 60, 150)) if key == fire else rng.randint(1, 80)
                mask = 2 if key == 17 else rng.choice((0, 0, 0, 1, 4))
                events.append((start, f"key down {key} {mask}"))
                events.append((min(start + hold, STEPS), f"key up {key} {0 if key == 17 else mask}"))
        elif p - 2 < joysticks:
            j = p - 2
            for _ in range(rng.randint(5, 30)):
                start = rng.randint(1, STEPS - 1)
                x = rng.choice((0, 32767, 65535, rng.randint(0, 65535)))
                y = rng.choice((0, 32767, 65535, rng.randint(0, 65535)))
                events.append((start, f"joy {j} {x} {y} {rng.choice((0, 1, 1, 2, 3))}"))
                events.append((min(start + rng.randint(1, 100), STEPS), f"joy {j} 32767 32767 0"))
    for _ in range(rng.choice((0, 0, 0, 1, 2))):
        events.append((rng.randint(1, STEPS), f"menu {rng.choice(MENU)}"))
    if rng.random() < 0.25:   # Esc: the game ends early and counts for nothing
        events.append((rng.randint(1, STEPS), f"key down {ESC} 0"))
    events.sort(key=lambda e: e[0])   # stable: script order within a step
    return [f"at {step} {what}" for step, what in events]


def script(rng, number, seed):
    players = sorted(rng.sample(range(4), rng.randint(1, 4)))
    joysticks = rng.randint(0, 2)
    lines = [f"# soak script {number} (seed {seed})",
             "players " + " ".join("1" if p in players else "0" for p in range(4)),
             "options " + " ".join(str(rng.randint(0, 1)) for _ in range(4)),
             f"joysticks {joysticks}"]
    if rng.random() < 0.5:
        lines.append(f"timer {rng.randint(1, 50)}")
    for _ in range(rng.randint(2, 4)):
        if rng.random() < 0.7:
            lines.append("name " + rng.choice(NAMES))
        lines.append("game")
        lines += game_events(rng, players, joysticks)
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("count", type=int)
    parser.add_argument("outdir", type=pathlib.Path)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    args.outdir.mkdir(parents=True, exist_ok=True)
    for n in range(1, args.count + 1):
        (args.outdir / f"soak-{n:04d}.replay").write_text(script(rng, n, args.seed), encoding="utf-8")


if __name__ == "__main__":
    main()
