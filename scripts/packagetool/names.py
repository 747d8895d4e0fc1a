"""Whether Windows, and the launcher in its ANSI code page, can use a file or folder name."""

import os
import unicodedata
from collections.abc import Callable

from . import native
from .outcome import Refused

# Characters that no Windows file name holds, and names Windows keeps for devices, with any extension.
FORBIDDEN = set('<>:"/\\|?*') | {chr(c) for c in range(32)}
DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL"} | {f"{kind}{n}" for kind in ("COM", "LPT") for n in range(1, 10)}
# A cabinet holds names of at most 255 bytes.
MAX_NAME_BYTES = 255


def windows_upper(text: str) -> str:
    """Letter case as Windows compares file names: one character for one."""
    if text.isascii():
        return text.upper()
    return "".join(c.upper() if len(c.upper()) == 1 else c for c in text)


# The ANSI code pages that write a script, by the first word of its letters' Unicode names; a hint
# names those that can write the whole name. The East Asian pages also hold Cyrillic and Greek
# letters, which are not what a person there would choose.
PAGES_OF_SCRIPT = {"THAI": ["874"], "HIRAGANA": ["932"], "KATAKANA": ["932"], "HALFWIDTH": ["932"],
                   "CJK": ["932", "936", "950"], "HANGUL": ["949"], "LATIN": ["1250", "1254", "1257", "1258"],
                   "CYRILLIC": ["1251"], "GREEK": ["1253"], "HEBREW": ["1255"], "ARABIC": ["1256"]}
SCRIPTS = {"874": "Thai", "932": "Japanese", "936": "Simplified Chinese", "949": "Korean",
           "950": "Traditional Chinese", "1250": "Central European", "1251": "Cyrillic", "1253": "Greek",
           "1254": "Turkish", "1255": "Hebrew", "1256": "Arabic", "1257": "Baltic", "1258": "Vietnamese"}


def writes(name: str, code_page: str) -> bool:
    try:
        name.encode("cp" + code_page)
    except UnicodeEncodeError:
        return False
    return True


def code_page_hint(name, letter, code_page):
    """What to do about a name whose letter the code page cannot write: the pages of its script."""
    script = unicodedata.name(letter, "").split(" ")[0]
    pages = [f"{page} for {SCRIPTS[page]}" for page in PAGES_OF_SCRIPT.get(script, [])
             if page in native.facts()["code_pages"] and page != code_page and writes(name, page)]
    named = (", ".join(pages[:-1]) + " or " + pages[-1] if len(pages) > 1 else pages[0]) if pages else \
        "65001 where Windows uses UTF-8 for it"
    return f"use characters of code page {code_page}, or name the machines' ANSI code page with --code-page: {named}"


def name_problem(name: str, code_page: str) -> str | None:
    """Why Windows, or the launcher in its ANSI code page, cannot use one file or folder name; or None."""
    if any("\udc80" <= c <= "\udcff" for c in name):
        return "the name is not valid UTF-8, so what it means is unknown: rename it"
    bad = sorted({c for c in name if c in FORBIDDEN})
    if bad:
        shown = " ".join(repr(c) for c in bad)
        return f"Windows file names cannot hold {shown}: rename it"
    if name.endswith((".", " ")):
        return "Windows drops a dot or blank at the end of a file name: rename it"
    if windows_upper(name.split(".")[0]).rstrip(" ") in DEVICE_NAMES:
        return "Windows keeps this name for a device: rename it"
    try:
        name.encode("cp" + code_page)
    except UnicodeEncodeError as error:
        return (f"{name[error.start:error.end]!r} cannot be written in the ANSI code page {code_page} that the "
                f"launcher and extrac32.exe work in, so it would arrive as '?': "
                f"{code_page_hint(name, name[error.start], code_page)}")
    return None


def package_name(given: str, code_page: str, say: Callable[[str], object]) -> str:
    """NAME as the package's files are named: without an extension ".exe" or ".cab" (any case), checked."""
    name = given
    stem, extension = os.path.splitext(given)
    if extension.lower() in (".exe", ".cab") and stem:
        say(f"NAME '{given}' taken as '{stem}': the package is always NAME.exe beside NAME.cab")
        name = stem
    if name in ("", ".", "..") or any(c in FORBIDDEN for c in name):
        raise Refused(f"NAME must be a plain file name: '{given}'")
    problem = name_problem(name + ".exe", code_page)
    if problem:
        raise Refused(f"NAME '{name}' cannot be used: {problem}. Windows would run the launcher under another name, "
                      f"and it would look for a cabinet that is not there")
    if len((name + ".exe").encode("cp" + code_page)) > MAX_NAME_BYTES:
        raise Refused("NAME is longer than a Windows file name may be: shorten it")
    return name
