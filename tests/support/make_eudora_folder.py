#!/usr/bin/env python3
"""Writes a made-up Windows Eudora mail folder, and beside it OUT.expected.json: every message that a
conversion of the folder must write, into which folder, with which flags, keywords, dates, notes and
attachments, all taken from what this script wrote.

Usage: make_eudora_folder.py OUT [--scale BYTES] [--seed N]

Without --scale the folder is small and holds each case the converter must handle at least once. With
--scale the same mailboxes get the same kinds of message again and again, their bodies padded, until
the mailbox files hold about BYTES (for benchmarks: written in large blocks, a few hundred MB/s).

The folder: descmap.pce at each level (names in Windows-1252, files named in UTF-8 as a copy made on
Linux shows them), In/Out/Trash/Junk, user mailboxes whose names hold letters beyond ASCII, '&', '.'
and '/', a name cut to eight characters on disk, a folder two levels deep, a mailbox file that no
descmap.pce names (with and without an index), a descmap.pce entry whose file is gone, an empty
mailbox, a mailbox without index, an index entry in each of the 13 states and with each label, mail
deleted from the index but still in the file, a backup In.mbx.001, sent mail without Date:, a message
whose body was never downloaded, and attachment lines whose file is there and whose file is gone."""

import argparse
import bisect
import calendar
import datetime
import hashlib
import json
import os
import random
import struct
import sys
import time

MACHINE_ZONE = -360  # the mail client's machine: US Central standard time, minutes from UTC
ZONES = (-360, -300, 0, 60, 120, 330, -480, -600)  # the senders' zones
NEVER_DOWNLOADED = 0x40000000  # IMAP flags of an index entry: only a stub of the body is in the file
HAS_ATTACHMENTS = 0x8000
LABEL_SETTINGS = {1: "Important", 2: "Work & Play"}  # eudora.ini's LabelText1..; the others unset
DEFAULT_LABEL_NAMES = tuple(f"Label {n}" for n in range(1, 8))  # unset labels: the client's own names
RECOVERED = "Recovered"  # the folder (and keyword) of mail that the client no longer listed

# The IMAP flags of each index state: read, replied, forwarded and redirected mail was seen; sent mail
# was seen; mail waiting to be sent (queued, unsent, sendable, time-queued, and unsendable, which waits
# for the user) is a draft. Spooled mail has left for the server: seen. A state of 12 (the client
# rebuilt its index and found the message) says nothing of whether it was read.
SEEN, ANSWERED, FORWARDED, DRAFT = "\\Seen", "\\Answered", "$Forwarded", "\\Draft"
STATE_FLAGS = {0: (), 1: (SEEN,), 2: (SEEN, ANSWERED), 3: (SEEN, FORWARDED), 4: (SEEN, FORWARDED),
               5: (DRAFT,), 6: (DRAFT,), 7: (DRAFT,), 8: (SEEN,), 9: (DRAFT,), 10: (DRAFT,), 11: (SEEN,),
               12: ()}
STATE_NAMES = ("unread", "read", "replied", "forwarded", "redirected", "unsendable", "sendable", "queued",
               "sent", "unsent", "time-queued", "spooled", "recovered")

ATTACHMENT_LINE = 'Attachment Converted: "C:\\Eudora\\attach\\%s"'
ATTACHMENT_FOUND = "notes.txt"
ATTACHMENT_FILE = (b"Notes for the meeting on Thursday\r\n"
                   b"1. The budget\r\n2. The new office\r\n"
                   b"From the last meeting: nothing left open.\r\n")
ATTACHMENT_GONE = "budget 2010.xls"

WORDS = ("the", "plan", "office", "meeting", "budget", "report", "week", "draft", "review", "client",
         "invoice", "schedule", "project", "notes", "call", "team", "lunch", "friday", "numbers", "copy",
         "printer", "letter", "summer", "holiday", "train", "ticket", "garden", "coffee", "update", "list")
FROM_LINES = ("From here on the plan is simple.", "From the minutes of the last meeting:",
              "From what I hear, Friday is fine.")
_words = random.Random(0)
SENTENCES = [" ".join(_words.choice(WORDS) for _ in range(_words.randint(3, 12))).capitalize() + "."
             for _ in range(1000)]
TOPICS = [" ".join(_words.sample(WORDS, 3)) for _ in range(1000)]
QUOTED_FROM = ">From the archive, as it was quoted."  # a body line that really starts with '>'


def atom(name):
    """A label's name as an IMAP keyword: each character an atom cannot hold becomes '_'."""
    return "".join(c if 0x20 < ord(c) < 0x7f and c not in '(){%*"\\]' else "_" for c in name)


def label_keyword(label):
    return atom(LABEL_SETTINGS.get(label, DEFAULT_LABEL_NAMES[label - 1]))


# The tree as the client showed it: (display name, file name, type[, children]). File names are given
# as they stand on disk; descmap.pce holds them, like the display names, in Windows-1252.
TREE = [
    ("In", "In.mbx", "S"),
    ("Out", "Out.mbx", "S"),
    ("Trash", "Trash.mbx", "S"),
    ("Junk", "Junk.mbx", "S"),
    ("Café Crème", "Café Crème.mbx", "M"),
    ("Plans – 2010", "Plans – 2010.mbx", "M"),  # the dash is 0x96 in Windows-1252, a control in Latin-1
    ("R&D", "R&D.mbx", "M"),
    ("v1.2 notes", "v1.2 notes.mbx", "M"),
    ("Q1/Q2", "Q1Q2.mbx", "M"),
    ("Correspondence with the accountant", "Correspo.mbx", "M"),
    ("Empty Box", "Empty.mbx", "M"),
    ("Work Stuff", "Work Stu.fol", "F", [
        ("Projects", "Projects.mbx", "M"),
        ("Old", "Old.fol", "F", [
            ("Archive 2009", "Archive2.mbx", "M"),
        ]),
    ]),
    ("Lost Box", "LostBox.mbx", "M"),  # named, but its file is gone
]
MISSING = {"LostBox.mbx"}
NO_INDEX = {"Archive2.mbx", "Stray.mbx"}
# Mailbox files that no descmap.pce names: the name in the index header, else the file's name.
ORPHANS = [("Orphan.mbx", "Orphaned Box"), ("Stray.mbx", None)]
TARGET = {"In": "INBOX", "Out": "Sent"}  # the system mailboxes' folders; the others keep their names

# What each mailbox holds, in file order. Keys: state, label, priority; dropped (in the file, not in the
# index); nodate (no Date: line); nodate_index (the index has no date either); noarrival (nor an
# arrival time); never (body never downloaded); attach (an attachment line whose file is there, or
# 'gone'); fromlines (body lines that start with "From "); quoted (a body line that starts ">From ");
# cp1252 (a Windows-1252 body and an encoded subject); backup ('also': in In.mbx.001 too, 'only': in
# In.mbx.001 alone).
PLANS = {
    "In.mbx": [
        dict(state=0, fromlines=True),
        dict(state=1, label=1, attach=ATTACHMENT_FOUND),
        dict(state=2, label=2, priority=1, backup="also"),
        dict(state=3, label=3, attach="gone"),
        dict(state=4, never=True),
        dict(state=12, noarrival=True),
        dict(state=1, dropped=True, fromlines=True, quoted=True),
        dict(state=0, dropped=True, backup="also"),
        dict(state=1, label=1, backup="also"),
        dict(backup="only", fromlines=True),
    ],
    "Out.mbx": [
        dict(state=8, nodate=True),
        dict(state=8, nodate=True, nodate_index=True),
        dict(state=5, label=4),
        dict(state=6, priority=5),
        dict(state=7, nodate=True),
        dict(state=9),
        dict(state=10, nodate=True),
        dict(state=11),
        dict(state=8, nodate=True, dropped=True),
    ],
    "Trash.mbx": [dict(state=1, label=5), dict(state=0, label=6, fromlines=True), dict(state=1, dropped=True)],
    "Junk.mbx": [dict(state=0), dict(state=0, dropped=True)],
    "Café Crème.mbx": [dict(state=1, label=7, cp1252=True), dict(state=0)],
    "Plans – 2010.mbx": [dict(state=1), dict(state=0, dropped=True)],
    "R&D.mbx": [dict(state=2), dict(state=1, label=1)],
    "v1.2 notes.mbx": [dict(state=1)],
    "Q1Q2.mbx": [dict(state=0, fromlines=True)],
    "Correspo.mbx": [dict(state=1), dict(state=3, label=2)],
    "Empty.mbx": [],
    "Projects.mbx": [dict(state=1, label=2), dict(state=0), dict(state=2, dropped=True, fromlines=True)],
    "Archive2.mbx": [dict(), dict(fromlines=True)],
    "Orphan.mbx": [dict(state=1), dict(state=1, dropped=True)],
    "Stray.mbx": [dict()],
}


class Mailbox:
    def __init__(self, display, path, file, kind, listed=True, index_name=None):
        self.display, self.path, self.file, self.kind, self.listed = display, path, file, kind, listed
        self.index_name = index_name if index_name is not None else display
        self.plan = PLANS.get(os.path.basename(file), [])
        self.indexed = os.path.basename(file) not in NO_INDEX


def mailboxes():
    """Every mailbox of the tree with its target folder (a path of names) and file (relative to OUT)."""
    found = []

    def walk(entries, parents, folder):
        for entry in entries:
            display, name, kind = entry[:3]
            if kind == "F":
                walk(entry[3], parents + [display], os.path.join(folder, name))
            elif name not in MISSING:
                target = TARGET.get(display, display) if not parents else display
                found.append(Mailbox(display, parents + [target], os.path.join(folder, name), kind))

    walk(TREE, [], "")
    for name, index_name in ORPHANS:
        display = index_name or name[:-len(".mbx")]
        found.append(Mailbox(display, [display], name, "M", listed=False, index_name=index_name or ""))
    return found


def write_descmaps(out):
    def write(entries, folder):
        os.makedirs(folder, exist_ok=True)
        lines = []
        for entry in entries:
            display, name, kind = entry[:3]
            lines.append("%s,%s,%s,%s\r\n" % (display, name, kind, "Y" if display == "In" else "N"))
            if kind == "F":
                write(entry[3], os.path.join(folder, name))
        with open(os.path.join(folder, "descmap.pce"), "wb") as f:
            f.write("".join(lines).encode("cp1252"))

    write(TREE, out)


def asctime(seconds):
    return time.strftime("%a %b %d %H:%M:%S %Y", time.gmtime(seconds))


def rfc2822(seconds, zone):
    tz = datetime.timezone(datetime.timedelta(minutes=zone))
    return datetime.datetime.fromtimestamp(seconds, tz).strftime("%a, %d %b %Y %H:%M:%S %z")


class Padding:
    """Text to pad bodies with, cut at line ends: its CR LF form to write and its LF form to hash."""

    def __init__(self, rng, size):
        lines, total = [], 0
        while total < size:
            line = rng.choice(SENTENCES)
            lines.append(line.encode("ascii"))
            total += len(line) + 2
        self.crlf = memoryview(b"\r\n".join(lines) + b"\r\n")
        self.lf = memoryview(b"\n".join(lines) + b"\n")
        self.starts, at = [], 0  # where each line starts in the CR LF form
        for line in lines:
            self.starts.append(at)
            at += len(line) + 2
        self.starts.append(at)

    def cut(self, rng, length):
        """Whole lines of about length bytes: (CR LF bytes, LF bytes)."""
        last = bisect.bisect_left(self.starts, len(self.crlf) - length) - 1
        first = rng.randint(0, max(0, last))
        end = min(bisect.bisect_left(self.starts, self.starts[first] + length), len(self.starts) - 1)
        a, b = self.starts[first], self.starts[end]
        return self.crlf[a:b], self.lf[a - first:b - end]  # each line before has one byte less in LF


class Writer:
    def __init__(self, seed):
        self.seed = seed
        self.rng = random.Random(seed)
        self.number = 0
        self.found_missing = [0, 0]  # messages whose attachment's file is there, and is gone

    def message(self, box, shape, round_, pad):
        """One message: its bytes as the mailbox holds them and what a converter must make of it."""
        rng, self.number = self.rng, self.number + 1
        n = self.number
        zone = rng.choice(ZONES)
        sent = calendar.timegm((2003, 1, 1, 0, 0, 0)) + rng.randrange(8 * 365 * 86400)
        arrival = sent + rng.randint(20, 7200)
        separator = arrival + MACHINE_ZONE * 60  # the machine's wall clock, as the separator line says
        outgoing = box.file == "Out.mbx"
        who = "Pat Sender <pat%d@example.org>" % (n % 97)
        me = "Robin Eudora <robin@example.com>"
        topic = rng.choice(TOPICS)
        subject = "Message %d: %s" % (n, topic)
        headers = []
        if not outgoing:
            headers.append("Return-Path: <pat%d@example.org>" % (n % 97))
        headers += ["From: %s" % (me if outgoing else who), "To: %s" % (who if outgoing else me)]
        if shape.get("cp1252"):
            subject = "Café au lait, crème brûlée %d" % n
            encoded = "".join(c if c.isascii() and c.isalnum() else "_" if c == " " else
                              "".join("=%02X" % b for b in c.encode("cp1252")) for c in subject)
            headers.append("Subject: =?windows-1252?Q?%s?=" % encoded)
        else:
            headers.append("Subject: %s" % subject)
        message_id = "<q%07d.%d@gen.quillmend.test>" % (n, self.seed)
        headers.append("Message-ID: %s" % message_id)
        if not shape.get("nodate"):
            headers.append("Date: %s" % rfc2822(sent, zone))
        headers.append("X-Mailer: QUALCOMM Windows Eudora Version 7.1.0.9" if outgoing else
                       "X-Mailer: Generated for Quillmend's tests")
        attach = shape.get("attach")
        if attach == ATTACHMENT_FOUND:
            headers += ["MIME-Version: 1.0", 'Content-Type: multipart/mixed; boundary="=====%d====="' % n]
        if shape.get("cp1252"):
            headers += ["MIME-Version: 1.0", "Content-Type: text/plain; charset=windows-1252",
                        "Content-Transfer-Encoding: 8bit"]
        lines = ["Hello,", ""]
        lines += rng.sample(SENTENCES, rng.randint(1, 6))
        if shape.get("fromlines"):
            lines[3:3] = rng.sample(FROM_LINES, 2)
        if shape.get("quoted"):
            lines.insert(2, QUOTED_FROM)
        if shape.get("cp1252"):
            lines.append("Crème brûlée for everyone — 5 € each, café included.")
        if attach:
            name = ATTACHMENT_FOUND if attach == ATTACHMENT_FOUND else ATTACHMENT_GONE
            lines += ["", ATTACHMENT_LINE % name]
        if shape.get("never"):
            lines = ["[The body of this message is on the server.]"]
        lines += ["", "Regards,", "Round %d" % round_]
        text = "\r\n".join(lines) + "\r\n"
        head = ("From ???@??? %s\r\n" % asctime(separator) + "\r\n".join(headers) + "\r\n\r\n")
        body = text.encode("cp1252")
        padding = padding_lf = b""
        if pad:
            padding, padding_lf = pad
        data = [head.encode("ascii"), body, padding]

        indexed = box.indexed and not shape.get("dropped") and shape.get("backup") != "only"
        state = shape.get("state", 0) if indexed else None
        label = shape.get("label", 0) if indexed else 0
        # The index holds the zone of the machine that wrote it, and its date shifted by that zone.
        index_date = 0 if shape.get("nodate_index") else sent - MACHINE_ZONE * 60
        index_arrival = 0 if shape.get("noarrival") else arrival
        deleted = not indexed and box.indexed
        if shape.get("nodate"):
            if indexed and index_date:
                date = index_date + MACHINE_ZONE * 60
            elif indexed and index_arrival:
                date = index_arrival
            else:
                date = separator - MACHINE_ZONE * 60  # the separator line's local time
        else:
            date = sent
        if attach == ATTACHMENT_FOUND:
            self.found_missing[0] += 1
        elif attach:
            self.found_missing[1] += 1
        digest = None  # a body that the converter changes (attachments joined, a stub) is not compared
        if not attach and not shape.get("never"):
            digest = body_digest(text.replace("\r\n", "\n").encode("utf-8"), padding_lf)
        expected = {
            "message_id": message_id,
            "subject": subject,
            "deleted": deleted,
            "home": box.path,
            "source": box.file + (".001" if shape.get("backup") == "only" else ""),
            "state": state,
            "label": label,
            "priority": shape.get("priority", 3) if indexed else None,
            "flags": sorted(STATE_FLAGS[state]) if state is not None else [],
            "keywords": [label_keyword(label)] if label else [],
            "date": date,
            "date_added": bool(shape.get("nodate")),
            "received": index_arrival if indexed and index_arrival else separator - MACHINE_ZONE * 60,
            "never_downloaded": bool(shape.get("never")) and indexed,
            "attachments": [{"name": ATTACHMENT_FOUND if attach == ATTACHMENT_FOUND else ATTACHMENT_GONE,
                             "found": attach == ATTACHMENT_FOUND}] if attach else [],
            "body_sha1": digest,
        }
        entry = None
        if indexed:
            entry = dict(date=index_date, state=state, priority=shape.get("priority", 3), label=label,
                         zone=MACHINE_ZONE, arrival=index_arrival, sender=who, subject=subject, sent=sent,
                         imap=NEVER_DOWNLOADED if shape.get("never") else 0,
                         flags=HAS_ATTACHMENTS if attach else 0)
        return data, expected, entry


def body_digest(text_lf, padding_lf):
    """SHA-1 of a body's text in LF line ends, without the line end that closes it."""
    hashed = hashlib.sha1()
    if padding_lf:
        hashed.update(text_lf)
        hashed.update(padding_lf[:-1])
    else:
        hashed.update(text_lf[:-1])
    return hashed.hexdigest()


def index_header(name, size, count, wasted):
    header = bytearray(104)
    struct.pack_into("<H", header, 0, 0x31)
    raw = name.encode("cp1252")[:31]
    header[8:8 + len(raw)] = raw
    header[44] = 1 if wasted else 0
    struct.pack_into("<I", header, 96, size + 1)
    struct.pack_into("<H", header, 102, count)
    return bytes(header)


def index_entry(offset, length, e):
    entry = bytearray(218)
    struct.pack_into("<IIIHHB", entry, 0, offset, length, e["date"], e["state"], e["flags"], e["priority"])
    shown = time.strftime("%I:%M %p %m/%d/%Y", time.gmtime(e["sent"] + e["zone"] * 60)).encode("ascii")
    entry[18:18 + len(shown)] = shown
    struct.pack_into("<I", entry, 46, e["arrival"])
    sender = e["sender"].encode("cp1252", "replace")[:63]
    entry[50:50 + len(sender)] = sender
    subject = e["subject"].encode("cp1252", "replace")[:63]
    entry[114:114 + len(subject)] = subject
    struct.pack_into("<H", entry, 186, e["label"])
    struct.pack_into("<h", entry, 202, e["zone"])
    struct.pack_into("<I", entry, 204, e["imap"])
    return bytes(entry)


def generate(out, seed=1, scale=None):
    """Writes the folder into out and returns what a converter must make of it."""
    if os.path.exists(out) and os.listdir(out):
        raise SystemExit("%s exists and is not empty" % out)
    os.makedirs(out, exist_ok=True)
    writer = Writer(seed)
    rng = writer.rng
    boxes = mailboxes()
    write_descmaps(out)
    with open(os.path.join(out, "eudora.ini"), "wb") as f:
        f.write(b"[Settings]\r\nRealName=Robin Eudora\r\nReturnAddress=robin@example.com\r\n")
        for number, name in sorted(LABEL_SETTINGS.items()):
            f.write(b"LabelText%d=%s\r\nLabelColor%d=%d,0,0\r\n" % (number, name.encode("cp1252"), number, 40 * number))
        f.write(b"LabelColor5=0,128,0\r\n")  # a colour alone: its name stays the client's own
    os.makedirs(os.path.join(out, "attach"), exist_ok=True)
    with open(os.path.join(out, "attach", ATTACHMENT_FOUND), "wb") as f:
        f.write(ATTACHMENT_FILE)

    # With --scale: how many rounds of the plans, and how long the padding, to reach about scale bytes.
    rounds, mean_pad, padding = 1, 0, None
    if scale:
        per_round = sum(len(box.plan) for box in boxes)
        copies = per_round + sum(shape.get("backup") == "also" for box in boxes for shape in box.plan)
        in_round = len(PLANS["In.mbx"])
        rounds = max(1, scale // (per_round * 16384))
        rounds = min(rounds, 60000 // in_round)  # an index counts its entries in 16 bits
        mean_pad = max(0, scale // (rounds * copies) - 560)  # 560: a message's bytes without padding
        padding = Padding(rng, max(4 << 20, 4 * mean_pad))

    folders = {}
    written = 0
    backup = []  # the messages of In.mbx.001, each as a list of bytes
    for box in boxes:
        path = os.path.join(out, box.file)
        entries, at, wasted = [], 0, False
        with open(path, "wb", buffering=16 << 20) as f:
            for round_ in range(rounds):
                for shape in box.plan:
                    pad = padding.cut(rng, rng.randint(mean_pad // 4, mean_pad * 7 // 4)) if padding else None
                    data, expected, entry = writer.message(box, shape, round_, pad)
                    size = sum(len(d) for d in data)
                    if shape.get("backup"):
                        backup.append(data)
                    if shape.get("backup") != "only":
                        for d in data:
                            f.write(d)
                        if entry:
                            entries.append(index_entry(at, size, entry))
                        else:
                            wasted = True
                        at += size
                    target = ([RECOVERED] if expected["deleted"] else []) + expected["home"]
                    folders.setdefault(tuple(target), []).append(expected)
        written += at
        if box.indexed:
            name = box.index_name
            stem = path[:-len(".mbx")]
            with open(stem + ".toc", "wb") as f:
                f.write(index_header(name, at, len(entries), wasted))
                f.write(b"".join(entries))
    with open(os.path.join(out, "In.mbx.001"), "wb", buffering=16 << 20) as f:
        for data in backup:
            for d in data:
                f.write(d)
                written += len(d)

    expected = {
        "seed": seed,
        "scale": scale,
        "bytes": written,
        "labels": {str(n): label_keyword(n) for n in range(1, 8)},
        "attachments_found": writer.found_missing[0],
        "attachments_missing": writer.found_missing[1],
        "empty": [box.path for box in boxes if not box.plan],
        "mailboxes": [{"path": box.path, "file": box.file, "listed": box.listed} for box in boxes],
        "folders": [{"path": list(path), "messages": messages} for path, messages in folders.items()],
    }
    with open(out.rstrip(os.sep) + ".expected.json", "w", encoding="utf-8") as f:
        f.write(json.dumps(expected, ensure_ascii=False, indent=None if scale else 1))  # dumps: the C encoder
    return expected


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out")
    parser.add_argument("--scale", type=int, help="write about this many bytes of mailboxes")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    started = time.monotonic()
    expected = generate(args.out, args.seed, args.scale)
    count = sum(len(f["messages"]) for f in expected["folders"])
    print("%d messages, %d bytes of mailboxes in %.1f s" % (count, expected["bytes"], time.monotonic() - started),
          file=sys.stderr)


if __name__ == "__main__":
    main()
