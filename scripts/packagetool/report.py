"""What a run tells its user: progress to standard output, warnings and refusals to standard
error, each prefixed with the command's name. Names, settings lines and certificate fields come
from the package or its signer: every control character in a message is shown as <XX>, so that
none can move the cursor, clear the screen or start a line of its own and draw a forged report."""

import re
import sys

# C0 and C1 controls, DEL, and the characters that reorder or break a line on a terminal.
CONTROLS = re.compile("[\x00-\x1f\x7f-\x9f\u061c\u200e\u200f\u2028\u2029\u202a-\u202e\u2066-\u2069]")


def shown(text):
    """text with every control character as <XX> (<U+XXXX> beyond Latin-1)."""
    return CONTROLS.sub(lambda m: f"<{ord(m.group()):02X}>" if ord(m.group()) < 0x100 else f"<U+{ord(m.group()):04X}>",
                        text)


class Report:
    def __init__(self, program):
        self.program = program
        self.warnings = []

    def say(self, message):
        print(shown(message), flush=True)

    def warn(self, message):
        self.warnings.append(message)
        print(f"{self.program}: warning: {shown(message)}", file=sys.stderr, flush=True)

    def refuse(self, message):
        print(f"{self.program}: refused {shown(message)}", file=sys.stderr, flush=True)

    def note(self, message):
        print(f"{self.program}: {shown(message)}", file=sys.stderr, flush=True)
