#!/usr/bin/env python3
"""Signs Windows programs in place (Authenticode, osslsigncode) with the
code-signing certificate that the environment names:
  sign.py FILE...
  ZV_SIGNING_PKCS12          the certificate, its chain and its key: a
                             PKCS#12 file (.p12, .pfx)
  ZV_SIGNING_PASSWORD        the file's password (none when unset)
  ZV_SIGNING_TIMESTAMP_URL   optional: an RFC 3161 time-stamping service,
                             which keeps the signature valid after the
                             certificate expires; without it nothing is
                             asked of the network
make_packages.py runs it on the staged programs, and makensis on the
installer and the uninstaller it writes. Exits 1, saying why, when a file
cannot be signed."""

import os
import subprocess
import sys

# The name Windows shows for the signed program (the UAC and SmartScreen
# prompts).
DESCRIPTION = "Zorvane"


def sign(path, pkcs12, password, timestamp_url):
    # osslsigncode never writes over its input: it signs into a new file,
    # which then replaces the old one.
    signed = path + ".signed"
    # The password goes through a pipe that osslsigncode opens as a file:
    # on its command line every user could read it in the process list.
    reader, writer = os.pipe()
    try:
        os.write(writer, password.encode())
        os.close(writer)
        writer = None
        command = ["osslsigncode", "sign", "-pkcs12", pkcs12,
                   "-readpass", "/dev/fd/%d" % reader, "-h", "sha256",
                   "-n", DESCRIPTION]
        if timestamp_url:
            command += ["-ts", timestamp_url]
        if os.path.exists(signed):
            os.remove(signed)
        try:
            run = subprocess.run(command + ["-in", path, "-out", signed],
                                 stdin=subprocess.DEVNULL,
                                 capture_output=True, text=True,
                                 pass_fds=[reader])
        except FileNotFoundError:
            return "no osslsigncode; run scripts/setup (Debian's osslsigncode)"
    finally:
        os.close(reader)
        if writer is not None:
            os.close(writer)
    if run.returncode != 0:
        if os.path.exists(signed):
            os.remove(signed)
        return (run.stdout + run.stderr).strip() or "osslsigncode failed"
    os.replace(signed, path)
    return None


def main():
    pkcs12 = os.environ.get("ZV_SIGNING_PKCS12")
    if not pkcs12:
        sys.exit("sign: ZV_SIGNING_PKCS12 names no certificate")
    if not os.path.isfile(pkcs12):
        sys.exit("sign: ZV_SIGNING_PKCS12: %s is not a file" % pkcs12)
    for path in sys.argv[1:]:
        error = sign(path, pkcs12, os.environ.get("ZV_SIGNING_PASSWORD", ""),
                     os.environ.get("ZV_SIGNING_TIMESTAMP_URL"))
        if error:
            sys.exit("sign: %s could not be signed:\n%s" % (path, error))


if __name__ == "__main__":
    main()
