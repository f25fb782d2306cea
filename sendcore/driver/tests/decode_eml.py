#!/usr/bin/python3
"""Decodes one stored message with Python's own email package, independently of
our composer, and prints what a reader would see:

  SUBJECT:<subject>
  FROM:<from>
  TO:<to>
  ATTACH:<file name>:<sha256 of the decoded bytes>   (one line per attachment)
  BODY:
  <the text body, line ends as LF>
"""
import email
import email.policy
import hashlib
import sys

with open(sys.argv[1], "rb") as f:
    msg = email.message_from_binary_file(f, policy=email.policy.default)
out = sys.stdout
out.write("SUBJECT:%s\n" % msg["Subject"])
out.write("FROM:%s\n" % msg["From"])
out.write("TO:%s\n" % msg["To"])
body = ""
for part in msg.walk():
    if part.is_multipart():
        continue
    name = part.get_filename()
    if name:
        data = part.get_payload(decode=True) or b""
        out.write("ATTACH:%s:%s\n" % (name, hashlib.sha256(data).hexdigest()))
    elif part.get_content_type() == "text/plain" and not body:
        body = part.get_content().replace("\r\n", "\n")
out.write("BODY:\n" + body)
