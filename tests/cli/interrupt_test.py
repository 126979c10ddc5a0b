#!/usr/bin/env python3
"""Ctrl-C and termination during an export: the tool stops as the window's Cancel does, with whole
messages kept, no temporary file left, the report printed, and exit status 130 or 143; a temporary
file that a killed export left is removed by the next export of its kind.
Usage: interrupt_test.py QUILLMEND_CLI"""

import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

CLI = None
LIMIT = 60  # seconds any one run may take


def write_mailbox(path, messages=20000):
    """A mailbox large enough that an export is still running when the signal comes."""
    with open(path, "wb") as out:
        for i in range(messages):
            out.write(b"From ???@??? Mon Dec 13 18:45:29 2010\r\n")
            out.write(b"From: a@example.org\r\nSubject: message %d\r\n\r\n" % i)
            out.write((b"line of message %d\r\n" % i) * 40)


def temporaries(folder):
    return [name for name in os.listdir(folder) if name.endswith(".part")]


class Interrupt(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.mailbox = os.path.join(self.dir.name, "Big.mbx")
        write_mailbox(self.mailbox)
        with open(self.mailbox, "rb") as f:
            self.bytes = f.read()

    def tearDown(self):
        self.dir.cleanup()

    def interrupt(self, args, folder, sig):
        """Runs the tool, sends sig once its first temporary file appears, and returns the result."""
        process = subprocess.Popen([CLI] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline = time.monotonic() + LIMIT
        while not (os.path.isdir(folder) and temporaries(folder)):
            self.assertIsNone(process.poll(), "the export ended before the signal could come")
            self.assertLess(time.monotonic(), deadline, "no temporary file appeared")
            time.sleep(0.001)
        process.send_signal(sig)
        out, err = process.communicate(timeout=LIMIT)
        return process.returncode, out.decode(), err.decode()

    def test_files_export_keeps_whole_messages_only(self):
        for sig, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
            with self.subTest(signal=sig):
                folder = os.path.join(self.dir.name, "out-%d" % sig)
                code, out, err = self.interrupt(["export", self.mailbox, folder], folder, sig)
                self.assertEqual(code, status, err)
                self.assertIn("stopped on request", err)
                self.assertRegex(out, r"^Exported \d+ of 20000 messages")
                self.assertEqual(temporaries(folder), [])
                written = sorted(os.listdir(folder))
                self.assertLess(len(written), 20000)
                for name in written[:: max(1, len(written) // 50)]:
                    with open(os.path.join(folder, name), "rb") as f:
                        data = f.read()
                    self.assertTrue(data.startswith(b"From ???@??? "), name)
                    self.assertIn(data, self.bytes, name)
                # Run again to the end: every message exactly once, none twice under another name.
                subprocess.run([CLI, "export", self.mailbox, folder], check=True, capture_output=True,
                               timeout=LIMIT)
                again = os.listdir(folder)
                self.assertEqual(len(again), 20000)
                self.assertEqual(sorted(again), sorted("RecoveredEmail%d.eml" % i for i in range(20000)))

    def test_mbox_export_keeps_the_messages_written(self):
        target = os.path.join(self.dir.name, "all.mbox")
        code, out, err = self.interrupt(["export", self.mailbox, "--mbox", target], self.dir.name, signal.SIGINT)
        self.assertEqual(code, 130, err)
        self.assertEqual(temporaries(self.dir.name), [])
        with open(target, "rb") as f:
            data = f.read()
        count = data.count(b"\nFrom MAILER-DAEMON ") + data.startswith(b"From MAILER-DAEMON ")
        self.assertRegex(out, r"^Exported %d of 20000 messages" % count)

    def test_a_killed_exports_temporary_file_goes_with_the_next_export(self):
        small = os.path.join(self.dir.name, "Small.mbx")
        with open(small, "wb") as f:
            f.write(self.bytes[: self.bytes.index(b"From ???@??? ", 10)])
        folder = os.path.join(self.dir.name, "out")
        os.mkdir(folder)
        stale = [os.path.join(folder, n) for n in (".RecoveredEmail7.eml.0.part", ".all.mbox.0.part")]
        other = os.path.join(folder, ".notes.txt.0.part")  # no export's: left alone
        for path in stale + [other]:
            with open(path, "wb") as f:
                f.write(b"left by an export that was killed")
        subprocess.run([CLI, "export", small, folder], check=True, capture_output=True, timeout=LIMIT)
        self.assertFalse(os.path.exists(stale[0]))
        self.assertTrue(os.path.exists(stale[1]), "an eml export leaves the mbox export's files alone")
        subprocess.run([CLI, "export", small, "--mbox", os.path.join(folder, "all.mbox")], check=True,
                       capture_output=True, timeout=LIMIT)
        self.assertFalse(os.path.exists(stale[1]))
        self.assertTrue(os.path.exists(other))


if __name__ == "__main__":
    CLI = sys.argv.pop(1)
    unittest.main()
