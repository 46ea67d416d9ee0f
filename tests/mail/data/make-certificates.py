#!/usr/bin/env python3
"""Makes the fixed test certificates beside this script (keys are thrown away).

expired.pem  self-signed, valid only from 2001-02-03 04:05:06 UTC to
             2002-02-03 04:05:06 UTC, for old.trelvik.test
hostile.pem  self-signed, names carrying a line break, a right-to-left
             override and markup, as a server could send them
"""
import datetime
import pathlib

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID

HERE = pathlib.Path(__file__).resolve().parent
UTC = datetime.timezone.utc


def make(path, common_name, organisation, not_before, not_after, dns_names):
    key = ec.generate_private_key(ec.SECP256R1())
    name = x509.Name([
        x509.NameAttribute(NameOID.COMMON_NAME, common_name),
        x509.NameAttribute(NameOID.ORGANIZATION_NAME, organisation),
    ])
    builder = (x509.CertificateBuilder()
               .subject_name(name)
               .issuer_name(name)
               .public_key(key.public_key())
               .serial_number(x509.random_serial_number())
               .not_valid_before(not_before)
               .not_valid_after(not_after)
               .add_extension(x509.SubjectAlternativeName([x509.DNSName(n) for n in dns_names]), critical=False))
    cert = builder.sign(key, hashes.SHA256())
    path.write_bytes(cert.public_bytes(serialization.Encoding.PEM))


make(HERE / "expired.pem", "old.trelvik.test", "Trelvik Test",
     datetime.datetime(2001, 2, 3, 4, 5, 6, tzinfo=UTC),
     datetime.datetime(2002, 2, 3, 4, 5, 6, tzinfo=UTC),
     ["old.trelvik.test"])
make(HERE / "hostile.pem", "pop.trelvik.test\nIssuer: Trusted CA",
     "<b>Bank</b>\u202egnp.exe",
     datetime.datetime(2020, 1, 1, tzinfo=UTC),
     datetime.datetime(2040, 1, 1, tzinfo=UTC),
     ["pop.trelvik.test"])
