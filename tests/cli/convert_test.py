#!/usr/bin/env python3
"""A whole Eudora folder converted to Maildir++, to a Thunderbird mbox tree and to a tree of .eml files,
read back with Python's own mailbox and email modules and compared with what the folder holds: each
message exactly once, in the folder of its mailbox (deleted mail under Recovered), with the flags,
keywords, dates, notes and attachments that its index entry and its file give it. A second run adds
nothing, and a run cut short by a signal and run again still holds each message once.
Usage: convert_test.py QUILLMEND_CLI"""

import base64
import calendar
import email
import email.policy
import email.utils
import hashlib
import mailbox
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import make_eudora_folder as generator  # noqa: E402

CLI = None
LIMIT = 120  # seconds one conversion of the small folder may take
BIG_LIMIT = 600  # and of the large one
CUT_SCALE = 60 << 20  # bytes of mailboxes in the folder whose conversion is cut short

FORMATS = {"maildir": "--maildir", "mbox": "--mbox-tree", "eml": "--eml-tree"}
MAILDIR_LETTERS = {"S": "\\Seen", "R": "\\Answered", "P": "$Forwarded", "D": "\\Draft", "F": "\\Flagged",
                   "T": "\\Deleted"}
MOZILLA_BITS = {0x0001: "\\Seen", 0x0002: "\\Answered", 0x1000: "$Forwarded"}
MOZILLA_EXPUNGED = 0x0008
NOTE = "body never downloaded from the server"
TREE_UNSAFE = re.compile(r'[/\\:*?"<>|]')


# ---------------------------------------------------------------------------------------------------
# Folder names as each format must write them

def imap_utf7(name):
    """IMAP's modified UTF-7 (RFC 3501 5.1.3)."""
    out, run = [], []

    def flush():
        if run:
            raw = "".join(run).encode("utf-16-be")
            out.append("&" + base64.b64encode(raw).decode("ascii").rstrip("=").replace("/", ",") + "-")
            run.clear()

    for c in name:
        if 0x20 <= ord(c) <= 0x7e:
            flush()
            out.append("&-" if c == "&" else c)
        else:
            run.append(c)
    flush()
    return "".join(out)


def imap_utf7_decode(name):
    def decode(match):
        text = match.group(1)
        if not text:
            return "&"
        text = text.replace(",", "/")
        return base64.b64decode(text + "=" * (-len(text) % 4)).decode("utf-16-be")

    return re.sub(r"&([^-]*)-", decode, name)


def maildir_name(name):
    """One name of a Maildir++ folder: '.' divides the levels, '/' no file name holds."""
    return imap_utf7(name.replace("/", "_").replace(".", "_"))


def maildir_folder(path):
    """The Maildir++ folder of a path of names: '' is INBOX, the top."""
    if list(path) == ["INBOX"]:
        return ""
    return ".".join(maildir_name(name) for name in path)


def mbox_file(path):
    names = ["Inbox" if name == "INBOX" else TREE_UNSAFE.sub("_", name) for name in path]
    return os.path.join(*[name + ".sbd" for name in names[:-1]], names[-1])


def eml_folder(path):
    return os.path.join(*[TREE_UNSAFE.sub("_", name) for name in path])


FOLDER_OF = {"maildir": maildir_folder, "mbox": mbox_file, "eml": eml_folder}


# ---------------------------------------------------------------------------------------------------
# Reading back what a conversion wrote

def parse(data):
    return email.message_from_bytes(data, policy=email.policy.default)


class Found:
    """One message read back: the folder it is in (as the format names it), the parsed message, and what
    the format says of its flags, keywords and time of arrival (None where the format has no place)."""

    def __init__(self, folder, message, flags=None, keywords=None, received=None, where=""):
        self.folder, self.message, self.flags, self.keywords = folder, message, flags, keywords
        self.received, self.where = received, where
        self.problems = []


def dovecot_keywords(folder):
    """The letters a..z of a Maildir folder's keywords, from its dovecot-keywords file."""
    letters = {}
    path = os.path.join(folder, "dovecot-keywords")
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                number, _, name = line.rstrip("\n").partition(" ")
                letters[chr(ord("a") + int(number))] = name
    return letters


def read_maildir(top):
    """Every message of a Maildir++ tree, its folders found through list_folders()."""
    found, problems = [], []

    def visit(box, path, name):
        missing = [sub for sub in ("cur", "new", "tmp") if not os.path.isdir(os.path.join(path, sub))]
        if missing:
            problems.append("%s has no %s" % (path, ", ".join(missing)))
            return
        if name and not os.path.isfile(os.path.join(path, "maildirfolder")):
            problems.append("%s has no maildirfolder file" % path)
        letters = dovecot_keywords(path)
        for key in box.iterkeys():
            message = box.get_message(key)
            item = Found(name, parse(box.get_bytes(key)), set(), set(), round(message.get_date()),
                         "%s/%s" % (path, key))
            info = message.get_info()
            if message.get_subdir() == "cur" and not info.startswith("2,"):
                item.problems.append("a file in cur/ whose name does not end :2,FLAGS (%r)" % info)
            letters_given = info[2:] if info.startswith("2,") else ""
            if letters_given != "".join(sorted(set(letters_given))):
                item.problems.append("flags %r are not in ASCII order, each once" % letters_given)
            for letter in letters_given:
                if letter in MAILDIR_LETTERS:
                    item.flags.add(MAILDIR_LETTERS[letter])
                elif letters.get(letter) == "$Forwarded":  # how Dovecot keeps it: it ignores P
                    item.flags.add(letters[letter])
                elif letter in letters:
                    item.keywords.add(letters[letter])
                else:
                    item.problems.append("flag letter %r is neither a flag nor in dovecot-keywords" % letter)
            found.append(item)
        for sub in box.list_folders():
            visit(box.get_folder(sub), os.path.join(path, "." + sub), name + "." + sub if name else sub)

    visit(mailbox.Maildir(top, create=False), top, "")
    return found, problems


def unescape_mboxrd(data):
    return re.sub(rb"(?m)^>(>*From )", rb"\1", data)


def separator_time(line):
    """The time of an mbox separator line 'From SENDER Www Mmm dd hh:mm:ss yyyy' (without 'From ')."""
    sender, _, when = line.partition(" ")
    return sender, calendar.timegm(time.strptime(" ".join(when.split()), "%a %b %d %H:%M:%S %Y"))


def read_mbox_tree(top):
    found, problems = [], []
    for folder, dirs, files in os.walk(top):
        for name in dirs:
            if not name.endswith(".sbd"):
                problems.append("%s: a folder whose name does not end .sbd" % os.path.join(folder, name))
            elif not os.path.isfile(os.path.join(folder, name[:-len(".sbd")])):
                problems.append("%s has no mailbox file beside it" % os.path.join(folder, name))
        for name in files:
            path = os.path.join(folder, name)
            if name.endswith(".msf"):
                continue
            box = mailbox.mbox(path, create=False)
            try:
                for key in box.iterkeys():
                    item = Found(os.path.relpath(path, top), parse(unescape_mboxrd(box.get_bytes(key))),
                                 where="%s #%d" % (path, key))
                    sender, item.received = separator_time(box.get_message(key).get_from())
                    if sender != "MAILER-DAEMON":
                        item.problems.append("separator line from %r" % sender)
                    status = item.message["X-Mozilla-Status"]
                    if status is None or not re.fullmatch(r"[0-9a-fA-F]{4}", status.strip()):
                        item.problems.append("X-Mozilla-Status is %r" % status)
                        bits = 0
                    else:
                        bits = int(status, 16)
                    if bits & MOZILLA_EXPUNGED:
                        item.problems.append("marked expunged: Thunderbird hides it")
                    status2 = item.message["X-Mozilla-Status2"]
                    if status2 is None or not re.fullmatch(r"[0-9a-fA-F]{8}", status2.strip()):
                        item.problems.append("X-Mozilla-Status2 is %r" % status2)
                    item.flags = {flag for bit, flag in MOZILLA_BITS.items() if bits & bit}
                    item.keywords = set((item.message["X-Mozilla-Keys"] or "").split())
                    # The Status: and X-Status: headers that other mbox readers go by say the same.
                    seen = "R" in (item.message["Status"] or "")
                    answered = "A" in (item.message["X-Status"] or "")
                    if seen != ("\\Seen" in item.flags) or answered != ("\\Answered" in item.flags):
                        item.problems.append("Status: %r X-Status: %r disagree with X-Mozilla-Status %s" % (
                            item.message["Status"], item.message["X-Status"], status))
                    found.append(item)
            finally:
                box.close()
    return found, problems


def read_eml_tree(top):
    found, problems = [], []
    for folder, _, files in os.walk(top):
        for name in files:
            path = os.path.join(folder, name)
            if not name.endswith(".eml"):
                problems.append("%s: not a .eml file" % path)
                continue
            with open(path, "rb") as f:
                data = f.read()
            item = Found(os.path.relpath(folder, top), parse(data), where=path)
            if data.count(b"\n") != data.count(b"\r\n") or data.count(b"\r") != data.count(b"\r\n"):
                item.problems.append("lines not all ended in CR LF")
            found.append(item)
    return found, problems


READERS = {"maildir": read_maildir, "mbox": read_mbox_tree, "eml": read_eml_tree}


def count_written(fmt, top):
    """How many messages a conversion has written so far, counted cheaply."""
    count = 0
    for folder, _, files in os.walk(top):
        for name in files:
            if fmt == "maildir" and os.path.basename(folder) in ("cur", "new"):
                count += 1
            elif fmt == "eml" and name.endswith(".eml"):
                count += 1
            elif fmt == "mbox" and not name.endswith(".msf"):
                with open(os.path.join(folder, name), "rb") as f:
                    data = f.read()
                count += data.startswith(b"From ") + data.count(b"\nFrom ")
    return count


def anything_written(fmt, top):
    """Whether a conversion has begun to write a message (a temporary file of one counts, so that a
    signal may come while a message is half written); cheap enough to ask every few milliseconds."""
    for folder, _, files in os.walk(top):
        for name in files:
            if fmt == "maildir" and os.path.basename(folder) in ("cur", "new"):
                return True
            if fmt == "eml" and name.endswith(".eml"):
                return True
            try:
                if fmt == "mbox" and not name.endswith(".msf") and os.path.getsize(os.path.join(folder, name)):
                    return True
            except FileNotFoundError:  # a temporary file gone between the listing and the look
                continue
    return False


def snapshot(top):
    """Every file below top and a hash of its bytes."""
    files = {}
    for folder, _, names in os.walk(top):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, top)] = hashlib.sha1(f.read()).hexdigest()
    return files


# ---------------------------------------------------------------------------------------------------
# What the messages must be

def wanted(expected, deleted):
    """Message-ID -> (target path, what the message must be) for one --deleted mode."""
    result = {}
    for folder in expected["folders"]:
        for message in folder["messages"]:
            if message["deleted"] and deleted == "skip":
                continue
            path = folder["path"] if deleted == "separate" else message["home"]
            result[message["message_id"]] = (tuple(path), message)
    return result


def leaves(message):
    return [p for p in message.walk() if not p.is_multipart()]


def text_of(message):
    body = message.get_body(("plain",))
    return None if body is None else body.get_content().replace("\r\n", "\n")


def body_digest(text):
    return hashlib.sha1(text.rstrip("\n").encode("utf-8")).hexdigest()


def lf(data):
    return data.replace(b"\r\n", b"\n")


class Checks:
    """Reading back a converted folder and comparing it with what the generator wrote."""
    eudora = expected = None

    def convert(self, fmt, out, *more, timeout=LIMIT, eudora=None):
        done = subprocess.run([CLI, "convert", eudora or self.eudora, FORMATS[fmt], out, *more],
                              capture_output=True, timeout=timeout)
        return done.returncode, (done.stdout + done.stderr).decode("utf-8", "replace")

    def assert_converted(self, code, said, dry=False):
        """Exit status 0, or 1 when an attachment of the folder is gone: every message was written."""
        allowed = (0, 1) if self.expected["attachments_missing"] else (0,)
        self.assertIn(code, allowed, said)
        if self.expected["attachments_missing"] and not dry:
            self.assertIn(generator.ATTACHMENT_GONE, said, "the attachment not found is not named")

    def assert_holds(self, fmt, out, deleted="separate", expected=None):
        """The converted tree holds each message once, where and as it must."""
        expected = expected or self.expected
        found, problems = READERS[fmt](out)
        self.assertEqual(problems, [])
        want = wanted(expected, deleted)
        folder_of = FOLDER_OF[fmt]
        seen, ids = {}, []
        for item in found:
            message_id = str(item.message["Message-ID"] or "").strip()
            self.assertIn(message_id, want, "%s is not a message of the folder" % item.where)
            seen.setdefault(message_id, []).append(item.where)
        twice = sorted((k, v) for k, v in seen.items() if len(v) > 1)
        self.assertFalse(twice, "%d messages written more than once, as %s" % (len(twice), twice[:3]))
        lost = sorted(set(want) - set(seen))
        self.assertFalse(lost, "%d messages not written: %s" % (len(lost), lost[:10]))
        failures = []  # one line each, the first few shown: a fault shared by thousands says so once
        for item in found:
            message_id = str(item.message["Message-ID"]).strip()
            path, message = want[message_id]
            try:
                self.assertEqual(item.problems, [])
                self.assertEqual(item.folder, folder_of(path), "in the wrong folder")
                self.assert_message(item, message, deleted)
            except AssertionError as error:
                failures.append("%s %r (%s): %s" % (message_id, message["subject"], item.where, error))
            ids.append(item.message["X-Quillmend-Id"])
        if failures:
            self.fail("%s: %d of %d messages are wrong:\n%s" % (fmt, len(failures), len(found),
                                                                "\n".join(failures[:10])))
        self.assertEqual(len(set(ids)), len(ids), "two messages share an X-Quillmend-Id")
        return found

    def assert_message(self, item, message, deleted):
        got = item.message
        self.assertEqual([(p.get_content_type(), d) for p in got.walk() for d in p.defects], [])
        self.assertEqual(str(got["Subject"]), message["subject"])
        self.assertRegex(got["X-Quillmend-Id"] or "", r"^<?[0-9a-fA-F]{8,}>?$")
        self.assertIsNotNone(got["Date"], "no Date: line")
        self.assertEqual(int(email.utils.parsedate_to_datetime(got["Date"]).timestamp()), message["date"],
                         "Date: %s" % got["Date"])
        self.assertEqual(len(got.get_all("Date")), 1)
        notes = got.get_all("X-Quillmend-Note") or []
        if message["never_downloaded"]:
            self.assertIn(NOTE, [str(n) for n in notes])
        else:
            self.assertNotIn(NOTE, [str(n) for n in notes])
        if item.flags is not None:
            want = set(message["flags"])
            if item.message["X-Mozilla-Status"] is not None:  # an mbox: no place for drafts
                want.discard("\\Draft")
            self.assertEqual(item.flags, want)
        if item.keywords is not None:
            want = set(message["keywords"])
            if message["deleted"] and deleted == "same":
                want.add(generator.RECOVERED)
            extra = item.keywords - want
            if message["deleted"] and deleted == "separate":
                extra.discard(generator.RECOVERED)
            self.assertEqual((want - item.keywords, extra), (set(), set()), "keywords %s" % item.keywords)
        if item.received is not None:
            self.assertEqual(item.received, message["received"],
                             "received %s, not %s" % (time.asctime(time.gmtime(item.received)),
                                                      time.asctime(time.gmtime(message["received"]))))
        text = text_of(got)
        self.assertIsNotNone(text, "no text/plain body")
        if message["body_sha1"]:
            self.assertEqual(body_digest(text), message["body_sha1"], "the body changed:\n" + text[:2000])
        files = {p.get_filename(): p for p in leaves(got) if p.get_filename()}
        for attachment in message["attachments"]:
            name = attachment["name"]
            line = generator.ATTACHMENT_LINE % name
            if attachment["found"]:
                self.assertIn(name, files, "attachment not joined")
                with open(os.path.join(self.attachments, name), "rb") as f:
                    self.assertEqual(lf(files[name].get_payload(decode=True)), lf(f.read()))
                self.assertNotIn(line, text)
            else:
                self.assertNotIn(name, files)
                self.assertIn(name, text, "the line naming the lost attachment is gone")

    @property
    def attachments(self):
        return os.path.join(self.eudora, "attach")


class Converted(Checks, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.mkdtemp(prefix="quillmend-convert-")
        cls.eudora = os.path.join(cls.temp, "Eudora")
        cls.expected = generator.generate(cls.eudora)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.temp)

    def setUp(self):
        self.out = tempfile.mkdtemp(dir=self.temp)

    def tearDown(self):
        shutil.rmtree(self.out)

    def test_each_format_holds_every_message_once_and_a_second_run_adds_nothing(self):
        for fmt in FORMATS:
            with self.subTest(fmt=fmt):
                out = os.path.join(self.out, fmt)
                code, said = self.convert(fmt, out)
                self.assert_converted(code, said)
                self.assert_holds(fmt, out)
                before = snapshot(out)
                again, said = self.convert(fmt, out)
                self.assertEqual(again, code, said)
                self.assertEqual(snapshot(out), before, "the second run changed the tree")

    def test_deleted_mail_separate_beside_the_live_or_left_out(self):
        deleted = sum(m["deleted"] for f in self.expected["folders"] for m in f["messages"])
        self.assertGreater(deleted, 0)
        for mode in ("separate", "same", "skip"):
            with self.subTest(deleted=mode):
                out = os.path.join(self.out, mode)
                code, said = self.convert("maildir", out, "--deleted", mode)
                self.assert_converted(code, said)
                found = self.assert_holds("maildir", out, mode)
                self.assertEqual(len(found), len(wanted(self.expected, mode)))
                recovered = [f.folder for f in found if f.folder.split(".")[0] == generator.RECOVERED]
                self.assertEqual(len(recovered), deleted if mode == "separate" else 0)

    def test_the_maildir_tree_as_dovecot_lays_it_out(self):
        out = os.path.join(self.out, "maildir")
        self.assert_converted(*self.convert("maildir", out))
        self.assertTrue(os.path.isdir(os.path.join(out, "cur")), "INBOX is not the top of the tree")
        # Each folder is a directory of the top, in modified UTF-7, '.' between its names.
        names = sorted(n for n in os.listdir(out) if n.startswith("."))
        for path in [f["path"] for f in self.expected["folders"] if f["path"] != ["INBOX"]]:
            self.assertIn("." + maildir_folder(path), names)
        self.assertEqual([n for n in names if not os.path.isdir(os.path.join(out, n))], [])

    def test_names_in_modified_utf7(self):
        # The encoder this test names folders with, against RFC 3501's example and one of the folder's.
        for name, encoded in (("~peter/mail/\u53f0\u5317/\u65e5\u672c\u8a9e", "~peter/mail/&U,BTFw-/&ZeVnLIqe-"),
                              ("Caf\u00e9 Cr\u00e8me", "Caf&AOk- Cr&AOg-me"), ("R&D", "R&-D"), ("plain", "plain")):
            with self.subTest(name=name):
                self.assertEqual(imap_utf7(name), encoded)
                self.assertEqual(imap_utf7_decode(encoded), name)

    def test_dry_run_writes_nothing_and_names_the_mailboxes(self):
        for fmt in FORMATS:
            with self.subTest(fmt=fmt):
                out = os.path.join(self.out, fmt)
                code, said = self.convert(fmt, out, "--dry-run")
                self.assert_converted(code, said, dry=True)
                written = [os.path.join(d, n) for d, _, names in os.walk(out) for n in names]
                self.assertEqual(written, [])
                # The table names the mailboxes (those whose names no format changes, and short enough
                # for any column).
                for box in self.expected["mailboxes"]:
                    name = box["path"][-1]
                    if box["path"] not in (["INBOX"], ["Sent"]) and "/" not in name and len(name) <= 16:
                        self.assertIn(name, said)

    def test_the_attachment_that_was_missing_is_joined_once_its_file_is_back(self):
        eudora = os.path.join(self.out, "Eudora")
        shutil.copytree(self.eudora, eudora)
        with open(os.path.join(eudora, "attach", generator.ATTACHMENT_GONE), "wb") as f:
            f.write(b"\xd0\xcf\x11\xe0 a spreadsheet's bytes \x00\x01\x02\r\n")
        out = os.path.join(self.out, "eml")
        code, said = self.convert("eml", out, eudora=eudora)
        self.assertEqual(code, 0, said)
        found, _ = read_eml_tree(out)
        joined = [p for item in found for p in leaves(item.message)
                  if p.get_filename() == generator.ATTACHMENT_GONE]
        self.assertEqual(len(joined), self.expected["attachments_missing"])
        for part in joined:
            self.assertEqual(part.get_payload(decode=True), b"\xd0\xcf\x11\xe0 a spreadsheet's bytes \x00\x01\x02\r\n")

    def test_attachments_from_a_folder_the_user_names(self):
        eudora = os.path.join(self.out, "Eudora")
        shutil.copytree(self.eudora, eudora)
        moved = os.path.join(self.out, "saved attachments")
        shutil.move(os.path.join(eudora, "attach"), moved)
        out = os.path.join(self.out, "eml")
        code, said = self.convert("eml", out, "--attachments", moved, eudora=eudora)
        self.assert_converted(code, said)
        found, _ = read_eml_tree(out)
        joined = [p for item in found for p in leaves(item.message) if p.get_filename() == generator.ATTACHMENT_FOUND]
        self.assertEqual(len(joined), self.expected["attachments_found"])
        for part in joined:
            self.assertEqual(lf(part.get_payload(decode=True)), lf(generator.ATTACHMENT_FILE))


class CutShort(Checks, unittest.TestCase):
    """A conversion stopped part way (Ctrl-C, or killed outright) and run again to the end."""

    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.mkdtemp(prefix="quillmend-convert-cut-")
        cls.eudora = os.path.join(cls.temp, "Eudora")
        cls.expected = generator.generate(cls.eudora, seed=7, scale=CUT_SCALE)
        cls.total = sum(len(f["messages"]) for f in cls.expected["folders"])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.temp)

    def cut(self, fmt, out, sig):
        """Starts a conversion and sends sig once the first messages are written."""
        process = subprocess.Popen([CLI, "convert", self.eudora, FORMATS[fmt], out],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            deadline = time.monotonic() + BIG_LIMIT
            while not anything_written(fmt, out):
                self.assertIsNone(process.poll(), "the conversion ended before it could be cut short")
                self.assertLess(time.monotonic(), deadline, "nothing was written")
                time.sleep(0.002)
            process.send_signal(sig)
            said = b"".join(process.communicate(timeout=BIG_LIMIT)).decode("utf-8", "replace")
        finally:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=LIMIT)
        return process.returncode, said

    def test_run_again_after_a_cut_holds_each_message_once(self):
        for fmt in FORMATS:
            for sig in (signal.SIGINT, signal.SIGKILL):
                with self.subTest(fmt=fmt, signal=sig.name):
                    out = os.path.join(self.temp, "%s-%s" % (fmt, sig.name))
                    code, said = self.cut(fmt, out, sig)
                    self.assertNotEqual(code, 0, "a conversion cut short said it was done: " + said)
                    partial = count_written(fmt, out)
                    self.assertLess(partial, self.total, "the cut came after the last message")
                    code, said = self.convert(fmt, out, timeout=BIG_LIMIT)
                    self.assert_converted(code, said)
                    self.assert_holds(fmt, out)
                    if fmt == "maildir" and sig == signal.SIGINT:  # stopped in good order: nothing half done
                        for folder, dirs, names in os.walk(out):
                            if os.path.basename(folder) == "tmp":
                                self.assertEqual(names, [], folder)
                    shutil.rmtree(out)


if __name__ == "__main__":
    CLI = sys.argv[1]
    unittest.main(argv=sys.argv[:1] + sys.argv[2:], verbosity=2)  # after the CLI: which tests, if given
