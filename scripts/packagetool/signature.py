"""Authenticode signatures: the signing certificate's fitness for code signing, and whether the
signature a program carries is intact and covers the program as it is. Whether the signer is to be
trusted is osslsigncode's answer against a CA the user names."""

import datetime
import hashlib

from cryptography import x509
from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography.hazmat.primitives.serialization import pkcs12
from cryptography.x509.oid import ExtendedKeyUsageOID

from . import pe
from .outcome import Refused

DIGESTS = {"1.3.14.3.2.26": "sha1", "2.16.840.1.101.3.4.2.1": "sha256", "2.16.840.1.101.3.4.2.2": "sha384",
           "2.16.840.1.101.3.4.2.3": "sha512"}
MESSAGE_DIGEST = "1.2.840.113549.1.9.4"


def load_signing_material(pfx, password):
    """The certificate and key of a PKCS#12 file, refused unless they can sign code now."""
    try:
        key, certificate, chain = pkcs12.load_key_and_certificates(open(pfx, "rb").read(), password.encode())
    except ValueError:
        raise Refused(f"{pfx} cannot be opened: a wrong password, or no PKCS#12 file") from None
    except OSError as error:
        raise Refused(f"{pfx} cannot be read: {error.strerror}") from None
    if key is None or certificate is None:
        raise Refused(f"{pfx} holds no certificate with its private key: export the signing certificate with its key")
    problem = unfit_for_code_signing(certificate)
    if problem:
        raise Refused(f"the certificate in {pfx} {problem}")
    return certificate, list(chain or [])


def unfit_for_code_signing(certificate):
    """Why Windows would not take a signature made with this certificate now; or None."""
    now = datetime.datetime.utcnow()
    if now < certificate.not_valid_before:
        return f"is valid only from {certificate.not_valid_before:%Y-%m-%d %H:%M} UTC: wait, or use another certificate"
    if now > certificate.not_valid_after:
        return f"expired on {certificate.not_valid_after:%Y-%m-%d %H:%M} UTC: renew it"
    return usage_unfit_for_code_signing(certificate)


def usage_unfit_for_code_signing(certificate):
    """Why Windows would not take a signature made with this certificate whenever it was made (its
    key usages); or None."""
    try:
        usages = certificate.extensions.get_extension_for_class(x509.ExtendedKeyUsage).value
    except x509.ExtensionNotFound:
        usages = None
    if usages is not None and ExtendedKeyUsageOID.CODE_SIGNING not in usages:
        named = ", ".join(usage._name for usage in usages) or "none"
        return (f"does not allow code signing (its extended key usage: {named}): sign with a certificate whose "
                f"extended key usage holds codeSigning")
    try:
        if not certificate.extensions.get_extension_for_class(x509.KeyUsage).value.digital_signature:
            return "does not allow digital signatures (its key usage): sign with a code-signing certificate"
    except x509.ExtensionNotFound:
        pass
    return None


def name_line(name):
    """A certificate's name as openssl shows it: "/CN=.../O=..."."""
    return "".join(f"/{attribute.rfc4514_attribute_name}={attribute.value}" for rdn in name.rdns for attribute in rdn)


def subject_line(certificate):
    return name_line(certificate.subject)


def identity(certificate):
    """What tells a certificate from another with the same subject: its SHA-256 fingerprint, its
    issuer and its validity."""
    fingerprint = certificate.fingerprint(hashes.SHA256()).hex(":").upper()
    return (f"SHA-256 fingerprint {fingerprint}, issued by {name_line(certificate.issuer)}, valid from "
            f"{certificate.not_valid_before:%Y-%m-%d %H:%M} to {certificate.not_valid_after:%Y-%m-%d %H:%M} UTC")


# ---- reading the signature: just enough DER ----

class _Element:
    """One DER element of data: its tag, where it starts, where its content starts and its end."""

    def __init__(self, data, at):
        self.data, self.start, self.tag = data, at, data[at]
        length = data[at + 1]
        at += 2
        if length & 0x80:
            count = length & 0x7F
            length = int.from_bytes(data[at:at + count], "big")
            at += count
        self.at, self.end = at, at + length

    @property
    def content(self):
        return self.data[self.at:self.end]

    @property
    def whole(self):
        return self.data[self.start:self.end]

    def children(self):
        at = self.at
        while at < self.end:
            child = _Element(self.data, at)
            yield child
            at = child.end

    def child(self, index):
        return list(self.children())[index]

    def oid(self):
        value, parts = 0, []
        for byte in self.content:
            value = value << 7 | byte & 0x7F
            if not byte & 0x80:
                parts.append(value)
                value = 0
        first = min(parts[0] // 40, 2)
        return ".".join(map(str, [first, parts[0] - 40 * first] + parts[1:]))


class Signature:
    """The Authenticode signature of a program, read from its certificate table (PKCS#7
    SignedData whose content is the program's digest)."""

    def __init__(self, path):
        table = pe.certificate_table(path)
        if table is None:
            raise LookupError("not signed")
        with open(path, "rb") as program:
            program.seek(table[0] + 8)  # past WIN_CERTIFICATE's length, revision and type
            data = program.read(table[1] - 8)
        signed_data = list(_Element(data, 0).child(1).child(0).children())
        content = signed_data[2].child(1).child(0)       # SpcIndirectDataContent
        self.content = content.content                   # what messageDigest is taken over
        algorithm, digest = content.child(1).children()  # its DigestInfo
        self.algorithm = DIGESTS.get(algorithm.child(0).oid(), "unknown")
        self.digest = digest.content
        self.certificates = [x509.load_der_x509_certificate(certificate.whole) for element in signed_data[3:]
                             if element.tag == 0xA0 for certificate in element.children()]
        signer_info = list(signed_data[-1].child(0).children())
        serial = int.from_bytes(signer_info[1].child(1).content, "big", signed=True)
        self.signer = next((c for c in self.certificates if c.serial_number == serial), None)
        attributes = next(element for element in signer_info if element.tag == 0xA0)
        self.signed_attributes = b"\x31" + attributes.whole[1:]  # signed as a SET OF
        self.message_digest = next((attribute.child(1).child(0).content for attribute in attributes.children()
                                    if attribute.child(0).oid() == MESSAGE_DIGEST), None)
        self.encrypted_digest = next(element.content for element in signer_info if element.tag == 0x04)

    def intact(self):
        """Whether the signer's key made this signature over these contents."""
        if self.signer is None or self.algorithm == "unknown":
            return False
        if hashlib.new(self.algorithm, self.content).digest() != self.message_digest:
            return False
        algorithm = getattr(hashes, self.algorithm.upper())()
        key = self.signer.public_key()
        try:
            if isinstance(key, rsa.RSAPublicKey):
                key.verify(self.encrypted_digest, self.signed_attributes, padding.PKCS1v15(), algorithm)
            elif isinstance(key, ec.EllipticCurvePublicKey):
                key.verify(self.encrypted_digest, self.signed_attributes, ec.ECDSA(algorithm))
            else:
                return False
        except InvalidSignature:
            return False
        return True


def covers(path, signature):
    """Whether the signature's digest is the program's own, as it is now."""
    return signature.algorithm != "unknown" and pe.authenticode_digest(path, signature.algorithm) == signature.digest
