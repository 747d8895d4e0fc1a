"""A line that shows how far a long step is, rewritten in place: only on a terminal, and only once
the step has taken a second."""

import sys
import time


class Progress:
    def __init__(self, label, files, total_bytes, stream=sys.stdout):
        self.label, self.files, self.total = label, files, total_bytes
        self.stream = stream
        self.shown = stream.isatty()
        self.count = self.done = 0
        self.started = self.last = time.monotonic()
        self.drawn = False

    def advance(self, files=0, size=0, count=None, done=None):
        self.count = count if count is not None else self.count + files
        self.done = done if done is not None else self.done + size
        now = time.monotonic()
        if self.shown and now - self.started >= 1.0 and now - self.last >= 0.1:
            self.last, self.drawn = now, True
            self.stream.write(f"\r  {self.label}: {self.count:,} of {self.files:,} files, "
                              f"{self.done / 1e6:,.1f} of {self.total / 1e6:,.1f} MB\x1b[K")
            self.stream.flush()

    def end(self):
        if self.drawn:
            self.stream.write("\r\x1b[K")
            self.stream.flush()
