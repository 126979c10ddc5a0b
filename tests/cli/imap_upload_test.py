#!/usr/bin/env python3
"""A Eudora folder uploaded with convert --imap to a Dovecot of the test's own (a free loopback port,
its settings, certificates, sockets, logs and mail in a temporary folder; the system's Dovecot
untouched), then read back over IMAP with imaplib: every folder, count, flag, keyword, internal date
and message byte as a local conversion of the same folder has them. A rerun adds nothing; a server
stopped mid-upload and started again, and a Ctrl-C and a rerun, leave each message there once; a
message over the size limit is skipped and named; a wrong password and a certificate for another
name are refused. Skipped when Dovecot or openssl is not installed.
Usage: imap_upload_test.py QUILLMEND_CLI"""

import collections
import glob
import grp
import imaplib
import os
import re
import shutil
import signal
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import convert_test  # noqa: E402
import dovecot_test  # noqa: E402  (the LIST and FETCH readers)
import make_eudora_folder as generator  # noqa: E402

CLI = None
LIMIT = 120  # seconds an upload of the small folder may take
BIG_LIMIT = 300  # and of the large one
CUT_SCALE = 12 << 20  # bytes of mailboxes in the folder whose upload is cut short
USER, PASSWORD = "tester", "quillmend-secret"
# Where the server keeps Sent, Trash and Junk: other names than Eudora's, so that only the special use
# can lead there.
SPECIAL = {"Sent": "Sent Messages", "Trash": "Deleted Messages", "Junk": "Spam"}

CONFIG = """# Dovecot for one run of imap_upload_test.py: all it writes is below {top}
protocols = imap
listen = 127.0.0.1
base_dir = {top}/run
state_dir = {top}/state
log_path = {top}/dovecot.log
info_log_path = {top}/dovecot.log
ssl = yes
ssl_cert = <{top}/tls/server.crt
ssl_key = <{top}/tls/server.key
disable_plaintext_auth = no
# Dovecot checks an XOAUTH2 token as it checks a password: the test's token is the password.
auth_mechanisms = plain login xoauth2
auth_failure_delay = 0
default_internal_user = {user}
default_internal_group = {group}
default_login_user = {user}
first_valid_uid = {uid}
first_valid_gid = {gid}
mail_location = maildir:{top}/mail:INDEX={top}/index
mail_plugins = {plugins}
namespace inbox {{
  inbox = yes
  separator = /
  mailbox "Sent Messages" {{
    special_use = \\Sent
    auto = create
  }}
  mailbox "Deleted Messages" {{
    special_use = \\Trash
    auto = create
  }}
  mailbox Spam {{
    special_use = \\Junk
    auto = create
  }}
}}
passdb {{
  driver = passwd-file
  args = scheme=PLAIN {top}/users
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={top}/home
}}
plugin {{
{plugin}
}}
service imap-login {{
  chroot =
  inet_listener imap {{
    address = 127.0.0.1
    port = {port}
  }}
  inet_listener imaps {{
    address = 127.0.0.1
    port = {tls_port}
    ssl = yes
  }}
}}
service anvil {{
  chroot =
}}
"""


def openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, capture_output=True, timeout=60)


def make_certificates(folder, names):
    """A CA and a server certificate for the subjectAltName names, signed by it."""
    os.makedirs(folder)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt", "-days", "2",
            "-subj", "/CN=Quillmend Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
            "-subj", "/CN=Quillmend test server", cwd=folder)
    with open(os.path.join(folder, "ext.cnf"), "w") as f:
        f.write("subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n" % names)
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", "server.crt", "-days", "2", "-extfile", "ext.cnf", cwd=folder)


def server_name(path):
    """The server's name of a path of names: In is INBOX, Out/Trash/Junk the special-use folders; the
    separator and the '.' Dovecot's Maildir++ refuses become '_'."""
    if list(path) == ["INBOX"]:
        return "INBOX"
    if len(path) == 1 and path[0] in SPECIAL:
        return SPECIAL[path[0]]
    return "/".join(convert_test.maildir_name(name) for name in path)


def eml_messages(top):
    """X-Quillmend-Id -> bytes of each message of a --eml-tree conversion (CR LF, as IMAP has them)."""
    messages = {}
    for path in glob.glob(os.path.join(top, "**", "*.eml"), recursive=True):
        with open(path, "rb") as f:
            data = f.read()
        match = re.search(rb"(?im)^X-Quillmend-Id:\s*(\S+)", data)
        messages[match.group(1).decode()] = data
    return messages


@unittest.skipIf(dovecot_test.dovecot_binary() is None or shutil.which("openssl") is None,
                 "Dovecot or openssl is not installed (apt-get install dovecot-imapd openssl)")
class UploadedToDovecot(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.shared = tempfile.mkdtemp(prefix="quillmend-imap-folders-")
        cls.small = os.path.join(cls.shared, "Small")
        cls.expected = generator.generate(cls.small)
        cls.small_eml = cls.local_copy(cls.small)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.shared, True)

    @classmethod
    def local_copy(cls, eudora):
        out = eudora + "-eml"
        subprocess.run([CLI, "convert", eudora, "--eml-tree", out], capture_output=True, timeout=BIG_LIMIT)
        return eml_messages(out)

    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="quillmend-imap-")
        self.addCleanup(shutil.rmtree, self.top, True)
        make_certificates(os.path.join(self.top, "tls"), "IP:127.0.0.1")
        self.ca = os.path.join(self.top, "tls", "ca.crt")
        self.dovecot = None

    # -- the server --------------------------------------------------------------------------------

    def start_dovecot(self, max_mail_size=None):
        account = dovecot_test.dovecot_account()
        if self.dovecot is None:
            self.port, self.tls_port = dovecot_test.free_port(), dovecot_test.free_port()
            for name in ("mail", "home"):
                os.makedirs(os.path.join(self.top, name), exist_ok=True)
            plugins, plugin = "", ""
            if max_mail_size:
                plugins = "quota"
                plugin = "  quota = count:User quota\n  quota_vsizes = yes\n  quota_max_mail_size = %d" % max_mail_size
            with open(os.path.join(self.top, "dovecot.conf"), "w") as f:
                f.write(CONFIG.format(top=self.top, user=account.pw_name, group=grp.getgrgid(account.pw_gid).gr_name,
                                      uid=account.pw_uid, gid=account.pw_gid, port=self.port,
                                      tls_port=self.tls_port, plugins=plugins, plugin=plugin))
            with open(os.path.join(self.top, "users"), "w") as f:
                f.write("%s:%s\n" % (USER, PASSWORD))
            dovecot_test.hand_over(self.top, account)
            self.addCleanup(self.stop_dovecot)
        self.dovecot = dovecot_test.launch(self, self.top, os.path.join(self.top, "dovecot.conf"), self.port,
                                           account, self.logs)

    def stop_dovecot(self):
        dovecot_test.stop(self.dovecot)

    def logs(self):
        path = os.path.join(self.top, "dovecot.log")
        if not os.path.exists(path):
            return ""
        with open(path, errors="replace") as f:
            return f.read()[-4000:]

    # -- the tool ----------------------------------------------------------------------------------

    def url(self, scheme="imaps", host="127.0.0.1", prefix=""):
        port = self.tls_port if scheme == "imaps" else self.port
        return "%s://%s@%s:%d%s" % (scheme, USER, host, port, prefix)

    def command(self, eudora, url, ca=True, extra=()):
        return [CLI, "convert", eudora, "--imap", url] + (["--imap-ca-file", self.ca] if ca else []) + list(extra)

    def upload(self, eudora, url, password=PASSWORD, ca=True, timeout=LIMIT, extra=(), env=None):
        env = dict(os.environ, **(env or {"QUILLMEND_IMAP_PASSWORD": password}))
        done = subprocess.run(self.command(eudora, url, ca, extra), capture_output=True, timeout=timeout, env=env,
                              stdin=subprocess.DEVNULL)
        return done.returncode, (done.stdout + done.stderr).decode("utf-8", "replace")

    # -- reading back ------------------------------------------------------------------------------

    def imap(self):
        client = imaplib.IMAP4_SSL("127.0.0.1", self.tls_port, ssl_context=ssl.create_default_context(cafile=self.ca),
                                   timeout=dovecot_test.IMAP_TIMEOUT)
        self.addCleanup(lambda: client.shutdown() if client.state != "LOGOUT" else None)
        typ, said = client.login(USER, PASSWORD)
        self.assertEqual(typ, "OK", said)
        return client

    def server(self):
        """Folder name -> [(flags, INTERNALDATE, X-Quillmend-Id, bytes)] of each selectable folder."""
        client = self.imap()
        typ, lines = client.list('""', "*")
        self.assertEqual(typ, "OK", self.logs())
        folders = {}
        for name, attributes in dovecot_test.list_names(lines):
            if "\\Noselect" in attributes or "\\NonExistent" in attributes:
                continue
            typ, count = client.select(dovecot_test.quoted(name), readonly=True)
            self.assertEqual(typ, "OK", self.logs())
            folders[name] = []
            if int(count[0]) == 0:
                continue
            typ, data = client.fetch("1:*", "(FLAGS INTERNALDATE BODY.PEEK[])")
            self.assertEqual(typ, "OK", self.logs())
            for item, (flags, received, _) in zip([i for i in data if isinstance(i, tuple)], dovecot_test.fetched(data)):
                match = re.search(rb"(?im)^X-Quillmend-Id:\s*(\S+)", item[1])
                flags.discard("\\Recent")
                folders[name].append((flags, received, match.group(1).decode() if match else None, item[1]))
            client.close()
        client.logout()
        return folders

    def assert_each_once(self, folders, local):
        ids = collections.Counter(m[2] for messages in folders.values() for m in messages)
        self.assertEqual({i: n for i, n in ids.items() if n > 1}, {}, "messages uploaded more than once")
        self.assertEqual(sorted(ids), sorted(local), "the uploaded messages are not those of the folder")

    def assert_small_tree(self, folders, name=server_name):
        want = convert_test.wanted(self.expected, "separate")
        by_folder = {}
        for message_id, (path, message) in want.items():
            by_folder.setdefault(name(path), {})[message_id] = message
        self.assertEqual(sorted(set(by_folder) - set(folders)), [], "folders missing")
        self.assert_each_once(folders, self.small_eml)
        for folder, messages in by_folder.items():
            with self.subTest(folder=convert_test.imap_utf7_decode(folder)):
                got = folders[folder]
                self.assertEqual(len(got), len(messages))
                for flags, received, upload_id, data in got:
                    self.assertEqual(data, self.small_eml[upload_id], "the message's bytes differ")
                    message_id = re.search(rb"(?im)^Message-ID:\s*(.*?)\s*$", data).group(1).decode()
                    message = messages[message_id]
                    self.assertEqual(flags, set(message["flags"]) | set(message["keywords"]), message_id)
                    self.assertEqual(received, message["received"], message_id)

    # -- the tests ---------------------------------------------------------------------------------

    def test_every_folder_message_flag_and_date_and_a_rerun_adds_nothing(self):
        self.start_dovecot()
        for scheme in ("imaps", "imap"):  # the second over STARTTLS: finds everything there
            with self.subTest(scheme=scheme):
                code, said = self.upload(self.small, self.url(scheme))
                self.assertEqual(code, 0, said)
                self.assert_small_tree(self.server())
                counts = re.search(r"^all \d+ mailboxes +(\d+) +\d+ +\d+ +(\d+) +(\d+)", said, re.M)
                self.assertIsNotNone(counts, said)
                written, present = int(counts.group(2)), int(counts.group(3))
                self.assertEqual((written, present) if scheme == "imap" else (written,),
                                 (0, len(self.small_eml)) if scheme == "imap" else (len(self.small_eml),), said)
                # Dovecot offers MULTIAPPEND and LITERAL+: every message went up with others.
                batched = self.batched(said)
                if scheme == "imap":
                    self.assertIsNone(batched, said)
                else:
                    self.assertIsNotNone(batched, said)
                    self.assertEqual(batched[0], written, said)
                    self.assertLess(batched[1], batched[0], said)

    def batched(self, said):
        """(messages, APPEND commands) the upload says went up many to a command, or None."""
        found = re.search(r"(\d+) messages went up in (\d+) APPEND commands of many", said)
        return (int(found.group(1)), int(found.group(2))) if found else None

    def test_under_a_folder_of_the_users_choice(self):
        self.start_dovecot()
        code, said = self.upload(self.small, self.url("imap", prefix="/From Eudora"))
        self.assertEqual(code, 0, said)
        folders = self.server()
        self.assert_small_tree(folders, lambda path: "/".join(["From Eudora"] + [convert_test.maildir_name(n)
                                                                                 for n in path]))
        self.assertEqual([len(folders[name]) for name in ("INBOX",) + tuple(SPECIAL.values())], [0, 0, 0, 0])

    def test_refused_logins_send_nothing(self):
        cases = [  # (what, url host, password, the CA file given, what the error must say)
            ("a wrong password", "127.0.0.1", "wrong", True, "refused the login of " + USER),
            ("a certificate for another name", "localhost", PASSWORD, True, "certificate of localhost is not trusted"),
            ("a certificate of an unknown authority", "127.0.0.1", PASSWORD, False,
             "certificate of 127.0.0.1 is not trusted"),
        ]
        self.start_dovecot()
        before = self.server()
        for what, host, password, ca, error in cases:
            with self.subTest(what):
                code, said = self.upload(self.small, self.url("imaps", host=host), password=password, ca=ca)
                self.assertEqual(code, 1, said)
                self.assertIn(error, said)
                self.assertNotIn("mailboxes", said, "a table after a refused login")
                self.assertEqual(self.server(), before, "something was made")

    def test_oauth2_token_from_a_command_run_again_when_refused(self):
        self.start_dovecot()
        asked = os.path.join(self.top, "asked")
        # The first token is stale; the command's second answer is good. The token itself comes
        # through the environment, never on a command line.
        command = ('if [ -e "{0}" ]; then printenv QM_TEST_TOKEN; else touch "{0}"; echo stale-token; fi'
                   .format(asked))
        cases = [("a stale token, then a good one", command, 0),
                 ("never a good token", "echo stale-token", 1)]
        for what, token_command, status in cases:
            with self.subTest(what):
                code, said = self.upload(self.small, self.url(), extra=["--oauth2-token-command", token_command],
                                         env={"QM_TEST_TOKEN": PASSWORD})
                self.assertEqual(code, status, said)
                if status:
                    self.assertIn("refused the login of " + USER, said)
                else:
                    self.assert_each_once(self.server(), self.small_eml)

    def test_a_message_over_the_size_limit_is_skipped_and_named(self):
        sizes = sorted(len(data) for data in self.small_eml.values())
        # Between the two largest sizes Dovecot sees (it stores LF): the largest alone is over it.
        stored = sorted(len(data.replace(b"\r\n", b"\n")) for data in self.small_eml.values())
        self.assertLess(stored[-2] + 8, stored[-1], "the generated folder has no single largest message")
        self.start_dovecot(max_mail_size=(stored[-2] + stored[-1]) // 2)
        code, said = self.upload(self.small, self.url())
        self.assertEqual(code, 1, said)
        skipped = re.findall(r"^quillmend-cli: (.*?): skipped, refused by the server", said, re.M)
        self.assertEqual(len(skipped), 1, said)
        # The refused batch went again one at a time; the rest stayed batched.
        self.assertIsNotNone(self.batched(said), said)
        folders = self.server()
        uploaded = collections.Counter(m[2] for messages in folders.values() for m in messages)
        self.assertEqual(len(uploaded), len(self.small_eml) - 1)
        missing = set(self.small_eml) - set(uploaded)
        self.assertEqual([len(self.small_eml[i]) for i in missing], sizes[-1:])

    def big_tree(self):
        if not hasattr(UploadedToDovecot, "big"):
            UploadedToDovecot.big = os.path.join(self.shared, "Big")
            generator.generate(UploadedToDovecot.big, seed=7, scale=CUT_SCALE)
            UploadedToDovecot.big_eml = self.local_copy(UploadedToDovecot.big)
        return UploadedToDovecot.big, UploadedToDovecot.big_eml

    def uploaded_count(self):
        return len(glob.glob(os.path.join(self.top, "mail", "**", "cur", "*"), recursive=True)) + \
            len(glob.glob(os.path.join(self.top, "mail", "**", "new", "*"), recursive=True))

    def start_cut(self, eudora):
        env = dict(os.environ, QUILLMEND_IMAP_PASSWORD=PASSWORD)
        process = subprocess.Popen(self.command(eudora, self.url()), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   env=env, stdin=subprocess.DEVNULL)
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait(timeout=LIMIT)))
        deadline = time.monotonic() + BIG_LIMIT
        while self.uploaded_count() < 20:
            self.assertIsNone(process.poll(), "the upload ended before it could be cut short")
            self.assertLess(time.monotonic(), deadline, "nothing was uploaded")
            time.sleep(0.01)
        return process

    def test_the_server_stopped_mid_upload_and_started_again(self):
        eudora, local = self.big_tree()
        self.start_dovecot()
        process = self.start_cut(eudora)
        self.stop_dovecot()
        time.sleep(1)
        self.start_dovecot()
        said = b"".join(process.communicate(timeout=BIG_LIMIT)).decode("utf-8", "replace")
        self.assertIn("trying again in", said)
        self.assertEqual(process.returncode, 0, said)
        self.assert_each_once(self.server(), local)
        self.assertIsNotNone(self.batched(said), said)
        code, said = self.upload(eudora, self.url(), timeout=BIG_LIMIT)
        self.assertEqual(code, 0, said)
        self.assertRegex(said, r"(?m)^all \d+ mailboxes +\d+ +\d+ +\d+ +0 +%d " % len(local))

    def test_ctrl_c_then_a_rerun(self):
        eudora, local = self.big_tree()
        self.start_dovecot()
        process = self.start_cut(eudora)
        process.send_signal(signal.SIGINT)
        said = b"".join(process.communicate(timeout=BIG_LIMIT)).decode("utf-8", "replace")
        self.assertEqual(process.returncode, 130, said)
        partial = sum(len(m) for m in self.server().values())
        self.assertLess(partial, len(local), "the cut came after the last message")
        code, said = self.upload(eudora, self.url(), timeout=BIG_LIMIT)
        self.assertEqual(code, 0, said)
        self.assert_each_once(self.server(), local)


if __name__ == "__main__":
    CLI = sys.argv[1]
    unittest.main(argv=sys.argv[:1] + sys.argv[2:], verbosity=2)
