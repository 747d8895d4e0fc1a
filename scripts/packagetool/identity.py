"""The package's identity: the product's name, its version and its company, as make and preview
take them (--product, --product-version, --company), within the room the launcher has for them."""

import re
from typing import NamedTuple

from . import native
from .names import code_page_hint
from .outcome import Refused, Usage

# A version of up to four numbers of 0 to 65535 is also the fixed (binary) product version.
NUMERIC_VERSION = re.compile(r"(0|[1-9][0-9]{0,4})(\.(0|[1-9][0-9]{0,4})){0,3}")


class Identity(NamedTuple):
    product: str
    version: str
    company: str = ""

    def text(self):
        """As the run's event and log name the package."""
        return f"{self.product} {self.version}"


def add_options(parser):
    parser.add_argument("--product", metavar="NAME",
                        help="the product's name, for the launcher's version resource and the run's records")
    parser.add_argument("--product-version", metavar="VERSION", help="its version, such as 2.1.0 (with --product)")
    parser.add_argument("--company", metavar="NAME", help="the company that makes it (with --product)")


def name_problem(option, text, code_page):
    limit = native.facts()["binding"]["name_characters"]
    if not text or text != text.strip(" "):
        return f"{option} must name something, without blanks at its ends"
    if len(text) > limit:
        return f"{option} has {len(text)} characters, and the launcher has room for {limit}: shorten it"
    if any(ord(c) < 32 or 127 <= ord(c) < 160 for c in text):
        return f"{option} holds a control character: remove it"
    try:
        text.encode("cp" + code_page)
    except UnicodeEncodeError as error:
        return (f"{option}: {text[error.start:error.end]!r} cannot be written in the ANSI code page {code_page}, in "
                f"which the launcher writes its event: {code_page_hint(text, text[error.start], code_page)}")
    return None


def version_problem(text):
    limit = native.facts()["binding"]["version_characters"]
    if not 0 < len(text) <= limit or not all("!" <= c <= "~" for c in text):
        return (f"--product-version must be 1 to {limit} ASCII letters, digits and marks without blanks, such as "
                f"2.1.0 or 2.1.0-beta1: '{text}'")
    return None


def from_options(options):
    """The identity the options give, checked; None when none of them is given."""
    given = (options.product, options.product_version, options.company)
    if given == (None, None, None):
        return None
    if options.product is None or options.product_version is None:
        raise Usage("--product and --product-version go together, and --company only with them")
    problems = [problem for problem in (name_problem("--product", options.product, options.code_page),
                                        version_problem(options.product_version),
                                        options.company is not None and
                                        name_problem("--company", options.company, options.code_page)) if problem]
    if problems:
        raise Refused("; ".join(problems) + "; nothing was written")
    return Identity(options.product, options.product_version, options.company or "")


def fixed_version(version):
    """The four numbers of the fixed product version: the version's own when it is numeric, else
    zeros, so that nothing compares a text version with the launcher's own numbers."""
    if not NUMERIC_VERSION.fullmatch(version) or any(int(part) > 65535 for part in version.split(".")):
        return (0, 0, 0, 0)
    parts = [int(part) for part in version.split(".")]
    return tuple(parts + [0] * (4 - len(parts)))
