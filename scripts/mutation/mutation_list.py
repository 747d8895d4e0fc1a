"""The mutation list, scripts/mutations.txt: its format, read into Mutation records, the
selection by id, file pattern or group, and whether each mutation can be planted in a tree."""

import fnmatch
import re

GROUPS = ("portable", "win32")
WIN32_FILE = "platform/win32.cpp"
KEYS = ("group", "file", "description", "tests", "equivalent")
ID_PATTERN = re.compile(r"[a-z0-9]+(-[a-z0-9]+)*")


class ListError(Exception):
    """The mutation list cannot be read."""


class Mutation:
    def __init__(self, identifier, line):
        self.id = identifier
        self.line = line
        self.group = self.file = self.description = self.tests = self.equivalent = None
        self.hunks = []  # (original, replacement), applied in order

    def matches(self, pattern):
        return self.id == pattern or fnmatch.fnmatchcase(self.id, pattern) or fnmatch.fnmatchcase(self.file, pattern)


def parse_list(path):
    try:
        lines = path.read_text(encoding="utf-8").split("\n")
    except OSError as error:
        raise ListError(f"{path}: {error.strerror}")
    mutations = []
    current = None
    block = None  # "-" while original lines are read, "+" while replacement lines are

    def fail(number, message):
        raise ListError(f"{path}:{number}: {message}")

    for number, line in enumerate(lines, 1):
        line = line.rstrip("\r")
        if line.startswith("#"):
            continue
        if not line.strip():
            block = None
            continue
        if line.startswith("["):
            if not line.endswith("]"):
                fail(number, "a mutation starts with [id]")
            current = Mutation(line[1:-1], number)
            if not ID_PATTERN.fullmatch(current.id):
                fail(number, f"the id {current.id!r} is not kebab-case (a-z, 0-9, single hyphens)")
            mutations.append(current)
            block = None
            continue
        if current is None:
            fail(number, "text before the first [id]")
        marker = line[0]
        if marker in "-+" and (len(line) == 1 or line[1] == " "):
            text = line[2:]
            if marker == "-":
                if block != "-":
                    current.hunks.append([text, None])
                else:
                    current.hunks[-1][0] += "\n" + text
            else:
                if block is None or not current.hunks:
                    fail(number, "a '+' line must follow the '-' lines of its original text")
                hunk = current.hunks[-1]
                hunk[1] = text if block == "-" else hunk[1] + "\n" + text
            block = marker
            continue
        key, colon, value = line.partition(":")
        if not colon or key not in KEYS:
            fail(number, f"expected one of {', '.join(KEYS)}, a '-' or '+' line, or [id]: {line!r}")
        if getattr(current, key) is not None:
            fail(number, f"{key} given twice")
        setattr(current, key, value.strip())
        block = None

    seen = set()
    for m in mutations:
        def bad(message):
            raise ListError(f"{path}:{m.line}: [{m.id}] {message}")
        if m.id in seen:
            bad("the id is used twice")
        seen.add(m.id)
        for key in ("group", "file", "description"):
            if not getattr(m, key):
                bad(f"no {key}")
        if m.group not in GROUPS:
            bad(f"group must be {' or '.join(GROUPS)}")
        if (m.group == "win32") != (m.file == WIN32_FILE):
            bad(f"the win32 group is {WIN32_FILE}, and only it")
        if m.file.endswith("_test.cpp"):
            bad("mutations are of the product's code, not of its tests")
        if m.group == "win32" and not m.tests:
            bad("a win32 mutation names the end-to-end tests to run (tests:)")
        if m.tests:
            try:
                re.compile(m.tests)
            except re.error as error:
                bad(f"tests: is no regular expression: {error}")
        if not m.hunks:
            bad("no '-' lines: nothing to replace")
        for original, replacement in m.hunks:
            if not original:
                bad("an empty original text")
            if replacement is None:
                bad("a '-' block without its '+' lines (a lone '+' deletes)")
    return mutations


def select(mutations, only, group):
    chosen = [m for m in mutations if group is None or m.group == group]
    if only:
        for pattern in only:
            if not any(m.matches(pattern) for m in mutations):
                raise ListError(f"--only {pattern}: no mutation has such an id or file")
        chosen = [m for m in chosen if any(m.matches(pattern) for pattern in only)]
    return chosen


def anchor_problem(m, tree):
    """Why m cannot be planted in tree, or None; the mutant's text when it can."""
    path = tree / m.file
    try:
        text = path.read_bytes().decode("utf-8", "surrogateescape")
    except OSError:
        return f"{m.file} not found", None
    for number, (original, replacement) in enumerate(m.hunks, 1):
        count = text.count(original)
        if count != 1:
            which = f"original text {number} of {len(m.hunks)}" if len(m.hunks) > 1 else "original text"
            return f"{which} found {count} times (the code may have moved)", None
        text = text.replace(original, replacement)
    return None, text
