"""What a run tells its user: progress to standard output, warnings and refusals to standard
error, each prefixed with the command's name."""

import sys


class Report:
    def __init__(self, program):
        self.program = program
        self.warnings = []

    def say(self, message):
        print(message, flush=True)

    def warn(self, message):
        self.warnings.append(message)
        print(f"{self.program}: warning: {message}", file=sys.stderr, flush=True)

    def refuse(self, message):
        print(f"{self.program}: refused {message}", file=sys.stderr, flush=True)

    def note(self, message):
        print(f"{self.program}: {message}", file=sys.stderr, flush=True)
