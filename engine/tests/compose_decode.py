#!/usr/bin/python3
"""Decodes a composed message with Python's email package, for the tests.

  compose_decode.py MESSAGE [--unstuff]

MESSAGE holds the bytes after DATA; --unstuff first removes SMTP dot-stuffing
(as a receiving server does) when the file holds the bytes as sent.

Prints one line per field, "name<TAB>hex of UTF-8": subject, from, to, cc, body,
then per attachment "name" and "data" (hex of the bytes). A field whose
ISO-2022-JP text the standard codec refused (the NEC and IBM rows that
Japanese mail programs accept) is decoded through code page 932 instead, and
"fallback<TAB>field" says so. "modern-subject" etc. are the same headers as the
current email policy reads them, and "defect<TAB>text" lists what it objected to.
"""
import email
import email.header
import email.policy
import sys


def jis_to_cp932(raw):
    """ISO-2022-JP bytes -> str, taking JIS X 0208 rows through code page 932,
    which holds the NEC special characters of row 13 and rows 0x79-0x7C."""
    out = bytearray()
    jis = False
    i = 0
    while i < len(raw):
        if raw[i:i + 3] == b"\x1b$B":
            jis = True
            i += 3
        elif raw[i:i + 3] == b"\x1b(B":
            jis = False
            i += 3
        elif jis and i + 1 < len(raw):
            row, col = raw[i], raw[i + 1]
            lead = (row + 1) // 2 + (0x70 if row <= 0x5E else 0xB0)
            if row % 2:
                trail = col + (0x1F if col <= 0x5F else 0x20)
            else:
                trail = col + 0x7E
            out += bytes([lead, trail])
            i += 2
        else:
            out.append(raw[i])
            i += 1
    return out.decode("cp932")


def decode_text(raw, charset, field, fallbacks):
    charset = (charset or "us-ascii").lower()
    if charset != "iso-2022-jp":
        return raw.decode(charset)
    try:
        return raw.decode("iso2022_jp")
    except UnicodeDecodeError:
        fallbacks.append(field)
        return jis_to_cp932(raw)


def decode_header(value, field, fallbacks):
    if value is None:
        return ""
    parts = []
    for chunk, charset in email.header.decode_header(str(value)):
        if isinstance(chunk, str):
            parts.append(chunk)
        else:
            parts.append(decode_text(chunk, charset, field, fallbacks))
    return "".join(parts)


def unstuff(data):
    lines = data.split(b"\r\n")
    return b"\r\n".join(line[1:] if line.startswith(b".") else line for line in lines)


def emit(name, text):
    print(name + "\t" + text.encode("utf-8").hex())


def main():
    data = open(sys.argv[1], "rb").read()
    if "--unstuff" in sys.argv[2:]:
        data = unstuff(data)
    fallbacks = []
    msg = email.message_from_bytes(data)
    for field in ("subject", "from", "to", "cc"):
        emit(field, decode_header(msg[field], field, fallbacks))

    body = ""
    attachments = []
    for part in msg.walk():
        if part.is_multipart():
            continue
        if part.get_filename() is None:
            body += decode_text(part.get_payload(decode=True), part.get_content_charset(),
                                "body", fallbacks)
        else:
            name = decode_header(part.get_filename(), "name", fallbacks)
            attachments.append((name, part.get_payload(decode=True)))
    emit("body", body)
    for name, payload in attachments:
        emit("name", name)
        print("data\t" + payload.hex())
    for field in fallbacks:
        emit("fallback", field)

    modern = email.message_from_bytes(data, policy=email.policy.default)
    for field in ("subject", "from", "to"):
        header = modern[field]
        emit("modern-" + field, str(header) if header is not None else "")
        for defect in getattr(header, "defects", []):
            emit("defect", field + ": " + str(defect))
    for part in modern.walk():
        for defect in part.defects:
            emit("defect", str(defect))


if __name__ == "__main__":
    main()
