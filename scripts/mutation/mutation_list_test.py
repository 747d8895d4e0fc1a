"""The mutation list's reader: what a well-formed entry becomes, and a mistake of each kind named
with its line."""

import tempfile
import unittest
from pathlib import Path

from mutation.mutation_list import ListError, anchor_problem, parse_list

ENTRY = """# a comment
[drop-flush]
group: portable
file: common/console.cpp
description: PrintLine no longer flushes
tests: package\\.Names
- first line
- second line
+ replaced
- other
+
"""


def parsed(text):
    with tempfile.TemporaryDirectory() as folder:
        (Path(folder) / "list.txt").write_text(text)
        return parse_list(Path(folder) / "list.txt")


class MutationList(unittest.TestCase):
    def test_an_entry_with_a_text_over_two_lines_and_a_deletion(self):
        (m,) = parsed(ENTRY)
        self.assertEqual((m.id, m.group, m.file, m.tests, m.equivalent),
                         ("drop-flush", "portable", "common/console.cpp", "package\\.Names", None))
        self.assertEqual(m.hunks, [["first line\nsecond line", "replaced"], ["other", ""]])
        with tempfile.TemporaryDirectory() as tree:
            (Path(tree) / "common").mkdir()
            (Path(tree) / "common" / "console.cpp").write_text("first line\nsecond line\nother other\n")
            self.assertEqual(anchor_problem(m, Path(tree)), ("original text 2 of 2 found 2 times (the code may have "
                                                             "moved)", None))

    def test_each_mistake_is_named_with_its_line(self):
        for text, says in [
                (ENTRY.replace("[drop-flush]", "[Drop_flush]"), ":2: the id 'Drop_flush' is not kebab-case"),
                (ENTRY.replace("group: portable", "group: other"), ":2: [drop-flush] group must be portable or win32"),
                (ENTRY.replace("file: common/console.cpp", "file: platform/win32.cpp"), "the win32 group is"),
                (ENTRY.replace("tests: package\\.Names", "tests: ("), "tests: is no regular expression"),
                (ENTRY.replace("- first line\n- second line\n", ""), ":7: a '+' line must follow"),
                (ENTRY.replace("- other\n+\n", "- other\n"), "a '-' block without its '+' lines"),
                (ENTRY.replace("description:", "note:"), ":5: expected one of group, file"),
                (ENTRY + "\n" + ENTRY, ":14: [drop-flush] the id is used twice"),
                ("group: portable\n", ":1: text before the first [id]")]:
            with self.assertRaises(ListError, msg=says) as raised:
                parsed(text)
            self.assertIn(says, str(raised.exception))

    def test_the_projects_list_reads(self):
        self.assertTrue(parse_list(Path(__file__).resolve().parents[1] / "mutations.txt"))
