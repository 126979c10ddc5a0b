#!/usr/bin/env python3
"""Mail carved from disk images that make_disk_image.py wrote, compared with its manifest: every message
whose bytes stand whole on the image comes back complete and byte for byte, nothing cut is called
complete, identical copies are listed once with every offset, the decoys give nothing, copies inside
live files and in free space are told apart (and mail no live mailbox holds is called lost), an E01 of
the image gives the same list, and the image is never written to.
Usage: carve_test.py QUILLMEND_CLI"""

import email
import email.policy
import hashlib
import json
import mailbox
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import make_disk_image as generator  # noqa: E402

CLI = None
LIMIT = 120  # seconds one carving of an image may take
SECOND_SEPARATOR = re.compile(rb"\n" + generator.SEPARATOR.pattern)
FILE_NAME = re.compile(r"RecoveredEmail(\d+)(\.incomplete)?\.eml")


def carve(source, *args):
    """Exit status, stdout and stderr of one carving; a carving that outlasts LIMIT is killed."""
    try:
        done = subprocess.run([CLI, "carve", source, *args], capture_output=True, timeout=LIMIT)
    except subprocess.TimeoutExpired:
        return None, b"", b"killed after %d s" % LIMIT
    return done.returncode, done.stdout, done.stderr


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 22), b""):
            digest.update(block)
    return digest.hexdigest()


def read_folder(folder):
    """File name -> bytes of everything a carving wrote into folder."""
    found = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            found[name] = f.read()
    return found


class Carved:
    """An image made once per class, carved lazily once per set of options."""
    fs, size_mib = "vfat", generator.DEFAULT_MIB

    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.mkdtemp(prefix="quillmend-carve-")
        cls.image = os.path.join(cls.temp, "disk.img")
        cls.manifest = generator.make_image(cls.image, cls.size_mib, seed=1, fs=cls.fs)
        os.chmod(cls.image, 0o444)
        cls.image_sha256 = sha256_of(cls.image)
        with open(cls.image, "rb") as f:
            cls.data = f.read()
        cls.runs = {}
        cls.whole = {m["sha256"]: m for m in cls.manifest["messages"] if m["whole_on_image"]}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.temp)

    def run_once(self, name, *args, source=None):
        if name not in self.runs:
            self.runs[name] = carve(source or self.image, *args)
        return self.runs[name]

    def listing(self, source=None, name="json"):
        code, out, err = self.run_once(name, "--format", "json", source=source)
        self.assertEqual(code, 0, err.decode("utf-8", "replace"))
        listing = json.loads(out)
        self.assertEqual([entry["index"] for entry in listing], list(range(len(listing))))
        return listing

    def assert_written(self, code, err):
        """Exit 0, or 1 when the only trouble was attachment files not found (none are on the image)."""
        text = err.decode("utf-8", "replace")
        if code == 1 and "rebuilt" in text:
            self.assertIn(" 0 failed", text)
            return
        self.assertEqual(code, 0, text)

    def written(self, name, *args):
        """The files that a carving into a new folder wrote."""
        folder = os.path.join(self.temp, name)
        code, _, err = self.run_once(name, folder, *args)
        self.assert_written(code, err)
        return read_folder(folder)

    def by_sha(self):
        return {entry["sha256"]: entry for entry in self.listing()}

    def assert_each(self, items, check):
        """check(item) for each (label, item); one line a failure, the first few shown: a fault shared by
        a hundred messages says so once."""
        failures = []
        for label, item in items:
            try:
                check(item)
            except AssertionError as error:
                failures.append("%s: %s" % (label, str(error).splitlines()[0][:300]))
        if failures:
            self.fail("%d of %d wrong:\n%s" % (len(failures), len(items), "\n".join(failures[:10])))


class FatImage(Carved, unittest.TestCase):
    def test_each_message_listed_once_with_its_copies(self):
        listing = self.listing()
        self.assertEqual(len({e["sha256"] for e in listing}), len(listing), "a message listed twice")

        def check(entry):
            self.assertEqual(entry["offsets"], sorted(entry["offsets"]))
            self.assertEqual((entry["offset"], entry["copies"]), (entry["offsets"][0], len(entry["offsets"])))
            self.assertEqual([w["offset"] for w in entry["where"]], entry["offsets"])
            for offset in entry["offsets"]:
                found = self.data[offset:offset + entry["length"]]
                self.assertEqual(hashlib.sha256(found).hexdigest(), entry["sha256"], "not the bytes at %d" % offset)

        self.assert_each([(e["index"], e) for e in listing], check)

    def test_every_whole_message_comes_back_complete_at_every_offset(self):
        self.assertGreaterEqual(self.manifest["counts"]["deleted_whole"], 30)
        self.assertGreater(self.manifest["counts"]["with_copies"], 0)
        listed, wrong = self.by_sha(), []
        for sha, message in self.whole.items():
            entry = listed.get(sha)
            if entry is None:
                wrong.append("%s (%s, %d bytes at %s) not listed" % (message["id"], message["mailbox"],
                                                                      message["length"], message["offsets"]))
            elif (entry["complete"], entry["length"], entry["offsets"]) != (True, message["length"],
                                                                            message["offsets"]):
                wrong.append("%s (%d bytes at %s) listed as %s" % (
                    message["id"], message["length"], message["offsets"],
                    {k: entry[k] for k in ("complete", "length", "offsets")}))
        self.assertEqual(wrong, [], "%d of %d whole messages" % (len(wrong), len(self.whole)))

    def test_nothing_cut_is_called_complete(self):
        for entry in self.listing():
            if entry["complete"]:
                self.assertIn(entry["sha256"], self.whole, "message %d is not whole on the image" % entry["index"])

    def test_cut_copies_come_back_marked_cut_holding_only_their_own_bytes(self):
        by_offset = {o: e for e in self.listing() for o in e["offsets"]}
        cuts = [(m, cut) for m in self.manifest["messages"] for cut in m["cut_copies"]]
        self.assertGreater(len(cuts), 5)
        wrong = []
        for message, cut in cuts:
            entry = by_offset.get(cut["offset"])
            if entry is None:
                wrong.append("%s at %d not listed" % (message["id"], cut["offset"]))
            elif entry["complete"] or not cut["head"] <= entry["length"] <= cut["standing"]:
                wrong.append("%s at %d: %d bytes, complete %s, where %d to %d of its bytes stand" % (
                    message["id"], cut["offset"], entry["length"], entry["complete"], cut["head"], cut["standing"]))
        self.assertEqual(wrong, [], "%d of %d cut copies" % (len(wrong), len(cuts)))

    def test_each_file_holds_the_one_message_it_is_named_for(self):
        listing = self.listing()
        files = self.written("files")
        wanted = {"RecoveredEmail%d%s.eml" % (e["index"], "" if e["complete"] else ".incomplete") for e in listing}
        self.assertEqual(set(files), wanted)

        def check(name):
            data, entry = files[name], listing[int(FILE_NAME.fullmatch(name).group(1))]
            self.assertTrue(generator.SEPARATOR.match(data), "does not start with a separator line")
            self.assertIsNone(SECOND_SEPARATOR.search(data), "holds a second message")
            self.assertEqual(data, self.data[entry["offset"]:entry["offset"] + entry["length"]], "not the bytes found")

        self.assert_each([(name, name) for name in files], check)

    def test_decoys_give_no_message(self):
        offsets = [o for e in self.listing() for o in e["offsets"]]
        for kind in ("decoy-unix-mbox", "decoy-mention"):
            decoys = [d for d in self.manifest["decoys"] if d["kind"] == kind]
            with self.subTest(kind=kind):
                self.assertTrue(decoys and all(d["mentions"] for d in decoys), "the image has no such decoy")
                inside = [o for d in decoys for start, end in d["extents"] for o in offsets if start <= o < end]
                self.assertEqual(inside, [])

    def test_where_each_copy_is_and_what_is_lost(self):
        listed = self.by_sha()
        cases = (("live, copies in its file and in free space", lambda m: m["live"] and any(
                     w.get("free") for w in m["where"])),
                 ("compacted away, in free space only", lambda m: not m["live"] and m["mailbox"] == "In.mbx"),
                 ("emptied from Trash", lambda m: m["mailbox"] == "Trash.mbx"),
                 ("compacted away but kept in the backup", lambda m: m["live_files"] == ["/Eudora/In.mbx.001"]))

        def check(message):
            entry = listed.get(message["sha256"], {})
            self.assertEqual(entry.get("where"), message["where"])
            self.assertIs(entry.get("lost"), not message["live"], "lost")

        for name, belongs in cases:
            messages = [m for m in self.whole.values() if belongs(m)]
            with self.subTest(case=name):
                self.assertGreater(len(messages), 0, "the image has no such message")
                self.assert_each([(m["id"], m) for m in messages], check)

    def test_only_lost_mail_is_written_with_lost_only(self):
        listing = self.listing()
        files = self.written("lost", "--lost-only")
        written = {hashlib.sha256(data).hexdigest() for data in files.values()}
        self.assertEqual(written, {e["sha256"] for e in listing if e["lost"]})
        held = {m["sha256"] for m in self.manifest["messages"] if m["live"]}
        self.assertEqual(written & held, set(), "a message a live mailbox holds")
        self.assertGreater(len(written & set(self.whole)), 0)

    def test_one_mbox_holds_every_listed_message(self):
        path = os.path.join(self.temp, "all.mbox")
        code, _, err = self.run_once("mbox", "--mbox", path)
        self.assert_written(code, err)
        box = mailbox.mbox(path, create=False)
        try:
            ids = [str(message["Message-ID"] or "").strip() for message in box]
        finally:
            box.close()
        self.assertEqual(len(ids), len(self.listing()), "messages split or joined: a body line 'From ' unescaped?")
        missing = [m["id"] for m in self.whole.values() if m["message_id"] not in ids]  # a cut copy may share it
        self.assertEqual(missing, [])

    def test_rebuilt_mail_parses_cleanly(self):
        files = self.written("rebuilt", "--rebuild")
        pairs = [(e, self.whole[e["sha256"]]) for e in self.listing() if e["sha256"] in self.whole]
        self.assertGreater(sum(m["kind"] == "html" for _, m in pairs), 0)

        def check(pair):
            entry, message = pair
            parsed = email.message_from_bytes(files["RecoveredEmail%d.eml" % entry["index"]],
                                              policy=email.policy.default)
            self.assertEqual([(p.get_content_type(), d) for p in parsed.walk() for d in p.defects], [])
            self.assertEqual(str(parsed["Message-ID"]).strip(), message["message_id"])
            if message["kind"] == "html":
                self.assertIn("text/html", [p.get_content_type() for p in parsed.walk()])

        self.assert_each([("%s (%s)" % (m["id"], m["kind"]), (e, m)) for e, m in pairs], check)

    def test_tsv_agrees_with_json(self):
        code, out, err = self.run_once("tsv", "--format", "tsv")
        self.assertEqual(code, 0, err.decode("utf-8", "replace"))
        rows = [line.split("\t") for line in out.decode("utf-8").splitlines() if line]
        listing = self.listing()
        self.assertEqual(len(rows), len(listing))
        for row, e in zip(rows, listing):
            self.assertEqual(row[:7], [str(e["index"]), str(e["offset"]), str(e["length"]),
                                       "complete" if e["complete"] else "cut", e["sha256"], str(e["copies"]),
                                       ",".join(map(str, e["offsets"]))])
            places = [w.get("file", "free space" if w.get("free") else "unknown") for w in e["where"]]
            self.assertEqual(row[7], ",".join(places))
            # The header values as the mailbox holds them, the JSON's decoded and trimmed.
            for raw, shown in zip(row[8:11], [e["date"], e["from"], e["subject"]]):
                if "=?" not in raw:  # encoded words show decoded in JSON only
                    self.assertEqual(raw.strip(), shown)

    def test_headers_of_whole_messages(self):
        def check(pair):
            entry, message = pair
            self.assertEqual(entry["subject"], message["subject"])
            self.assertIn(message["from"], entry["from"])
            years = {message["separator"][-4:]} | ({message["date"].split()[3]} if message["date"] else set())
            self.assertTrue(any(year in entry["date"] for year in years), "date %r" % entry["date"])

        self.assert_each([(self.whole[e["sha256"]]["id"], (e, self.whole[e["sha256"]]))
                          for e in self.listing() if e["sha256"] in self.whole], check)

    @unittest.skipUnless(shutil.which("ewfacquire"), "ewfacquire (ewf-tools) is not installed: no E01 to carve")
    def test_an_e01_of_the_image_gives_the_same_list(self):
        e01 = generator.make_e01(self.image)
        self.assertEqual(self.listing(source=e01, name="e01"), self.listing())

    def test_source_is_never_written(self):
        for name, args in (("json", ("--format", "json")), ("files", (os.path.join(self.temp, "files"),)),
                           ("lost", (os.path.join(self.temp, "lost"), "--lost-only")),
                           ("rebuilt", (os.path.join(self.temp, "rebuilt"), "--rebuild"))):
            self.run_once(name, *args)
        self.assertEqual(sha256_of(self.image), self.image_sha256)


class Ext4Image(Carved, unittest.TestCase):
    fs, size_mib = "ext4", 64

    def test_live_messages_are_marked_inside_their_files(self):
        listed = self.by_sha()
        self.assertEqual(len(self.whole), len(self.manifest["messages"]))

        def check(message):
            entry = listed.get(message["sha256"], {})
            self.assertTrue(entry.get("complete"), "not listed complete")
            self.assertEqual(entry.get("where"), message["where"])
            self.assertIs(entry.get("lost"), False, "lost")

        self.assert_each([(m["id"], m) for m in self.manifest["messages"]], check)


class Errors(unittest.TestCase):
    def test_a_source_that_does_not_exist(self):
        missing = os.path.join(tempfile.gettempdir(), "quillmend-no-such-image-%d.img" % os.getpid())
        code, out, err = carve(missing, "--format", "json")
        self.assertEqual(code, 1)
        self.assertIn(missing, (out + err).decode("utf-8", "replace"))


if __name__ == "__main__":
    CLI = sys.argv[1]
    unittest.main(argv=sys.argv[:1] + sys.argv[2:], verbosity=2)  # after the CLI: which tests, if given
