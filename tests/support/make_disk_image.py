#!/usr/bin/env python3
"""Writes a disk image that holds a Windows Eudora folder whose In.mbx was compacted and whose Trash was
emptied, and beside it OUT.img.json: every Eudora message ever written to the volume, with its SHA-256,
whether a live mailbox still holds it, and every offset at which its exact bytes still stand whole.

Usage: make_disk_image.py OUT.img [--size-mib N] [--seed N] [--fs vfat|ext4] [--e01]

vfat (the default): FAT32 with 4 KiB clusters, written with mtools alone (no mounting). Other files
first (random binary, zeros, LF text, a Unix mbox and a text that only mentions Eudora's separator
line: the decoys), then the Eudora folder, then small files of which every other one is deleted so that
the old In.mbx is written into the holes they leave. Compaction writes the new In.mbx, deletes the old
one and renames the new; emptying Trash deletes Trash.mbx and writes an empty one. Last, more files
are written over part of the freed clusters, cutting some of the deleted mail. FAT32 needs 65525
clusters, so at 4 KiB a cluster the volume is at least 257 MiB; the default size is that minimum.

ext4: the live files of the same folder and a few others, put in by mkfs.ext4 -d; nothing deleted. It
is for telling copies inside named files from free space on a second kind of file system.

The manifest: the image's size, cluster size and data_start (where cluster 2, or block 0, begins); files
(every live file: path, kind, size, sha256, extents as [start, end) image offsets); decoys (the decoy
files again, with the image offset of each 'From ' in them); counts; and messages, one entry for each
distinct message: id, message_id, subject, from (address), date (its Date: line, or null), separator
(the separator line's time), kind, sha256, length, mailbox (where it was first written), written_to
(every file it was ever written into), live and live_files (the live files that hold it),
whole_on_image and offsets (found by searching the final image), where (per offset: {offset, file} or
{offset, free: true}), at_cluster_start (per offset), and cut_copies: where its header block stands but
not the whole message ({offset, head: the header block's length, standing: how many of its bytes stand
there}).

Before the image is handed over, a small carving (split at separator lines, end a message where its
CR LF text stops) must find complete exactly the whole messages and cut exactly the cut copies: a
message whose end no carving could tell from a cut (one ending at a cluster's end where the run breaks)
is never written."""

import argparse
import calendar
import hashlib
import json
import math
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

CLUSTER = 4096
MIN_FAT32_MIB = 257  # 65525 clusters of 4 KiB and the FATs: below this a FAT32 volume is not valid
DEFAULT_MIB = MIN_FAT32_MIB
TIMEOUT = 60  # seconds any one tool may take
FIXED_MTIME = calendar.timegm((2010, 12, 14, 9, 0, 0))  # the files' times, so the layout repeats

DAYS = ("Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun")
MONTHS = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")
SEPARATOR = re.compile(rb"From \?\?\?@\?\?\? (?:%s) (?:%s) \d\d \d\d:\d\d:\d\d \d{4}\r\n" % (
    "|".join(DAYS).encode(), "|".join(MONTHS).encode()))
SEPARATOR_START = b"From ???@??? "
# Bytes that end a mailbox's text: controls other than TAB, FF and ESC (ISO-2022-JP), a bare LF or CR.
NOT_MAIL_TEXT = re.compile(rb"[\x00-\x08\x0b\x0e-\x1a\x1c-\x1f\x7f]|(?<!\r)\n|\r(?!\n)")

ME = ("Robin Eudora", "robin@example.com")
PEOPLE = [("Pat Sender", "pat@example.org"), ("Jürgen Müller", "jmueller@example.de"),
          ("Tanaka Hiroshi", "tanaka@example.jp"), ("Ana Núñez", "ana@example.es"),
          ("Lee Chan", "lee.chan@example.net"), ("Office Manager", "office@example.com"),
          ("Mailing List", "list-owner@lists.example.net"), ("Dr. Smith", "smith@clinic.example")]
WORDS = ("the", "plan", "office", "meeting", "budget", "report", "week", "draft", "review", "client",
         "invoice", "schedule", "project", "notes", "call", "team", "lunch", "friday", "numbers", "copy",
         "printer", "letter", "summer", "holiday", "train", "ticket", "garden", "coffee", "update", "list")
LATIN1_LINES = ("Grüße aus München, und danke für die Blumen.", "Señor Núñez pagó la cuenta del café.",
                "La crème brûlée était très bonne, à bientôt.", "Ærø, Øresund, Åland: the ferry plan.")
JAPANESE_LINES = ("会議は金曜日の午後三時からです。", "資料を添付しました。ご確認ください。",
                  "よろしくお願いいたします。")
DESCMAP = b"In,In.mbx,S,Y\r\nOut,Out.mbx,S,N\r\nTrash,Trash.mbx,S,N\r\n"
MENTION_TEXT = ("Eudora keeps each mailbox as one file, and every message in it begins with a line\r\n"
                "such as From ???@??? followed by the time the message was stored.\r\n"
                "From ???@??? is all that line says about the sender, so do not trust it.\r\n"
                "A search for From ???@??? in the middle of a line finds this note too.\r\n")


def sentence(rng):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 12))).capitalize() + "."


def text_lines(rng, size):
    """CR LF lines of sentences, exactly size bytes (0, or at least 2)."""
    out = []
    while size > 100:
        line = sentence(rng).encode() + b"\r\n"  # at most 96 bytes: what is left stays above 3
        out.append(line)
        size -= len(line)
    if size:
        words = b""
        while len(words) < size - 2:
            words += rng.choice(WORDS).encode() + b" "
        line = words[:size - 2]
        out.append((line[:-1] + b"." if line.endswith(b" ") else line) + b"\r\n")
    return b"".join(out)


def phrase(name):
    """A display name as a header holds it: quoted, or an encoded word when it is not ASCII."""
    if name.isascii():
        return '"%s"' % name
    return "=?ISO-8859-1?Q?%s?=" % "".join(c if c.isascii() and c.isalnum() else "_" if c == " " else
                                           "=%02X" % ord(c) for c in name)


def asctime(seconds):
    """The separator line's time: the client's local wall clock, day in two digits."""
    return time.strftime("%a %b %d %H:%M:%S %Y", time.gmtime(seconds))


def rfc2822(seconds, zone):
    t = time.gmtime(seconds + zone * 60)
    return "%s, %d %s %d %02d:%02d:%02d %+03d%02d" % (DAYS[t.tm_wday], t.tm_mday, MONTHS[t.tm_mon - 1], t.tm_year,
                                                      t.tm_hour, t.tm_min, t.tm_sec, zone // 60, abs(zone) % 60)


class Message:
    def __init__(self, data, meta):
        self.data, self.meta = data, meta
        self.written_to = []

    def pad(self, extra):
        """Longer by exactly extra bytes of body text (to move the next message onto a cluster start)."""
        self.data += text_lines(random.Random(len(self.data)), extra)


class Writer:
    """Messages as the client stores them: separator line, header block, blank line, body, all CR LF."""

    def __init__(self, seed):
        self.seed = seed
        self.rng = random.Random(seed)
        self.number = 0
        self.clock = calendar.timegm((2009, 3, 1, 8, 0, 0))

    def message(self, outgoing=False, size=None):
        rng = self.rng
        self.number += 1
        n = self.number
        self.clock += rng.randint(600, 5 * 86400)  # the separators run forward, a few days apart at most
        stored = self.clock
        zone = rng.choice((-360, -300, 0, 60, 540))
        sent = stored - rng.randint(30, 7200) - 6 * 3600  # the client's clock runs on US Central time
        person = rng.choice(PEOPLE)
        sender, recipient = (ME, person) if outgoing else (person, ME)
        subject = "%s %s (%d)" % (rng.choice(("Re:", "Fwd:", "", "About")), " ".join(rng.sample(WORDS, 3)), n)
        subject = subject.strip()
        message_id = "<%d.%04d.disk@gen.quillmend.test>" % (self.seed, n)
        kind = rng.choice(("plain", "plain", "latin1", "japanese", "html", "flowed", "tabs", "attachment"))
        head = []
        if not outgoing:
            head.append("Return-Path: <%s>" % sender[1])
            for hop in range(rng.randint(1, 3)):
                head.append("Received: from mx%d.example.net (mx%d.example.net [192.0.2.%d])\r\n"
                            "\tby mail.example.com (8.14.4/8.14.4) with ESMTP id oB%07d\r\n"
                            "\tfor <%s>; %s" % (hop, hop, n % 250 + 1, n * 7 + hop, ME[1], rfc2822(sent + 60, zone)))
        dated = not outgoing or rng.random() < 0.5  # sent mail often has no Date:
        if dated:
            head.append("Date: %s" % rfc2822(sent, zone))
        head += ["From: %s <%s>" % (phrase(sender[0]), sender[1]), "To: %s <%s>" % (phrase(recipient[0]), recipient[1]),
                 "Subject: %s" % subject,
                 "Message-ID: %s" % message_id]
        if kind == "latin1":
            head += ["MIME-Version: 1.0", "Content-Type: text/plain; charset=ISO-8859-1",
                     "Content-Transfer-Encoding: 8bit"]
        elif kind == "japanese":
            head += ["MIME-Version: 1.0", "Content-Type: text/plain; charset=ISO-2022-JP",
                     "Content-Transfer-Encoding: 7bit"]
        elif kind == "html":
            head += ["MIME-Version: 1.0",
                     'Content-Type: multipart/alternative; boundary="----=_NextPart_%d"' % n]
        elif kind == "flowed":
            head += ["MIME-Version: 1.0", "Content-Type: text/plain; charset=us-ascii; format=flowed"]
        elif kind == "attachment":
            head += ["MIME-Version: 1.0", 'Content-Type: multipart/mixed; boundary="=====%d====="' % n]
        if outgoing:
            head.append("X-Mailer: QUALCOMM Windows Eudora Version 7.1.0.9")
            if kind == "attachment":
                head.append("X-Attachments: C:\\Documents\\report %d.pdf;" % n)
        elif rng.random() < 0.3:
            head.append("X-Mailer: QUALCOMM Windows Eudora Version 6.2.4")
        if not outgoing and rng.random() < 0.3:
            head.append("Status: U")

        body = ["Hello %s," % recipient[0].split()[0], ""]
        body += [sentence(rng) for _ in range(rng.randint(1, 4))]
        if rng.random() < 0.3:
            body.insert(2, rng.choice(("From the minutes of the last meeting:", "From what I hear, Friday is fine.")))
        if rng.random() < 0.15:  # a quoted separator line: the client escaped it with '>' on arrival
            body.append(">From ???@??? %s" % asctime(stored - 86400 * rng.randint(30, 900)))
        raw = "\r\n".join(body).encode("latin-1") + b"\r\n"
        if kind == "latin1":
            raw += "\r\n".join(rng.sample(LATIN1_LINES, 2)).encode("latin-1") + b"\r\n"
        elif kind == "japanese":
            raw += b"".join(line.encode("iso2022_jp") + b"\r\n" for line in rng.sample(JAPANESE_LINES, 2))
        elif kind == "html":
            raw = (b"<x-html>\r\n<html><body>\r\n<p>" + sentence(rng).encode() + b"</p>\r\n"
                   b"<p>" + sentence(rng).encode() + b"</p>\r\n</body></html>\r\n</x-html>\r\n")
        elif kind == "flowed":
            raw = b"<x-flowed>\r\n" + raw + b"</x-flowed>\r\n"
        elif kind == "tabs":
            raw += b"Item\tQty\tPrice\r\nPaper\t10\t4.50\r\nToner\t2\t61.00\r\n\x0c\r\nPage two.\r\n"
        elif kind == "attachment":
            raw += b'Attachment Converted: "C:\\Program Files\\Qualcomm\\Eudora\\attach\\report %d.pdf"\r\n' % n
        data = ("From ???@??? %s\r\n" % asctime(stored)).encode() + "\r\n".join(head).encode("ascii") + b"\r\n\r\n"
        signature = b"\r\nRegards,\r\n" + sender[0].encode("latin-1") + b"\r\n"
        short = (size or 0) - len(data) - len(raw) - len(signature)
        if short > 0 and raw.endswith(b"</x-html>\r\n"):
            raw = raw[:-len(b"</x-html>\r\n")] + text_lines(rng, short) + b"</x-html>\r\n"
        elif short > 0:
            raw += text_lines(rng, short)
        data += raw + signature
        meta = {"message_id": message_id, "subject": subject, "from": sender[1],
                "date": rfc2822(sent, zone) if dated else None, "separator": asctime(stored), "kind": kind}
        return Message(data, meta)


def message_size(rng):
    """300 bytes to 60 KB, log-uniform: most messages short, some over many clusters."""
    return int(math.exp(rng.uniform(math.log(300), math.log(60000))))


def mailbox_bytes(messages, name):
    for m in messages:
        m.written_to.append(name)
    return b"".join(m.data for m in messages)


SEPARATOR_ROOM = 120  # a separator line and the start of the header after it, which mark a message


def align(messages, indexes, breaks=()):
    """Pads the message before each chosen one so that the chosen one starts a cluster of the file.
    Moves any other message off a cluster start, and any separator line off the file offsets where its
    run on the disk will break: the message before would end at a cluster's end, or be followed by a
    cut separator, and nothing could tell it whole from cut."""
    at = 0
    for i, m in enumerate(messages):
        if i in indexes:
            gap = -at % CLUSTER
            if gap < 100:
                gap += CLUSTER
            messages[i - 1].pad(gap)
            at += gap
        elif i and at % CLUSTER == 0:
            messages[i - 1].pad(100)
            at += 100
        for b in breaks:
            if i and at < b < at + SEPARATOR_ROOM:
                messages[i - 1].pad(b - at + 8)
                at = b + 8
        at += len(m.data)


class Plan:
    """The messages of each mailbox (old In before compaction, Out, old Trash, In.mbx.001) and the
    small files whose deletion leaves the holes that the old In.mbx is written into."""

    def __init__(self, seed):
        w = Writer(seed)
        rng = random.Random(seed * 7919 + 1)
        self.fillers = {}
        for i in range(201):  # odd ones deleted: the last one stays, closing the last hole
            size = rng.randint(1, 2) * CLUSTER - rng.randint(1, 3000)
            self.fillers["~df%03d.tmp" % i] = rng.randbytes(size) if i % 4 < 2 else lf_text(rng, size)[:size]
        breaks = []  # the old In.mbx's offsets where a hole ends
        for i, data in enumerate(self.fillers.values()):
            if i % 2:
                breaks.append((breaks[-1] if breaks else 0) + -(-len(data) // CLUSTER) * CLUSTER)
        self.holes = holes = breaks[-1]
        older = [w.message(size=message_size(rng)) for _ in range(6)]  # only in the backup now
        self.old_in = [w.message(size=message_size(rng)) for _ in range(150)]
        for m in self.old_in:
            m.deleted = rng.random() < 0.35
        self.old_in[-1].deleted = False  # so that padding it (below) moves no chosen message
        # Some deleted messages begin a cluster of the file, past the holes so that the message before
        # stands just before them on the disk too.
        at, chosen = 0, []
        for i, m in enumerate(self.old_in[:-1]):
            if m.deleted and at > holes + 2 * CLUSTER:
                chosen.append(i)
            at += len(m.data)
        if len(chosen) < 4:
            raise RuntimeError("too few deleted messages past the holes")
        align(self.old_in, set(rng.sample(chosen, 4)), breaks)
        self.backup = older[:3] + self.old_in[:5] + older[3:5] + self.old_in[5:10] + older[5:]
        self.older = older
        self.out = [w.message(outgoing=True, size=message_size(rng) // 3) for _ in range(20)]
        align(self.out, set())
        self.trash = [w.message(size=message_size(rng)) for _ in range(20)]
        align(self.trash, {6, 13})
        self.new_in = [m for m in self.old_in if not m.deleted]
        # No mailbox ends at a cluster's end: its last message could not be told whole from cut.
        for box in (self.old_in, self.new_in, self.backup, self.out, self.trash, self.old_in, self.new_in):
            if sum(len(m.data) for m in box) % CLUSTER == 0:
                box[-1].pad(100)


# ---------------------------------------------------------------------------------------------------
# Other files

def other_files(rng):
    """Path -> (bytes, kind) of the files written before the mail folder; decoys among them."""
    files = {}
    for i in range(3):
        files["/Docs/photo%d.jpg" % i] = (b"\xff\xd8\xff\xe0" + rng.randbytes(rng.randint(40, 150) * 1000), "other")
    files["/Docs/blank.dat"] = (bytes(40000), "other")
    files["/Docs/readme.txt"] = (lf_text(rng, 12000), "other")
    mbox = []
    for i in range(15):
        when = time.gmtime(calendar.timegm((2010, 12, 13, 18, 45, 29)) + i * 86400)
        mbox.append("From user%d@host.example %s\nFrom: user%d@host.example\nTo: me@host.example\n"
                    "Subject: Unix mail %d\nDate: %s\nMessage-ID: <unix%d@host.example>\n\n%s\n\n" % (
                        i, time.strftime("%a %b %d %H:%M:%S %Y", when), i, i, rfc2822(calendar.timegm(when), 0),
                        i, sentence(rng)))
    files["/Docs/archive.mbox"] = ("".join(mbox).encode(), "decoy-unix-mbox")
    files["/Docs/eudora-notes.txt"] = ((MENTION_TEXT * 3).encode(), "decoy-mention")
    return files


def lf_text(rng, size):
    out, total = [], 0
    while total < size:
        line = sentence(rng) + "\n"
        out.append(line)
        total += len(line)
    return "".join(out).encode()


# ---------------------------------------------------------------------------------------------------
# FAT32 with mtools

class Fat:
    def __init__(self, image, size):
        self.image = image
        self.env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
        with open(image, "wb") as f:
            f.truncate(size)
        run(["mkfs.vfat", "-F", "32", "-S", "512", "-s", str(CLUSTER // 512), "--invariant", "-i", "51ed0001",
             "-n", "QUILLTEST", image])
        with open(image, "rb") as f:
            boot = f.read(512)
        sector, self.per_cluster, reserved, fats = struct.unpack_from("<HBHB", boot, 11)
        fat_sectors, = struct.unpack_from("<I", boot, 36)
        self.fsinfo = struct.unpack_from("<H", boot, 48)[0] * sector
        self.data_start = (reserved + fats * fat_sectors) * sector
        assert sector * self.per_cluster == CLUSTER

    def mtools(self, tool, *args):
        return run([tool, "-i", self.image, *args], env=self.env)

    def next_after(self, cluster):
        """mtools takes the first free cluster after the FSInfo hint (the last one it handed out): set
        the hint to steer where the next file goes; 0xFFFFFFFF (unknown) makes it search from the start."""
        with open(self.image, "r+b") as f:
            f.seek(self.fsinfo + 492)
            f.write(struct.pack("<I", cluster))

    def put(self, folder, files, staging):
        """Copies files (name -> bytes) into folder on the volume, in the order given, in one call."""
        paths = []
        for name, data in files.items():
            path = os.path.join(staging, name)
            with open(path, "wb") as f:
                f.write(data)
            os.utime(path, (FIXED_MTIME, FIXED_MTIME))
            paths.append(path)
        self.mtools("mcopy", "-m", "-o", *paths, "::" + folder)
        for path in paths:
            os.remove(path)

    def chains(self, paths):
        """Path -> list of (first, last) cluster runs, from mshowfat."""
        said = self.mtools("mshowfat", *("::" + p for p in paths))
        runs = {}
        for line in said.splitlines():
            if line.startswith("::"):
                name, _, rest = line.partition(" ")
                runs[name[2:]] = [tuple(int(x) for x in (r.split("-") * 2)[:2])
                                  for r in re.findall(r"<([0-9-]+)>", rest)]
        return runs

    def offset(self, cluster):
        return self.data_start + (cluster - 2) * CLUSTER


def run(command, env=None):
    done = subprocess.run(command, capture_output=True, env=env, timeout=TIMEOUT)
    if done.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(command[:3]), done.returncode,
                                                   (done.stdout + done.stderr).decode("utf-8", "replace")))
    return done.stdout.decode("utf-8", "replace")


def build_fat(path, size, seed, staging):
    rng = random.Random(seed * 31 + 7)
    plan = Plan(seed)
    fat = Fat(path, size)
    fat.mtools("mmd", "::/Docs", "::/Eudora", "::/Temp")
    others = other_files(rng)
    order = ("photo0.jpg", "readme.txt", "archive.mbox", "blank.dat", "eudora-notes.txt", "photo1.jpg", "photo2.jpg")
    fat.put("/Docs", {name: others["/Docs/" + name][0] for name in order}, staging)
    old_in_data = mailbox_bytes(plan.old_in, "/Eudora/In.mbx (before compaction)")
    folder = {"descmap.pce": DESCMAP, "Out.mbx": mailbox_bytes(plan.out, "/Eudora/Out.mbx"),
              "Trash.mbx": mailbox_bytes(plan.trash, "/Eudora/Trash.mbx"),
              "In.mbx.001": mailbox_bytes(plan.backup, "/Eudora/In.mbx.001")}
    fat.put("/Eudora", folder, staging)
    trash_runs = fat.chains(["/Eudora/Trash.mbx"])["/Eudora/Trash.mbx"]

    # Small files, every other one deleted: the old In.mbx goes into the holes, then on past them.
    fat.put("/Temp", plan.fillers, staging)
    fat.mtools("mdel", *("::/Temp/" + name for i, name in enumerate(plan.fillers) if i % 2))
    fat.next_after(0xFFFFFFFF)
    fat.put("/Eudora", {"In.mbx": old_in_data}, staging)
    old_runs = fat.chains(["/Eudora/In.mbx"])["/Eudora/In.mbx"]
    if sum(b - a + 1 for a, b in old_runs[:-1]) * CLUSTER != plan.holes:
        raise RuntimeError("the old In.mbx did not go into the holes: %s" % old_runs)

    # Compaction: a new file without the deleted mail, the old one deleted, the new one renamed.
    fat.put("/Eudora", {"In.tmp": mailbox_bytes(plan.new_in, "/Eudora/In.mbx")}, staging)
    fat.mtools("mdel", "::/Eudora/In.mbx")
    fat.mtools("mren", "::/Eudora/In.tmp", "::/Eudora/In.mbx")
    fat.mtools("mdel", "::/Eudora/Trash.mbx")  # Trash emptied
    fat.put("/Eudora", {"Trash.mbx": b""}, staging)

    # Later files over part of the freed clusters: runs of the old In.mbx's long last run, two of its
    # holes, two runs of the old Trash; whole clusters each, so that no file's slack keeps old mail.
    # None begins where a message does: the one before would end at a cluster's end, whole or cut.
    first, last = old_runs[-1]
    trash_first, trash_last = trash_runs[0]
    old_starts = set(starts_of(plan.old_in))
    trash_starts = set(starts_of(plan.trash))
    later = []
    for i, (at, count) in enumerate(((0.2, 3), (0.45, 1), (0.7, 2), (0.9, 1))):
        cluster = first + int((last - first) * at)
        while near_start(plan.holes + (cluster - first) * CLUSTER, old_starts):
            cluster += 1
        later.append(("later-%d.txt" % i, cluster, count, "text"))
    later += [("later-hole-%d.bin" % i, old_runs[i][0], 1, "binary") for i in (2, 7)]  # already a break
    for i, (at, count) in enumerate(((0.3, 1), (0.75, 2))):
        cluster = trash_first + int((trash_last - trash_first) * at)
        while near_start((cluster - trash_first) * CLUSTER, trash_starts):
            cluster += 1
        later.append(("later-trash-%d.bin" % i, cluster, count, "binary"))
    for name, cluster, count, kind in later:
        fat.next_after(cluster - 1)
        data = rng.randbytes(count * CLUSTER) if kind == "binary" else lf_text(rng, count * CLUSTER)[:count * CLUSTER]
        others["/Docs/" + name] = (data, "other")
        fat.put("/Docs", {name: data}, staging)
    new_runs = fat.chains(["/Eudora/In.mbx"])["/Eudora/In.mbx"]
    fat.next_after(new_runs[-1][1])
    for name, data in (("after.txt", lf_text(rng, 30000)), ("after.bin", rng.randbytes(50000))):
        others["/Docs/" + name] = (data, "other")
        fat.put("/Docs", {name: data}, staging)

    live = {"/Eudora/In.mbx": b"".join(m.data for m in plan.new_in), "/Eudora/Trash.mbx": b""}
    live.update({"/Eudora/" + name: data for name, data in folder.items() if name != "Trash.mbx"})
    kinds = {p: "mailbox" if p.endswith((".mbx", ".001")) else "other" for p in live}
    for i, (name, data) in enumerate(plan.fillers.items()):
        if i % 2 == 0:
            live["/Temp/" + name], kinds["/Temp/" + name] = data, "other"
    for p, (data, kind) in others.items():
        live[p], kinds[p] = data, kind
    runs = fat.chains(sorted(p for p, data in live.items() if data))
    extents = {p: [(fat.offset(a), fat.offset(b + 1)) for a, b in runs.get(p, [])] for p in live}
    return {"messages": plan.old_in + plan.out + plan.trash + plan.older, "live": live, "kinds": kinds,
            "extents": extents, "data_start": fat.data_start}


def near_start(offset, starts):
    return any(offset - SEPARATOR_ROOM < s <= offset for s in starts)


def starts_of(messages):
    at = 0
    for m in messages:
        yield at
        at += len(m.data)


def build_ext4(path, size, seed, staging):
    rng = random.Random(seed * 31 + 7)
    plan = Plan(seed)
    tree = os.path.join(staging, "tree")
    live = {"/Eudora/In.mbx": mailbox_bytes(plan.new_in, "/Eudora/In.mbx"),
            "/Eudora/Out.mbx": mailbox_bytes(plan.out, "/Eudora/Out.mbx"), "/Eudora/Trash.mbx": b"",
            "/Eudora/In.mbx.001": mailbox_bytes(plan.backup, "/Eudora/In.mbx.001"), "/Eudora/descmap.pce": DESCMAP}
    kinds = {p: "mailbox" if p.endswith((".mbx", ".001")) else "other" for p in live}
    for p, (data, kind) in other_files(rng).items():
        live[p], kinds[p] = data, kind
    for p, data in live.items():
        target = os.path.join(tree, p.lstrip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)
        os.utime(target, (FIXED_MTIME, FIXED_MTIME))
    if os.path.exists(path):
        os.remove(path)
    run(["mkfs.ext4", "-q", "-F", "-b", str(CLUSTER), "-U", "5ed0c0de-0000-4000-8000-%012d" % seed,
         "-E", "root_owner=0:0", "-d", tree, path, "%dK" % (size // 1024)],
        env=dict(os.environ, E2FSPROGS_FAKE_TIME=str(FIXED_MTIME)))
    commands = os.path.join(staging, "debugfs.cmds")
    wanted = sorted(p for p, data in live.items() if data)
    with open(commands, "w") as f:
        f.write("".join("blocks %s\n" % p for p in wanted))
    said = run(["debugfs", "-f", commands, path])
    extents, current = {p: [] for p in live}, None
    for line in said.splitlines():
        if line.startswith("debugfs: blocks "):
            current = line[len("debugfs: blocks "):]
        elif current and line.strip():
            for block in map(int, line.split()):
                spans = extents[current]
                if spans and spans[-1][1] == block * CLUSTER:
                    spans[-1] = (spans[-1][0], (block + 1) * CLUSTER)
                else:
                    spans.append((block * CLUSTER, (block + 1) * CLUSTER))
    return {"messages": plan.new_in + plan.out + plan.backup,
            "live": live, "kinds": kinds, "extents": extents, "data_start": 0}


# ---------------------------------------------------------------------------------------------------
# What stands on the image

def find_copies(data, messages):
    """id(message) -> (offsets where its exact bytes stand, [(offset, bytes standing, header block's
    length)] where its header block stands but the rest is cut). Each starts with its separator, so only
    the separators' offsets are tried."""
    by_start = {}
    for m in messages:
        by_start.setdefault(m.data[:48], []).append(m)
    found = {id(m): ([], []) for m in messages}
    for match in re.finditer(re.escape(SEPARATOR_START), data):
        at = match.start()
        for m in by_start.get(data[at:at + 48], ()):
            if data[at:at + len(m.data)] == m.data:
                found[id(m)][0].append(at)
                continue
            head = m.data.index(b"\r\n\r\n") + 4
            standing = common_prefix(data, at, m.data)
            if standing >= head:
                found[id(m)][1].append((at, standing, head))
    return found


def common_prefix(data, at, wanted):
    n, step = 0, CLUSTER
    while n < len(wanted) and data[at + n:at + n + step] == wanted[n:n + step]:
        n += step
    while n < len(wanted) and data[at + n] == wanted[n]:
        n += 1
    return min(n, len(wanted))


def reference_carve(data, data_start, cluster):
    """A small carving used to check the image: [(offset, bytes, complete)]. A message starts at a
    separator line at a line start or a cluster start; it ends at the next separator line, or after the
    last CR LF before bytes that are not mailbox text. It is complete when a separator follows it, or
    when only zeros (the file's slack) follow it up to the cluster's end."""
    starts = []
    for match in SEPARATOR.finditer(data):
        at = match.start()
        if at == 0 or data[at - 1:at] == b"\n" or (at - data_start) % cluster == 0:
            if re.match(rb"[\x21-\x39\x3b-\x7e]+:", data[match.end():match.end() + 80]):  # a header follows
                starts.append(at)
    carved = []
    for i, at in enumerate(starts):
        limit = starts[i + 1] if i + 1 < len(starts) else len(data)
        bad = NOT_MAIL_TEXT.search(data, at, limit)
        end = data.rfind(b"\r\n", at, bad.start() if bad else limit) + 2
        if not bad and limit < len(data):
            complete = end == limit
        else:
            boundary = end + (-(end - data_start) % cluster)
            complete = (end - data_start) % cluster != 0 and not data[end:boundary].strip(b"\x00")
        carved.append((at, data[at:end], complete))
    return carved


def check(data, manifest, data_start):
    """The reference carving must find complete exactly the messages the manifest calls whole, and find
    each cut copy cut, holding no byte that is not the message's."""
    whole = {m["sha256"]: sorted(m["offsets"]) for m in manifest["messages"] if m["whole_on_image"]}
    got, carved = {}, {}
    for at, body, complete in reference_carve(data, data_start, CLUSTER):
        carved[at] = (len(body), complete)
        if complete:
            got.setdefault(hashlib.sha256(body).hexdigest(), []).append(at)
    for m in manifest["messages"]:
        for cut in m["cut_copies"]:
            length, complete = carved.get(cut["offset"], (0, True))
            if complete or not cut["head"] <= length <= cut["standing"]:
                raise RuntimeError("the cut copy at %d carved as %s" % (cut["offset"], (length, complete)))
    wrong = sorted((k[:12], v, whole.get(k)) for k, v in got.items() if whole.get(k) != v)
    missed = sorted((k[:12], v) for k, v in whole.items() if k not in got)
    if wrong or missed:
        raise RuntimeError("the image is ambiguous: carved complete at other offsets than whole %s; "
                           "whole but missed %s" % (wrong[:5], missed[:5]))


def make_image(path, size_mib=DEFAULT_MIB, seed=1, fs="vfat"):
    """Writes the image and path + '.json'; returns the manifest."""
    if fs == "vfat" and size_mib < MIN_FAT32_MIB:
        raise ValueError("FAT32 with 4 KiB clusters needs at least %d MiB, not %d" % (MIN_FAT32_MIB, size_mib))
    size = size_mib << 20
    staging = tempfile.mkdtemp(prefix="quillmend-disk-")
    try:
        built = (build_fat if fs == "vfat" else build_ext4)(path, size, seed, staging)
    finally:
        shutil.rmtree(staging)
    with open(path, "rb") as f:
        data = f.read()
    data_start = built["data_start"]
    owner = []  # (start, end, path) of every live file's bytes on the image
    for p, spans in built["extents"].items():
        left = len(built["live"][p])
        for start, end in spans:
            owner.append((start, start + min(end - start, left), p))
            left -= end - start
    owner.sort()

    def where(offset, length):
        for start, end, p in owner:
            if start <= offset < end:
                if offset + length > end:
                    raise RuntimeError("a copy at %d runs out of %s's run" % (offset, p))
                return {"offset": offset, "file": p}
            if offset < start < offset + length:
                raise RuntimeError("a copy at %d runs from free space into %s" % (offset, p))
        return {"offset": offset, "free": True}

    unique = list({id(m): m for m in built["messages"]}.values())
    found = find_copies(data, unique)
    messages = []
    for m in unique:
        live_files = sorted({w for w in m.written_to if w in built["live"] and m.data in built["live"][w]})
        offsets, cut = found[id(m)]
        places = [where(o, len(m.data)) for o in offsets]
        messages.append({
            "id": "m%04d" % len(messages), "message_id": m.meta["message_id"], "subject": m.meta["subject"],
            "from": m.meta["from"], "date": m.meta["date"], "separator": m.meta["separator"],
            "kind": m.meta["kind"], "sha256": hashlib.sha256(m.data).hexdigest(), "length": len(m.data),
            "mailbox": m.written_to[0].split("/")[-1].split(" ")[0], "written_to": m.written_to,
            "live": bool(live_files), "live_files": live_files, "whole_on_image": bool(offsets),
            "offsets": offsets, "where": places,
            "at_cluster_start": [(o - data_start) % CLUSTER == 0 for o in offsets],
            "cut_copies": [{"offset": o, "standing": n, "head": h} for o, n, h in cut]})
        if live_files and not any(p.get("file") in live_files for p in places):
            raise RuntimeError("%s is in %s but not whole there on the image" % (m.meta["message_id"], live_files))
    files = [{"path": p, "kind": built["kinds"][p], "size": len(d), "sha256": hashlib.sha256(d).hexdigest(),
              "extents": [list(e) for e in built["extents"][p]]} for p, d in sorted(built["live"].items())]
    decoys = []
    for f in files:
        if f["kind"].startswith("decoy"):
            raw = built["live"][f["path"]]
            starts = [m.start() for m in re.finditer(re.escape(b"From "), raw)]
            decoys.append(dict(f, mentions=[image_offset(f["extents"], s) for s in starts]))
    deleted = [m for m in messages if not m["live"]]
    manifest = {
        "image": os.path.basename(path), "fs": fs, "seed": seed, "size": size, "cluster_size": CLUSTER,
        "data_start": data_start, "files": files, "decoys": decoys, "messages": messages,
        "counts": {
            "messages": len(messages), "live": len(messages) - len(deleted),
            "deleted_whole": sum(m["whole_on_image"] for m in deleted),
            "deleted_cut": sum(not m["whole_on_image"] for m in deleted),
            "deleted_whole_at_cluster_start": sum(any(m["at_cluster_start"]) for m in deleted),
            "deleted_whole_mid_cluster": sum(m["whole_on_image"] and not all(m["at_cluster_start"]) for m in deleted),
            "with_copies": sum(len(m["offsets"]) > 1 for m in messages)}}
    check(data, manifest, data_start)
    with open(path + ".json", "w", encoding="utf-8") as f:
        json.dump(manifest, f, ensure_ascii=False, indent=1)
    return manifest


def image_offset(extents, offset):
    for start, end in extents:
        if offset < end - start:
            return start + offset
        offset -= end - start
    raise ValueError("offset past the file's extents")


def make_e01(raw_path):
    """An EnCase 6 image of raw_path beside it (RAW.E01, one segment); returns its path."""
    target = os.path.splitext(raw_path)[0]
    e01 = target + ".E01"
    if os.path.exists(e01):
        os.remove(e01)
    said = run(["ewfacquire", "-u", "-q", "-t", target, "-f", "encase6", "-c", "deflate:fast", "-S", "4G",
                "-C", "quillmend", "-D", "carve test", "-e", "tests", "-E", "1", "-N", "generated", raw_path])
    md5 = hashlib.md5()
    with open(raw_path, "rb") as f:
        for block in iter(lambda: f.read(1 << 22), b""):
            md5.update(block)
    if md5.hexdigest() not in said:  # ewfacquire prints the MD5 of what it read
        raise RuntimeError("ewfacquire read something else: " + said)
    return e01


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out", help="the image to write; the manifest goes to OUT.json")
    parser.add_argument("--size-mib", type=int, default=DEFAULT_MIB,
                        help="the volume's size (FAT32: at least %d)" % MIN_FAT32_MIB)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--fs", choices=("vfat", "ext4"), default="vfat")
    parser.add_argument("--e01", action="store_true", help="also write an E01 of it beside it, with ewfacquire")
    args = parser.parse_args()
    if args.fs == "vfat" and args.size_mib < MIN_FAT32_MIB:
        parser.error("FAT32 with 4 KiB clusters needs at least %d MiB" % MIN_FAT32_MIB)
    started = time.monotonic()
    manifest = make_image(args.out, args.size_mib, args.seed, args.fs)
    if args.e01:
        make_e01(args.out)
    print("%s in %.1f s" % (json.dumps(manifest["counts"]), time.monotonic() - started), file=sys.stderr)


if __name__ == "__main__":
    main()
