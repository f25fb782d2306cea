#!/usr/bin/python3
"""The yardstick a user would script: the same personalised ISO-2022-JP messages
built with email.mime and sent over one smtplib session, RSET before each.
  python_merge.py DIR PORT   -> prints messages=N (the benchmark times the process)"""
import csv
import sys
import smtplib
from email.header import Header
from email.mime.text import MIMEText
from email.utils import formatdate, make_msgid

folder, port = sys.argv[1], int(sys.argv[2])
with open(folder + "/body.txt", encoding="utf-8") as f:
    template = f.read()
with open(folder + "/recipients.csv", encoding="utf-8", newline="") as f:
    rows = list(csv.DictReader(f))

def personalise(row):
    lines = []
    skip = False
    for line in template.split("\n"):
        if line.startswith("#If "):
            skip = row["honorific"] != "御中"
            continue
        if line == "#Else":
            skip = not skip
            continue
        if line == "#End If":
            skip = False
            continue
        if not skip:
            lines.append(line)
    text = "\n".join(lines)
    for tag, key in (("&[会社名]", "company"), ("&[部署名]", "department"), ("&[名前]", "name"),
                     ("&[敬称]", "honorific"), ("&[Freefield1]", "rank")):
        text = text.replace(tag, row[key])
    return text.replace("&[役職]", "")

smtp = smtplib.SMTP("127.0.0.1", port)
smtp.helo("bench")
for row in rows:
    msg = MIMEText(personalise(row), "plain", "iso-2022-jp")
    msg["To"] = row["email"]
    msg["From"] = str(Header("ターノス 事務局", "iso-2022-jp")) + " <office@example.jp>"
    msg["Subject"] = Header("【ご案内】%s %s%s 新製品説明会のお知らせ" % (row["company"], row["name"], row["honorific"]), "iso-2022-jp")
    msg["Date"] = formatdate(localtime=True)
    msg["Message-Id"] = make_msgid()
    smtp.rset()
    smtp.sendmail("office@example.jp", [row["email"]], msg.as_bytes())
smtp.quit()
print("messages=%d" % len(rows))
