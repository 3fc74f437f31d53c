"""`kmtv1 simulate &` typed into an interactive shell: the simulator runs in a
background process group of a terminal that is its standard input, and must keep
serving instead of being stopped by the terminal at its first read.

Usage: simulate_background_test.py KMTV1
"""
import os
import pty
import subprocess
import sys
import time


def stopped(pid):
    with open(f"/proc/{pid}/stat") as stat:
        return stat.read().rsplit(")", 1)[1].split()[0] == "T"


def as_the_shell(tool):
    """Runs in a new session whose controlling terminal is the pseudo-terminal."""
    # Its own process group, not the terminal's foreground one: a background job.
    sim = subprocess.Popen([tool, "simulate"], stdout=subprocess.PIPE, process_group=0)
    driver = sim.stdout.readline().decode().strip()
    # Meanwhile the user types the next command (the parent writes it into the terminal):
    # input that a background job must leave alone.
    time.sleep(1.0)  # long enough for a read of the terminal to stop it
    was_stopped = any(stopped(p) for p in (sim.pid, *children(sim.pid)))
    info = subprocess.run([tool, "--driver", driver, "info"], stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=30)
    sim.terminate()
    sim.wait(10)
    print(f"driver {driver!r}, stopped {was_stopped}, info exit {info.returncode}",
          info.stdout.decode(), info.stderr.decode(), flush=True)
    return 0 if driver.startswith("tty:") and not was_stopped and info.returncode == 0 else 1


def children(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(c) for c in f.read().split()]
    except OSError:
        return []


def main():
    tool = os.path.abspath(sys.argv[1])
    pid, terminal = pty.fork()
    if pid == 0:
        code = 1
        try:
            code = as_the_shell(tool)
        finally:
            os._exit(code)
    time.sleep(0.3)
    os.write(terminal, b"kmtv1 info\n")
    output = b""
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        try:
            chunk = os.read(terminal, 4096)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
    _, status = os.waitpid(pid, 0)
    sys.stdout.write(output.decode(errors="replace"))
    code = os.waitstatus_to_exitcode(status)
    print("PASS" if code == 0 else "FAIL: the simulator in the background did not serve")
    return code


if __name__ == "__main__":
    sys.exit(main())
