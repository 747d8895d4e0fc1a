"""The settings file as the launcher reads it (its own code, through the native helper) and as
the installer reads it: in the machine's ANSI code page."""

from . import native


def ansi_reading(line, code_page):
    """The line as a program reading the ANSI code page sees it; bytes without a character there as <XX>."""
    return "".join(chr(byte) if byte < 0x80 else _decoded(byte, code_page) for byte in line)


def _decoded(byte, code_page):
    try:
        return bytes([byte]).decode("cp" + code_page)
    except UnicodeDecodeError:
        return f"<{byte:02X}>"


def utf8_lines(data):
    """(number, line) of the lines beyond ASCII, when the whole file is UTF-8 without a byte-order
    mark; else none (the file is in some ANSI code page already)."""
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return []
    return [(number, line) for number, line in enumerate(data.split(b"\n"), 1) if any(byte >= 0x80 for byte in line)]


def check_settings(path, shown, code_page, report, describe=True):
    """Reports on the settings file (describe: and what it makes the launcher do); False when the
    launcher could not read it."""
    verdict = native.settings(path)
    if verdict["refusal"]:
        report.refuse(f"{shown}: {verdict['refusal']}")
        return False
    for warning in verdict["warnings"]:
        report.warn(f"{shown}: {warning}")
    # Under 65001 the installer reads UTF-8 as it is.
    lines = [] if code_page == "65001" else utf8_lines(open(path, "rb").read())
    if lines:
        shown_lines = "; ".join(
            f"line {number}: \"{line.decode('utf-8').rstrip(chr(13))}\" reaches it as "
            f"\"{ansi_reading(line, code_page).rstrip(chr(13))}\"" for number, line in lines[:5])
        more = f"; and {len(lines) - 5} more line(s)" if len(lines) > 5 else ""
        report.warn(f"{shown} is UTF-8 without a byte-order mark, and the installer reads it in the ANSI code page "
                    f"{code_page}: {shown_lines}{more}. Save it in code page {code_page} (Notepad: Save As, "
                    f"Encoding ANSI)")
    if not describe:
        return True
    if verdict["port_from_command_line"]:
        report.say(f"  port: from the command line (\"Port=CmdLine\", line {verdict['port_line']}): every run needs "
                   "/port: and /address:, or /port: with a printer share such as \\\\server\\printer; the launcher "
                   "writes the port into the settings file")
    else:
        report.say("  port: as the settings file sets it (no line \"Port=CmdLine\"): /port: and /address: are ignored")
    if verdict["standalone_run"]:
        report.say(f"  installer: the standalone run (\"{verdict['standalone_key']}\", line "
                   f"{verdict['standalone_line']}): InstallGui.exe without parameters, or with the /l: option as typed")
    else:
        report.say("  installer: the settings run: InstallGui.exe /I: and the expanded settings file's path")
    return True
