"""Signing the launcher with osslsigncode (Authenticode, SHA-256), after its material was
checked, and checking the signature it made."""

import os
import shutil
import subprocess

from . import signature
from .outcome import Refused, ToolFailed


def osslsigncode():
    if not shutil.which("osslsigncode"):
        raise ToolFailed("osslsigncode is not installed (apt-get install osslsigncode)")
    return "osslsigncode"


def read_password(password_file):
    """The password as osslsigncode and openssl take it from a file: its first line."""
    if password_file is None:
        # An empty SIGN_PASSWORD is most often one that a script failed to fill: no password given.
        if not os.environ.get("SIGN_PASSWORD"):
            raise Refused("--sign needs the certificate's password: --password-file FILE (an empty file for a "
                          "certificate without one) or the environment variable SIGN_PASSWORD, not empty")
        return os.environ["SIGN_PASSWORD"]
    try:
        with open(password_file, "rb") as file:
            return file.read().split(b"\n")[0].rstrip(b"\r").decode()
    except OSError:
        raise Refused(f"no password file at '{password_file}'") from None


class Signer:
    """The checked signing material of a run: certificate, its password and a time-stamp server."""

    def __init__(self, pfx, password_file, timestamp):
        if not os.path.isfile(pfx):
            raise Refused(f"no certificate file at '{pfx}'")
        osslsigncode()
        self.pfx, self.timestamp = pfx, timestamp
        self.password = read_password(password_file)
        self.certificate, _ = signature.load_signing_material(pfx, self.password)

    def sign(self, unsigned, signed, scratch):
        # osslsigncode reads the password from a file; this one is readable by its owner only and
        # lives no longer than the scratch folder. It refuses an empty file, and opens a
        # certificate without a password when given none.
        password_file = None
        if self.password:
            password_file = os.path.join(scratch, "password")
            with open(os.open(password_file, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "w") as file:
                file.write(self.password)
        try:
            failure = self._osslsigncode(unsigned, signed, password_file, self.timestamp)
            if failure and self.timestamp:
                # The material was checked before packing: when signing without the server works,
                # the server is what failed.
                probe = os.path.join(scratch, "without-timestamp.exe")
                if not self._osslsigncode(unsigned, probe, password_file, None):
                    raise ToolFailed(f"the time-stamp server {self.timestamp} did not time-stamp the signature "
                                     f"(unreachable, or it refused): try again later or give another --timestamp; "
                                     f"no package was written")
            if failure:
                raise ToolFailed(f"osslsigncode could not sign the launcher:\n{failure}")
        finally:
            if password_file:
                os.remove(password_file)
        made = signature.Signature(signed)
        if not (made.intact() and signature.covers(signed, made)):
            raise ToolFailed("the signature osslsigncode made does not verify: no package was written")

    def _osslsigncode(self, unsigned, signed, password_file, timestamp):
        """"" when signed, else what osslsigncode said."""
        completed = subprocess.run(
            [osslsigncode(), "sign", "-pkcs12", self.pfx] + (["-readpass", password_file] if password_file else []) +
            ["-h", "sha256", "-n", "Installer Application"] + (["-ts", timestamp] if timestamp else []) +
            ["-in", unsigned, "-out", signed], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if completed.returncode == 0:
            return ""
        if os.path.exists(signed):
            os.remove(signed)
        said = completed.stdout.decode(errors="replace").splitlines()
        return "".join(f"  {line}\n" for line in said) or "  (nothing)"
