#!/usr/bin/env python3
"""Benchmarks of the real VarnekIT.exe under Wine and Xvfb, each against a reference measured in
the same run. Prints one JSON object per figure on stdout:

    {"figure": ..., "value": ..., "reference": ..., "unit": ..., "goal": ..., "met": ...}

    wine_bench.py startup [--runs N]
    wine_bench.py handles [--cycles N]
    wine_bench.py idle [--seconds S]
    wine_bench.py download [--mib M]

The e2e harness (tests/e2e/harness/) provides the prefix, display and processes; the same
VARNEK_* variables name the program, the tools and the prefix template.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[1] / "tests" / "e2e"))
import harness  # noqa: E402
from harness.program import (CLIENT, LAUNCHER_TITLE, SETTINGS_TITLE, gui_counts,  # noqa: E402
                             start_program, windows_pid)
from harness.updates import TEMPORARY, TICK_SECONDS, server_date, update_log  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def emit(figure, value, reference, unit, goal, met, **extra):
    record = {"figure": figure, "value": value, "reference": reference, "unit": unit,
              "goal": goal, "met": met}
    record.update(extra)
    print(json.dumps(record), flush=True)


def status_kib(pid: int, field: str) -> int:
    """A 'kB' field of /proc/<pid>/status (VmRSS, RssAnon, VmHWM)."""
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1])
    raise harness.HarnessError(f"no {field} in /proc/{pid}/status")


def cpu_seconds(pid: int) -> float:
    """utime + stime of a process, in seconds."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def windows_process(pid: int) -> int:
    """The Unix pid that runs the Windows program started as `wine X.exe` with this pid: the
    launcher execs into the preloader, so it is the same process once the program runs."""
    cmdline = Path(f"/proc/{pid}/cmdline").read_bytes()
    if b".exe" not in cmdline.lower():
        raise harness.HarnessError(f"pid {pid} does not run a Windows program: {cmdline!r}")
    return pid


# -- start-up ------------------------------------------------------------------------------------

def start_once(session, exe):
    """Starts a program, waits until Wine's tray window shows its icon; returns the seconds
    that took, the private memory (RssAnon, KiB) two seconds later, then ends it."""
    if session.tray.window():
        session.tray.wait_gone(30)
    started = time.monotonic()
    program = session.start_wine(exe)
    while not session.tray.window():
        if not program.running():
            raise harness.HarnessError(f"{exe} ended before its icon showed")
        if time.monotonic() - started > 60:
            raise harness.HarnessError(f"no tray icon from {exe} within 60 s")
        time.sleep(0.005)
    seconds = time.monotonic() - started
    time.sleep(2)
    pid = windows_process(program.pid)
    private = status_kib(pid, "RssAnon")
    program.stop()
    return seconds, private


def bench_startup(runs: int):
    with harness.Session("bench_startup") as session:
        exe = session.install_program()
        ref = session.install_program(r"C:\Reference", harness.reference_tray())
        # Keep one wineserver for the whole run, so every start finds the same warm prefix.
        session.start(["wineserver", "-f", "-p"], name="wineserver")
        start_once(session, ref)  # warm-up, not counted
        start_once(session, exe)
        times = {exe: [], ref: []}
        memory = {exe: [], ref: []}
        for run in range(runs):
            for program in (exe, ref) if run % 2 == 0 else (ref, exe):
                seconds, private = start_once(session, program)
                times[program].append(seconds)
                memory[program].append(private)
        t, tr = statistics.median(times[exe]), statistics.median(times[ref])
        m, mr = statistics.median(memory[exe]), statistics.median(memory[ref])
        emit("start-up time to tray icon (median)", round(t, 3), round(tr, 3), "s",
             "<= 1.15x", t <= 1.15 * tr, runs=runs, samples=times[exe],
             reference_samples=times[ref])
        emit("private memory after start-up (RssAnon, median)", m, mr, "KiB", "<= 1.5x",
             m <= 1.5 * mr, runs=runs)


# -- handles -------------------------------------------------------------------------------------

def choose_by_position(menu: harness.PopupMenu, index: int, count: int) -> None:
    """Chooses the entry at `index` (of `count`) as a user who knows the menu does: Down presses
    from the top, then Return once the highlight is seen on it; no reading of the texts."""
    for _ in range(index + 1):
        menu.session.xdotool("key", "Down")
    harness.wait_until(lambda: menu.highlighted_entry() == index, 3.0, 0.05,
                       f"the highlight on entry {index}")
    menu.session.xdotool("key", "Return")
    menu.wait_closed()


def ui_cycle(session, program, settings_entry: int | None = None,
             entries: int = 0) -> tuple[int, int]:
    """One round of what a user does: the tray menu opened and closed, the settings window
    opened from it with the language switched there and back, the launcher opened and closed.
    The first round finds "Settings" by reading the menu; later ones go by its position.
    Returns that position and the number of entries."""
    session.tray.open_menu(owner=program).close()
    menu = session.tray.open_menu(owner=program)
    if settings_entry is None:
        settings_entry = menu.find("Settings")
        entries = len(menu.entries())
        menu.choose("Settings")
    else:
        choose_by_position(menu, settings_entry, entries)
    # One UI-driver process for each window's steps.
    session.uidriver("batch", "wait", "--title", SETTINGS_TITLE, "--visible",
                     ";", "click", "--title", SETTINGS_TITLE, "--text", "Danish",
                     ";", "click", "--title", SETTINGS_TITLE, "--text", "Engelsk",
                     ";", "click", "--title", SETTINGS_TITLE, "--text", "Close",
                     ";", "wait", "--title", SETTINGS_TITLE, "--gone")
    session.tray.double_click()
    session.uidriver("batch", "wait", "--title", LAUNCHER_TITLE, "--visible",
                     ";", "close", "--title", LAUNCHER_TITLE, ";", "wait", "--title",
                     LAUNCHER_TITLE, "--gone")
    return settings_entry, entries


def outside_counts(session, program, pid: str) -> dict:
    """What can be counted of the program from outside: gui_counts' GDI, USER and handle
    counts, the Unix descriptors of its Wine process, its top-level windows (hidden ones too)
    and its private memory."""
    counts = gui_counts(session, pid)
    unix_pid = windows_process(program.pid)
    counts["fds"] = len(os.listdir(f"/proc/{unix_pid}/fd"))
    counts["windows"] = len(session.uidriver_records("windows", "--all", "--pid", pid))
    counts["rss_anon"] = status_kib(unix_pid, "RssAnon")
    return counts


# With no support server the automatic check ends at its first read, which fails.
CHECK_STARTED = "update check started"
CHECK_ENDED = "reading the client's date failed"


def wait_check_ended(session, program) -> None:
    """Waits until the update log says the automatic check (30th tick) has ended."""
    def ended():
        lines = update_log(session)
        started = [i for i, line in enumerate(lines) if CHECK_STARTED in line]
        return started and any(CHECK_ENDED in line for line in lines[started[0] + 1:])

    left = TICK_SECONDS + 60 - (time.monotonic() - program.started)
    try:
        harness.wait_until(ended, max(left, 5), 0.2, "the automatic check's end in the update log")
    except harness.HarnessError as error:
        raise harness.HarnessError(f"{error}; the log: {update_log(session)}") from None


def bench_handles(cycles: int):
    with harness.Session("bench_handles") as session:
        program = start_program(session)
        pid = windows_pid(session)
        position = ui_cycle(session, program)
        # The reference is taken once the update log says the automatic check (the 30th tick)
        # has ended: its first read loads WinINet and what that brings, once for the run, which
        # would otherwise read as growth of the cycles after it. No cycle runs meanwhile (one
        # that closed the settings window would end the check).
        wait_check_ended(session, program)
        first = outside_counts(session, program, pid)
        started = time.monotonic()
        # The counts on the way, every tenth of the run: growth shows as a slope.
        every = max(cycles // 10, 1)
        on_the_way = []
        for cycle in range(2, cycles + 1):
            ui_cycle(session, program, *position)
            if not program.running():
                raise harness.HarnessError("the program ended during the cycles")
            if cycle % every == 0 and cycle != cycles:
                counts = outside_counts(session, program, pid)
                on_the_way.append([cycle] + [counts[k] for k in ("gdi", "user", "handles",
                                                                 "rss_anon")])
        per_cycle = (time.monotonic() - started) / max(cycles - 1, 1)
        last = outside_counts(session, program, pid)
        for key in ("handles", "gdi", "user"):
            if first[key + "_source"] != last[key + "_source"]:
                raise harness.HarnessError(f"gui_counts counted {key} by {first[key + '_source']}"
                                           f" first, by {last[key + '_source']} last")
        for key, name in (("handles", f"handle count ({last['handles_source']})"),
                          ("gdi", f"GDI objects ({last['gdi_source']})"),
                          ("user", f"USER objects ({last['user_source']})"),
                          ("fds", "Unix descriptors of the Wine process"),
                          ("windows", "top-level windows")):
            emit(f"{name} after {cycles} UI cycles (ref: the automatic check ended)", last[key],
                 first[key], "", "no growth", last[key] <= first[key],
                 seconds_per_cycle=round(per_cycle, 2), cycles_before_reference=1)
        emit(f"private memory (RssAnon) after {cycles} UI cycles (ref: the automatic check ended)",
             last["rss_anon"], first["rss_anon"], "KiB", "<= +256 KiB",
             last["rss_anon"] <= first["rss_anon"] + 256,
             on_the_way=["cycle gdi user handles rss_anon"] + on_the_way)


# -- the update check: idle and downloads --------------------------------------------------------

APP = "VarnekITApp"
CLIENT_PACKAGE = "Varnek_TeamViewer.zip"


def publish(session, client_days: int, package_mib: int = 0) -> Path:
    """The server's update folder: the client's date, the running version (so the program
    stays), and a bare package of package_mib MiB ("MZ" and zeros)."""
    root = session.temp / "www"
    folder = root / APP
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "VersionTeamViewer.txt").write_text(server_date(client_days) + "\r\n")
    (folder / "VersionVarnekIT.txt").write_text("1.0.2\r\n")
    if package_mib:
        with open(folder / CLIENT_PACKAGE, "wb") as package:
            package.write(b"MZ")
            package.truncate(package_mib * 1024 * 1024)
    return root


def install_client(session) -> None:
    session.install_tool("standin_client.exe", harness.PROGRAM_FOLDER, CLIENT)


def task_switches(pid: int) -> dict:
    """Context switches of each thread of a process so far (each wake-up counts one)."""
    counts = {}
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            lines = (task / "status").read_text().splitlines()
        except FileNotFoundError:
            continue  # the thread ended meanwhile
        counts[task.name] = sum(int(line.split()[1]) for line in lines if line.startswith(
            ("voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:")))
    return counts


def thread_name(pid: int, tid: str) -> str:
    try:
        return f"{tid} {Path(f'/proc/{pid}/task/{tid}/comm').read_text().strip()}"
    except OSError:
        return tid


def wakes_between(before: dict, after: dict) -> int:
    """Wake-ups of the threads that lived through the whole interval: an ended thread takes
    its counts with it, and a timer lives on the program's UI thread, which stays."""
    return sum(after[t] - before[t] for t in before if t in after)


def bench_idle(seconds: float):
    with harness.Session("bench_idle") as session:
        install_client(session)
        root = publish(session, client_days=-30)
        with session.support_server(root).start(patience=300) as server:
            program = start_program(session)
            ref = session.start_wine(session.install_program(r"C:\Reference",
                                                              harness.reference_tray()))
            # The check reads the two version files, finds both up to date and fetches nothing.
            harness.wait_until(lambda: len(server.log_entries()) >= 2, TICK_SECONDS + 60, 0.2,
                               "the automatic check")
            time.sleep(2)
            paths = [e["path"] for e in server.log_entries()]
        if any(CLIENT_PACKAGE in path for path in paths):
            raise harness.HarnessError(f"the program fetched a package while up to date: {paths}")
        pids = {"program": windows_process(program.pid), "reference": windows_process(ref.pid)}
        cpu = {k: cpu_seconds(p) for k, p in pids.items()}
        wakes = {k: task_switches(p) for k, p in pids.items()}
        started = time.monotonic()
        time.sleep(seconds)
        spent = time.monotonic() - started
        cpu = {k: cpu_seconds(p) - cpu[k] for k, p in pids.items()}
        after = task_switches(pids["program"])
        # Which of the program's threads woke: the UI thread is the process's first.
        by_thread = {("ui" if int(t) == pids["program"] else thread_name(pids["program"], t)):
                     after[t] - n for t, n in wakes["program"].items()
                     if t in after and after[t] != n}
        wakes = {k: wakes_between(wakes[k], task_switches(p)) for k, p in pids.items()}
        share = 100 * cpu["program"] / spent
        emit(f"idle CPU over {seconds:g} s after the check (% of one core)", round(share, 4),
             round(100 * cpu["reference"] / spent, 4), "%", "< 0.1 %", share < 0.1)
        # A timer left running wakes the program every second; the reference has none.
        emit(f"wake-ups over {seconds:g} s after the check (threads' context switches)",
             wakes["program"], wakes["reference"], "", "<= ref + 1 per 5 s",
             wakes["program"] <= wakes["reference"] + seconds / 5, by_thread=by_thread)


# Both downloads are timed over the same window: from the moment the package's request shows in
# the server's log (the request has arrived and its answer begins) to the moment the whole file
# is on disk (its size reaches the package's), both seen by the same loop polling every 5 ms.
POLL = 0.005
WINDOW = "request at the server to the whole file on disk"


class Window:
    """Times one download of the package as the server and the file system show it."""

    def __init__(self, server: harness.SupportServer, package_path: str, size: int):
        self.server, self.package_path, self.size = server, package_path, size
        self.seen = len(server.log_entries())
        self.requested: float | None = None
        self.finished: float | None = None

    def poll(self, files) -> bool:
        """One look; files() lists the paths the download may be in. True once finished."""
        now = time.monotonic()
        if self.requested is None and any(
                e["path"] == self.package_path for e in self.server.log_entries()[self.seen:]):
            self.requested = now
        if self.requested is not None and self.finished is None:
            for path in files():
                try:
                    if path.stat().st_size == self.size:
                        self.finished = now
                except FileNotFoundError:
                    pass  # moved on meanwhile: the next look sees where it went
        return self.finished is not None

    @property
    def seconds(self) -> float:
        return self.finished - self.requested


def curl_seconds(session, server, url: str, package_path: str, size: int) -> float:
    target = session.temp / "curl.bin"
    window = Window(server, package_path, size)
    curl = subprocess.Popen(["curl", "-sS", "-f", "-o", str(target), url], env=session.env)
    try:
        deadline = time.monotonic() + 600
        while not window.poll(lambda: [target]):
            if curl.poll() is not None and not window.poll(lambda: [target]):
                raise harness.HarnessError(f"curl ended ({curl.returncode}) without the file")
            if time.monotonic() > deadline:
                raise harness.HarnessError("curl's download did not end within 600 s")
            time.sleep(POLL)
        if curl.wait(60) != 0:
            raise harness.HarnessError(f"curl failed ({curl.returncode})")
    finally:
        if curl.poll() is None:
            curl.kill()  # our own child, by its id
            curl.wait()
    target.unlink()
    return window.seconds


def bench_download(mib: int):
    size = mib * 1024 * 1024
    with harness.Session("bench_download") as session:
        install_client(session)
        root = publish(session, client_days=1, package_mib=mib)
        folder = session.unix_path(harness.PROGRAM_FOLDER)
        client = folder / CLIENT
        path = f"/{APP}/{CLIENT_PACKAGE}"
        url = f"{harness.SUPPORT_BASE}{path}"
        with session.support_server(root).start(patience=300) as server:
            curl = [curl_seconds(session, server, url, path, size) for _ in range(2)]
            program = start_program(session)
            pid = windows_process(program.pid)
            # Idle: once started, before the check begins.
            harness.wait_until(lambda: time.monotonic() - program.started > TICK_SECONDS - 3,
                               TICK_SECONDS + 5, 0.2, "the time before the check")
            idle = status_kib(pid, "RssAnon")
            peak = idle
            window = Window(server, path, size)

            def files():  # the download's temporary file, or the client it became
                return [p for p in folder.iterdir() if p.name.endswith(TEMPORARY)] + \
                    [client]

            deadline = time.monotonic() + TICK_SECONDS + 600
            last_sample = 0.0
            while not window.poll(files):
                if time.monotonic() - last_sample >= 0.02:  # memory every 20 ms
                    peak = max(peak, status_kib(pid, "RssAnon"))
                    last_sample = time.monotonic()
                if time.monotonic() > deadline:
                    raise harness.HarnessError("the program's download did not end in time")
                time.sleep(POLL)
            seconds = window.seconds
            # The client in place: the download is checked and moved, then it is the package.
            harness.wait_until(lambda: client.exists() and client.stat().st_size == size and
                               not any(p.name.endswith(TEMPORARY)
                                       for p in folder.iterdir()), 60, 0.05,
                               "the downloaded client in place")
            peak = max(peak, status_kib(pid, "RssAnon"))
            if client.read_bytes()[:2] != b"MZ":
                raise harness.HarnessError("the downloaded client is not the package")
            curl.append(curl_seconds(session, server, url, path, size))
        # curl twice before and once after the program's download; their median is the reference.
        rate, curl_rate = mib / seconds, mib / statistics.median(curl)
        emit(f"download {mib} MiB through the program (vs curl; {WINDOW})", round(rate, 1),
             round(curl_rate, 1), "MiB/s", ">= 0.9x", rate >= 0.9 * curl_rate,
             seconds=round(seconds, 3), curl_seconds=[round(c, 3) for c in curl])
        emit(f"peak private memory during the {mib} MiB download (ref: idle)", peak, idle, "KiB",
             "<= idle + 8 MiB", peak <= idle + 8 * 1024)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="what", required=True)
    sub.add_parser("startup").add_argument("--runs", type=int, default=10)
    sub.add_parser("handles").add_argument("--cycles", type=int, default=1000)
    sub.add_parser("idle").add_argument("--seconds", type=float, default=60)
    sub.add_parser("download").add_argument("--mib", type=int, default=256)
    args = parser.parse_args(argv)
    if args.what == "startup":
        bench_startup(args.runs)
    elif args.what == "handles":
        bench_handles(args.cycles)
    elif args.what == "idle":
        bench_idle(args.seconds)
    elif args.what == "download":
        bench_download(args.mib)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
