#!/usr/bin/env python3
"""Mail rebuilt from the real Windows folder, read back with Python's own mail parser and compared
with the messages as they were first delivered. Usage: rebuild_test.py QUILLMEND_CLI TEST_DATA"""

import email
import email.policy
import mailbox
import os
import re
import shutil
import subprocess
import sys
import tempfile
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


class Rebuild(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.mkdtemp()
        self.folder = os.path.join(self.temp, "Eudora")
        shutil.copytree(os.path.join(DATA, "eudora-windows-7.1"), self.folder)
        self.mailbox = os.path.join(self.folder, "In.mbx")
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

    def file_bytes(self, sub, name):
        with open(os.path.join(self.folder, sub, name), "rb") as f:
            return f.read()

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
                    data = part.get_payload(decode=True)
                    # Eudora wrote text files (the signature too) with CR LF line ends.
                    found = [g for g in got if g == data or
                             (part.get_content_maintype() != "image" and g.replace(b"\r\n", b"\n") == data)]
                    self.assertTrue(found, "missing %s %s" % (part.get_content_type(), part.get_filename()))

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
                    sub = "Embedded" if part.get_content_maintype() == "image" else "attach"
                    self.assertEqual(part.get_payload(decode=True), self.file_bytes(sub, part.get_filename()))
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
        self.assertEqual([m.get_from() for m in box], ["MAILER-DAEMON Mon Dec 13 18:45:29 2010"] * 5)
        from_mbox = [parse(box.get_bytes(key)) for key in box.keys()]
        box.close()
        self.assert_whole({str(i): m for i, m in enumerate(from_mbox)})
        eml = list(self.rebuilt(out).values())
        for a, b in zip(from_mbox, eml):
            self.assertEqual([(k, str(v)) for k, v in a.items()], [(k, str(v)) for k, v in b.items()])
            # The mbox file ends its lines in LF alone.
            self.assertEqual([p.get_payload(decode=True).replace(b"\r\n", b"\n") for p in leaves(a)],
                             [p.get_payload(decode=True).replace(b"\r\n", b"\n") for p in leaves(b)])

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
        self.assertEqual([p.get_filename() for p in leaves(first) if p.get_filename()], ["Email Attachment Test"])

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
        self.assertIn("1 attachments and 0 images joined, 6 not found", err)
        for said in ['"..\\..\\secret.txt" not found', '"/dev/zero" not found', '"/etc/passwd" not found',
                     "pipe\" is not a regular file", "huge\" is larger than 1024 MB",
                     '"/dev/zero" was not followed: it is not in an attachment folder',
                     'secret.txt" was not followed: it climbs out of its folder']:
            self.assertIn(said, err)
        (message,) = self.rebuilt(out).values()
        self.assertEqual(all_defects(message), [])
        files = {p.get_filename(): p.get_payload(decode=True) for p in leaves(message) if p.get_filename()}
        self.assertEqual(files, {"kept.txt": b"reached through the line's own path\n"})
        self.assertLess(os.path.getsize(os.path.join(out, "RecoveredEmail0.eml")), 10000)
        self.assertEqual(message.get_body(("plain",)).get_content().count("Attachment Converted:"), 6)


if __name__ == "__main__":
    CLI, DATA = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
