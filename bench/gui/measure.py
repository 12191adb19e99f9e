"""Times the terminal and the window launcher on the same FTP patch, round after round.

Both launchers are watched by this one process in the same way, so that the watching costs
both the same and little: every 10 ms it stats the FTP server's retrievals file (the first
RETR starts the patch phase), reads config.ini (naming the new version ends the run) and the
launcher's peak resident set size from /proc. No program is started while a launcher runs.

Usage: measure.py WORK_DIR DISPLAY ROUNDS
WORK_DIR holds bin/ (torvane, torvane-cli, torvane.conf), retr.log, and gets the game
directories; DISPLAY is the X display of the window launcher's Xvfb.
"""
import os
import signal
import statistics
import subprocess
import sys
import time

TARGET = b"1.00.01"


def fresh_game(path):
    subprocess.run(["rm", "-rf", path], check=True)
    os.makedirs(os.path.join(path, "Temp"))
    with open(os.path.join(path, "config.ini"), "wb") as f:
        f.write(b"[LOGIN]\r\nVersion=1.00.00\r\n")


def peak_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def cpu_seconds(pid):
    """User plus system time of the process so far (its own threads, not its children)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return 0.0


def steal_seconds():
    """Time the hypervisor gave this machine's CPUs to others (all CPUs, so far)."""
    try:
        with open("/proc/stat") as f:
            fields = f.readline().split()
        return int(fields[8]) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return 0.0


def run_one(work, kind, display):
    game = os.path.join(work, f"game-{kind}")
    fresh_game(game)
    retr = os.path.join(work, "retr.log")
    open(retr, "w").close()
    config = os.path.join(game, "config.ini")
    env = dict(os.environ)
    if kind == "cli":
        argv = [os.path.join(work, "bin/torvane-cli"), "--config",
                os.path.join(work, "bin/torvane.conf"), "--game-dir", game, "--no-start"]
    else:
        argv = [os.path.join(work, "bin/torvane")]
        env.update(DISPLAY=display, TORVANE_SOUND="off", WEBKIT_DISABLE_COMPOSITING_MODE="1",
                   XDG_RUNTIME_DIR=os.path.join(work, "run"))
        if os.getuid() == 0:
            env["WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS"] = "1"
    log = open(os.path.join(work, f"{kind}.out"), "wb")
    stolen = steal_seconds()
    start = time.monotonic()
    proc = subprocess.Popen(argv, cwd=game, env=env, stdout=log, stderr=subprocess.STDOUT)
    first_retr = None
    cpu_at_retr = 0.0
    peak = 0
    try:
        while True:
            now = time.monotonic()
            if first_retr is None and os.path.getsize(retr) > 0:
                first_retr = now
                cpu_at_retr = cpu_seconds(proc.pid)
            peak = max(peak, peak_kib(proc.pid))
            with open(config, "rb") as f:
                if TARGET in f.read():
                    break
            if proc.poll() is not None:
                raise SystemExit(f"{kind} ended before the patch was installed; see {kind}.out")
            time.sleep(0.01)
        end = time.monotonic()
        cpu = cpu_seconds(proc.pid) - cpu_at_retr
        stolen = steal_seconds() - stolen
        peak = max(peak, peak_kib(proc.pid))
    finally:
        # The window launcher stays open on its server list; the terminal one ends by itself.
        if kind == "gui" and proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        log.close()
    if first_retr is None:
        first_retr = end
    return end - start, end - first_retr, peak, cpu, stolen


def main():
    work, display, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
    results = {"cli": [], "gui": []}
    for r in range(rounds):
        # Alternate which launcher goes first, so that neither always meets a warm cache.
        order = ["cli", "gui"] if r % 2 == 0 else ["gui", "cli"]
        for kind in order:
            whole, phase, peak, cpu, stolen = run_one(work, kind, display)
            results[kind].append((whole, phase, peak, cpu))
            # Steal: CPU time the hypervisor handed elsewhere meanwhile (a noisy neighbour).
            print(f"   round {r + 1} {kind:3}: {whole:6.2f} s whole, {phase:6.2f} s patch phase "
                  f"({cpu:5.2f} s CPU), {peak} KiB, steal {stolen:4.2f} s", flush=True)

    def median(kind, i):
        return statistics.median(x[i] for x in results[kind])

    same = subprocess.run(["diff", "-rq", "--exclude=Temp", "--exclude=config.ini",
                           "--exclude=patch.log",
                           # The window is closed as soon as config.ini names the new version,
                           # before its session deletes the version list.
                           "--exclude=version.wvd",
                           # Each launcher writes its own process id into the folder's lock.
                           "--exclude=.torvane.lock", os.path.join(work, "game-gui"),
                           os.path.join(work, "game-cli")],
                          stdout=subprocess.DEVNULL).returncode == 0
    print()
    print(f"medians of {rounds} rounds     start to current | first RETR to current | peak RSS")
    for kind, label in (("cli", "terminal torvane-cli"), ("gui", "window   torvane    ")):
        print(f"{label}  {median(kind, 0):10.2f} s       | {median(kind, 1):10.2f} s"
              f"            | {int(median(kind, 2)):8d} KiB")
    whole = median("gui", 0) / median("cli", 0)
    phase = median("gui", 1) / median("cli", 1)
    print(f"GUI/terminal ratio    {whole:10.3f}         | {phase:10.3f}")
    print(f"CPU in the patch phase: terminal {median('cli', 3):.2f} s, window {median('gui', 3):.2f} s "
          f"(ratio {median('gui', 3) / max(median('cli', 3), 0.01):.3f})")
    print("installed trees:", "same" if same else "DIFFERENT")

    def verdict(ratio):
        return "met" if ratio <= 1.05 else "NOT met"

    print(f"goal (GUI within 5% of the terminal launcher): whole run {verdict(whole)}, "
          f"patch phase {verdict(phase)}")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
