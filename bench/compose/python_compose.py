#!/usr/bin/python3
"""The yardstick: Python's email package building the message compose_bench
builds (ISO-2022-JP headers and body, base64 attachment), N then 3N times,
written with CRLF line ends into a sink that only counts bytes, as the engine's
message is.

  python_compose.py DIR [N]
"""
import resource
import sys
import time
from email.generator import BytesGenerator
from email.header import Header
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.utils import formataddr, formatdate, make_msgid


class CountingSink:
    """Counts what is written and keeps nothing."""

    def __init__(self):
        self.count = 0

    def write(self, data):
        self.count += len(data)
        return len(data)


def compose(body, data):
    msg = MIMEMultipart()
    msg["To"] = formataddr((str(Header("山田 太郎", "iso-2022-jp")), "taro@example.jp"))
    msg["From"] = formataddr((str(Header("ターノス 事務局", "iso-2022-jp")), "office@example.jp"))
    msg["Date"] = formatdate(localtime=True)
    msg["Subject"] = Header("【ご案内】セミナー開催のお知らせ（第３回）", "iso-2022-jp")
    msg["Message-Id"] = make_msgid(domain="example.jp")
    msg.attach(MIMEText(body, "plain", "iso-2022-jp"))
    part = MIMEApplication(data)
    part.add_header("Content-Disposition", "attachment", filename="attachment.bin")
    msg.attach(part)
    sink = CountingSink()
    BytesGenerator(sink, mangle_from_=False, policy=msg.policy.clone(linesep="\r\n")).flatten(msg)
    return sink.count


def run(count, body, data):
    total = 0
    start = time.perf_counter()
    for _ in range(count):
        total += compose(body, data)
    return total / (1024 * 1024) / (time.perf_counter() - start)


def peak_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def main():
    folder = sys.argv[1]
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    # The same body as the engine's, whose half-width kana the engine widens.
    with open(folder + "/body.txt", encoding="utf-8") as f:
        import unicodedata
        body = "".join(unicodedata.normalize("NFKC", ch) if "\uff61" <= ch <= "\uff9f" else ch
                       for ch in f.read())
    with open(folder + "/attachment.bin", "rb") as f:
        data = f.read()
    run(2, body, data)
    first = run(n, body, data)
    after_n = peak_mb()
    rest = run(3 * n, body, data)
    print(f"python message size: {compose(body, data)} bytes")
    print(f"python email: {first:.1f} MB/s over {n} messages, {rest:.1f} MB/s over the next {3 * n}")
    print(f"python peak RSS: {after_n:.1f} MB after {n} messages, {peak_mb():.1f} MB after {4 * n}")
    print(f"RATE {first:.3f}")
    print(f"PEAKS {after_n:.1f} {peak_mb():.1f}")


if __name__ == "__main__":
    main()
