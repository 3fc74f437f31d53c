"""Starting and stopping the panel program for the tests that talk to it (its HTTP
request table and the browser test)."""
import os
import re
import subprocess


def start_panel(command, driver_option):
    """Starts the panel on a free port; returns the process and the URL it printed."""
    env = dict(os.environ, KMT_DRIVER=driver_option)
    process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, text=True)
    line = process.stdout.readline()
    match = re.search(r"(http://\S+)", line)
    if not match:
        process.kill()
        raise RuntimeError("the panel printed no URL: " + line)
    return process, match.group(1)


def stop_panel(process):
    process.terminate()
    assert process.wait(timeout=15) == 0
    process.stdout.close()
