"""How a run of the package tool ends: each kind of failure has one exit code, and only this
table says which."""


class Failure(Exception):
    """A run that cannot go on; the message says what to change, or what failed."""


class Refused(Failure):
    """The folder, NAME, OUT_DIR, the settings file or the signing material needs a change."""


class Usage(Failure):
    """An unknown option or a wrong number of arguments."""


class ToolFailed(Failure):
    """gcab, osslsigncode, the native helper or the time-stamp server failed, or the cabinet that
    was written does not match the folder."""


READY = 0  # the package is ready, check refused nothing, verify found all as it should be; --help, --version
INTERRUPTED = 130  # as a shell reports a program ended by Ctrl-C
OUTPUT_CLOSED = 141  # as a shell reports a program ended by SIGPIPE: the reader of its output went away
EXIT_CODES = {Refused: 1, Usage: 2, ToolFailed: 3}
NOT_READY = EXIT_CODES[Refused]  # verify found something that is not as it should be: a refusal to a script
