#!/usr/bin/env python3
"""Mail rebuilt from the real Windows and Mac folders, read back with Python's own mail parser and
with neomutt, and compared with the messages as they were first delivered.
Usage: rebuild_test.py QUILLMEND_CLI TEST_DATA"""

import email
import email.policy
import mailbox
import os
import pty
import select
import signal
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

CLI = DATA = None
CUT = 30  # seconds any one export may take: a device or a FIFO read would never end


def parse(data):
    return email.message_from_bytes(data, policy=email.policy.default)


def normal(text):
    return re.sub(r"\s+", " ", text.replace("\r\n", "\n")).strip()


def leaves(message):
    return [p for p in message.walk() if not p.is_multipart()]


def moved_out(message):
    """The parts of a delivered message that Eudora moved into files."""
    return [p for p in leaves(message)
            if p.get_filename() or p["Content-ID"] or p.get_content_maintype() != "text"]


def all_defects(message):
    return [(p.get_content_type(), d) for p in message.walk() for d in p.defects]


def tagless(text):
    return normal(re.sub(r"<[^>]*>", " ", text))


def neomutt_pages(mbox, count, home):
    """Each message of mbox as neomutt's pager shows it, HTML through a tag stripper."""
    out = os.path.join(home, "pages")
    pager = os.path.join(home, "pager")
    with open(pager, "w") as f:
        f.write('#!/bin/sh\ncat "$1" >> "%s"\necho "=====PAGE=====" >> "%s"\n' % (out, out))
    os.chmod(pager, 0o755)
    with open(os.path.join(home, "mailcap"), "w") as f:
        f.write("text/html; sed -e 's/<[^>]*>/ /g' %s; copiousoutput\n")
    rc = os.path.join(home, "muttrc")
    with open(rc, "w") as f:
        f.write('set folder="%s"\nset pager="%s"\nset prompt_after=no\nset mailcap_path="%s"\nauto_view text/html\n'
                'set header_cache=""\nset sort=mailbox-order\nset wait_key=no\n' % (home, pager, os.path.join(home, "mailcap")))
    keys = "<display-message><next-undeleted>" * count + "<quit>"
    pid, fd = pty.fork()
    if pid == 0:
        os.environ.update(TERM="xterm", HOME=home)
        os.execvp("neomutt", ["neomutt", "-n", "-F", rc, "-R", "-f", mbox, "-e", "push " + keys])
    deadline = time.monotonic() + CUT
    try:
        while time.monotonic() < deadline:
            if select.select([fd], [], [], 1)[0]:
                try:
                    if not os.read(fd, 65536):
                        break
                except OSError:  # the terminal closes with neomutt
                    break
        else:
            os.kill(pid, signal.SIGKILL)
            raise AssertionError("neomutt did not finish within %d s" % CUT)
    finally:
        os.waitpid(pid, 0)
        os.close(fd)
    with open(out, encoding="utf-8", errors="replace") as f:
        return f.read().split("=====PAGE=====\n")[:-1]


class Folder:
    """One real mail folder, copied to a temporary folder, and what its rebuilt mail must hold."""
    source = mailbox = attach = embedded = None
    mac = False

    def setUp(self):
        self.temp = tempfile.mkdtemp()
        self.folder = os.path.join(self.temp, "Eudora")
        shutil.copytree(os.path.join(DATA, self.source), self.folder)
        for sub, _, names in os.walk(self.folder):
            for name in names:  # ':' cannot be checked out on Windows: the data says %3A
                if "%3A" in name:
                    os.rename(os.path.join(sub, name), os.path.join(sub, name.replace("%3A", ":")))
        self.mailbox = os.path.join(self.folder, self.mailbox)
        original = shutil.copy(os.path.join(DATA, "original-delivery.mbox"), self.temp)  # mbox opens it to write
        box = mailbox.mbox(original, factory=lambda f: parse(f.read()), create=False)
        self.originals = {m["Message-ID"]: m for m in box}
        box.close()

    def tearDown(self):
        shutil.rmtree(self.temp)

    def export(self, *args):
        done = subprocess.run([CLI, "export", *args], capture_output=True, timeout=CUT)
        return done.returncode, done.stderr.decode("utf-8", "replace")

    def rebuilt(self, out):
        names = sorted(n for n in os.listdir(out) if n.endswith(".eml"))
        result = {}
        for name in names:
            with open(os.path.join(out, name), "rb") as f:
                result[name] = parse(f.read())
        return result

    def separator_dates(self):
        with open(self.mailbox, "rb") as f:
            lines = re.split(rb"\r\n|\r|\n", f.read())
        return ["MAILER-DAEMON " + l[len(b"From ???@??? "):].decode() for l in lines if l.startswith(b"From ???@??? ")]

    def file_bytes(self, part):
        """The file a part was made of, as the part must hold it."""
        sub = self.embedded if part.get_content_maintype() == "image" else self.attach
        name = part.get_filename().replace("/", ":") if self.mac else part.get_filename()
        if part.get_content_type() == "application/pgp-signature":  # sent under a name mail programs know
            self.assertEqual(name, "signature.asc")
            name = self.signature
        with open(os.path.join(self.folder, sub, name), "rb") as f:
            data = f.read()
        textual = part.get_content_maintype() == "text" or part.get_content_type() == "application/pgp-signature"
        if self.mac and textual:  # Mac Eudora saved text with CR ends
            data = re.sub(rb"\r\n?", b"\r\n", data)
        return data

    def same_file(self, got, part):
        """A rebuilt part holds the bytes of the delivered one; text in its own line ends."""
        want = part.get_payload(decode=True)
        if got == want or part.get_content_maintype() == "image":
            return got == want
        got = got.replace(b"\r\n", b"\n")
        # Mac Eudora saved a text file with the line end that MIME gives to the boundary after it.
        return got == want or (self.mac and got == want + b"\n")

    def assert_whole(self, messages):
        """Each message parses cleanly, its body reads as the delivered one, and every part that
        Eudora moved out is back with the bytes of the delivered part."""
        self.assertEqual(len(messages), 5)
        for name, message in messages.items():
            with self.subTest(message=name):
                self.assertEqual(all_defects(message), [])
                self.assertIsNotNone(message["Date"])
                original = self.originals[message["Message-ID"]]
                body = message.get_body(("html", "plain"))
                self.assertIsNotNone(body)
                want = original.get_body(("html", "plain"))
                self.assertEqual(normal(body.get_content()), normal(want.get_content()))
                got = [p.get_payload(decode=True) for p in leaves(message) if p is not body]
                for part in moved_out(original):
                    self.assertTrue(any(self.same_file(g, part) for g in got),
                                    "missing %s %s" % (part.get_content_type(), part.get_filename()))

    def test_rebuilt_messages_are_the_delivered_ones(self):
        out = os.path.join(self.temp, "out")
        code, err = self.export(self.mailbox, out, "--rebuild")
        self.assertEqual(code, 0, err)
        self.assertIn("5 messages rebuilt, 3 attachments and 2 images joined, 0 not found, 0 failed", err)
        messages = self.rebuilt(out)
        self.assert_whole(messages)
        # Every file part holds the bytes of its file exactly.
        for message in messages.values():
            for part in leaves(message):
                if part.get_filename():
                    self.assertEqual(part.get_payload(decode=True), self.file_bytes(part), part.get_filename())
        dental = messages["RecoveredEmail2.eml"]
        self.assertIn("cid:merged_girl.jpg", dental.get_body(("html",)).get_content())
        images = [p for p in leaves(dental) if p.get_content_type() == "image/jpeg"]
        self.assertEqual([p["Content-ID"] for p in images], ["<merged_girl.jpg>"])
        self.assertEqual(dental.get_content_type(), "multipart/related")

    def test_mbox_holds_the_same_messages(self):
        out = os.path.join(self.temp, "out")
        self.assertEqual(self.export(self.mailbox, out, "--rebuild")[0], 0)
        target = os.path.join(self.temp, "all.mbox")
        code, err = self.export(self.mailbox, "--mbox", target)
        self.assertEqual(code, 0, err)
        box = mailbox.mbox(target, create=False)
        self.assertEqual([m.get_from() for m in box], self.separator_dates())
        from_mbox = [parse(box.get_bytes(key)) for key in box.keys()]
        box.close()
        self.assert_whole({str(i): m for i, m in enumerate(from_mbox)})
        eml = list(self.rebuilt(out).values())
        for a, b in zip(from_mbox, eml):
            self.assertEqual([(k, str(v)) for k, v in a.items()], [(k, str(v)) for k, v in b.items()])
            # The mbox file ends its lines in LF alone.
            self.assertEqual([p.get_payload(decode=True).replace(b"\r\n", b"\n") for p in leaves(a)],
                             [p.get_payload(decode=True).replace(b"\r\n", b"\n") for p in leaves(b)])

    def test_neomutt_shows_each_message_whole(self):
        self.assertTrue(shutil.which("neomutt"), "neomutt is not installed (scripts/setup.sh installs it)")
        target = os.path.join(self.temp, "all.mbox")
        self.assertEqual(self.export(self.mailbox, "--mbox", target)[0], 0)
        box = mailbox.mbox(target, create=False)
        messages = [parse(box.get_bytes(key)) for key in box.keys()]
        box.close()
        home = os.path.join(self.temp, "neomutt")
        os.mkdir(home)
        pages = neomutt_pages(target, len(messages), home)
        self.assertEqual(len(pages), 5)
        for page, message in zip(pages, messages):
            with self.subTest(subject=message["Subject"]):
                self.assertIn("Subject: " + message["Subject"], page)
                for marker in ("<x-html>", "<x-flowed>", "x-stuff-for-pete", "Attachment Converted", "Related:"):
                    self.assertNotIn(marker.lower(), page.lower())
                want = tagless(self.originals[message["Message-ID"]].get_body(("html", "plain")).get_content())
                self.assertIn(want[:200], tagless(page))
                for part in leaves(message):
                    if part.get_filename():
                        self.assertRegex(page, r"\[-- Attachment #\d+: %s --\]\n\[-- Type: %s[;,]" %
                                         (re.escape(part.get_filename()), re.escape(part.get_content_type())))


class Windows(Folder, unittest.TestCase):
    source, mailbox, attach, embedded = "eudora-windows-7.1", "In.mbx", "attach", "Embedded"
    signature = "Email Attachment Test"  # the PGP signature's file, named after its message

    def test_moved_and_removed_attachments(self):
        # The folder moved: the lines' c:\ paths lead nowhere, the files are found by name. One of
        # them is gone: named, and its line stays in the text.
        os.remove(os.path.join(self.folder, "attach", "stevan_white"))
        out = os.path.join(self.temp, "out")
        code, err = self.export(self.mailbox, out, "--rebuild")
        self.assertEqual(code, 1)
        self.assertIn('RecoveredEmail0.eml: "c:\\users\\broccol\\appdata\\roaming\\qualcomm\\eudora\\attach\\stevan_white" not found', err)
        self.assertIn("2 attachments and 2 images joined, 1 not found", err)
        first = self.rebuilt(out)["RecoveredEmail0.eml"]
        self.assertIn("Attachment Converted:", first.get_body(("plain",)).get_content())
        self.assertIn("stevan_white", first.get_body(("plain",)).get_content())
        self.assertEqual([p.get_filename() for p in leaves(first) if p.get_filename()], ["signature.asc"])

    def test_attachments_in_a_folder_the_user_names(self):
        elsewhere = os.path.join(self.temp, "saved")
        shutil.move(os.path.join(self.folder, "attach"), elsewhere)
        out = os.path.join(self.temp, "out")
        self.assertEqual(self.export(self.mailbox, out, "--rebuild")[0], 1)
        code, err = self.export(self.mailbox, os.path.join(self.temp, "out2"), "--rebuild", "--attachments", elsewhere)
        self.assertEqual(code, 0, err)
        self.assert_whole(self.rebuilt(os.path.join(self.temp, "out2")))

    def test_hostile_marker_lines(self):
        attach = os.path.join(self.folder, "attach")
        os.mkfifo(os.path.join(attach, "pipe"))
        with open(os.path.join(attach, "huge"), "wb") as f:
            f.truncate((1 << 30) + 1)  # sparse: costs no disk
        with open(os.path.join(self.temp, "secret.txt"), "wb") as f:
            f.write(b"not for the export")
        other = os.path.join(self.temp, "elsewhere", "attach")
        os.makedirs(other)
        with open(os.path.join(other, "kept.txt"), "wb") as f:
            f.write(b"reached through the line's own path\n")
        lines = ['"..\\..\\secret.txt"', "/dev/zero", "/etc/passwd", '"%s"' % os.path.join(attach, "pipe"),
                 os.path.join(attach, "huge"), "/dev/../%s" % os.path.join(other, "kept.txt"),
                 os.path.join(other, "kept.txt")]
        text = ("From ???@??? Mon Dec 13 18:45:29 2010\r\nFrom: a@example.com\r\nSubject: hostile\r\n\r\nHello\r\n" +
                "".join("Attachment Converted: %s\r\n" % line for line in lines))
        hostile = os.path.join(self.folder, "Hostile.mbx")
        with open(hostile, "wb") as f:
            f.write(text.encode())
        out = os.path.join(self.temp, "out")
        code, err = self.export(hostile, out, "--rebuild")
        self.assertEqual(code, 1)
        # An attach/ folder elsewhere on the system is not the mailbox's: the line's own path is not followed.
        self.assertIn("0 attachments and 0 images joined, 7 not found", err)
        for said in ['"..\\..\\secret.txt" not found', '"/dev/zero" not found', '"/etc/passwd" not found',
                     "pipe\" is not a regular file", "huge\" is larger than 1024 MB",
                     '"/dev/zero" was not followed: it is not in an attachment folder',
                     'secret.txt" was not followed: it climbs out of its folder',
                     'kept.txt" was not followed: it is not in an attachment folder of the mailbox\'s Eudora folder']:
            self.assertIn(said, err)
        (message,) = self.rebuilt(out).values()
        self.assertEqual(all_defects(message), [])
        files = {p.get_filename(): p.get_payload(decode=True) for p in leaves(message) if p.get_filename()}
        self.assertEqual(files, {})
        self.assertLess(os.path.getsize(os.path.join(out, "RecoveredEmail0.eml")), 10000)
        self.assertEqual(message.get_body(("plain",)).get_content().count("Attachment Converted:"), 7)


class Mac(Folder, unittest.TestCase):
    source, mailbox, attach, embedded = "eudora-mac-6.2.4", "Mail Folder/In", "Attachments Folder", "Parts Folder"
    signature = "Untitled"
    mac = True


if __name__ == "__main__":
    CLI, DATA = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
