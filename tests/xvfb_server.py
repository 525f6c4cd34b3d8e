"""An X server of the tests' own: Xvfb on a display number it picks itself
(-displayfd), with a black root so that any unpainted pixel shows, stopped
by its process id."""

import os
import select
import subprocess
import time


class XvfbFailed(Exception):
    pass


class Xvfb:
    def __init__(self, program="Xvfb", patience=10):
        self.program = program
        self.patience = patience

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            [self.program, "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-br"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        try:
            self.display = ":" + self._read_display_number(read_end)
        except XvfbFailed:
            self.__exit__()
            raise
        finally:
            os.close(read_end)
        return self

    def _read_display_number(self, pipe):
        received = b""
        deadline = time.monotonic() + self.patience
        while not received.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([pipe], [], [], left)[0]:
                raise XvfbFailed("Xvfb did not start")
            chunk = os.read(pipe, 16)
            if not chunk:
                raise XvfbFailed("Xvfb ended before it was ready")
            received += chunk
        return received.decode().strip()

    def __exit__(self, *_):
        self.process.terminate()
        try:
            self.process.wait(self.patience)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def status_after_close(program, patience):
    """The exit status of a window program asked to close, or None when it
    has not ended within patience seconds."""
    try:
        return program.wait(patience)
    except subprocess.TimeoutExpired:
        return None


def stop(program):
    """Ends a program that a failed check left running."""
    if program.poll() is None:
        program.kill()
        program.wait()
