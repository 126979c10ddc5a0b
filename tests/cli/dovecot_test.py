#!/usr/bin/env python3
"""A Eudora folder converted to Maildir++ and served by a Dovecot of the test's own (on a free loopback
port, its settings, sockets, logs and indexes in a temporary folder, the system's Dovecot untouched):
over IMAP each folder is listed under its name, holds the messages it must, each with its flags,
keywords and INTERNALDATE. Skipped when Dovecot is not installed.
Usage: dovecot_test.py QUILLMEND_CLI"""

import datetime
import grp
import imaplib
import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import convert_test  # noqa: E402  (the folder names and the reading of the expectations)
import make_eudora_folder as generator  # noqa: E402

CLI = None
LIMIT = 120  # seconds the conversion may take
START = 30  # seconds Dovecot may take to listen
IMAP_TIMEOUT = 30  # seconds any one IMAP exchange may take
USER, PASSWORD = "tester", "quillmend-secret"
UNPRIVILEGED = "nobody"  # who Dovecot runs as when the test runs as root: Dovecot serves no mail as root

CONFIG = """# Dovecot for one run of dovecot_test.py: all it writes is below {top}
protocols = imap
listen = 127.0.0.1
base_dir = {top}/run
state_dir = {top}/state
log_path = {top}/dovecot.log
info_log_path = {top}/dovecot.log
ssl = no
disable_plaintext_auth = no
login_trusted_networks = 127.0.0.0/8
auth_mechanisms = plain
# Runs as one ordinary user, without root: every service as that user, none in a chroot.
default_internal_user = {user}
default_internal_group = {group}
default_login_user = {user}
first_valid_uid = {uid}
first_valid_gid = {gid}
mail_location = maildir:{maildir}:INDEX={top}/index
namespace inbox {{
  inbox = yes
  separator = /
}}
passdb {{
  driver = passwd-file
  args = scheme=PLAIN {top}/users
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={top}/home
}}
service imap-login {{
  chroot =
  inet_listener imap {{
    address = 127.0.0.1
    port = {port}
  }}
  inet_listener imaps {{
    port = 0
  }}
}}
service anvil {{
  chroot =
}}
"""


def dovecot_binary():
    return shutil.which("dovecot") or shutil.which("dovecot", path="/usr/sbin:/usr/local/sbin")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def quoted(name):
    return '"%s"' % name.replace("\\", "\\\\").replace('"', '\\"')


def imap_name(path):
    """The IMAP name of a path of names, '/' between them, as the Maildir++ folder gives it."""
    if list(path) == ["INBOX"]:
        return "INBOX"
    return "/".join(convert_test.maildir_name(name) for name in path)


def list_names(lines):
    """(name, attributes) of each LIST answer; a name may come as a literal."""
    result = []
    for line in lines:
        if isinstance(line, tuple):  # (b'(\\HasNoChildren) "/" {12}', b'the name')
            head, name = line[0].decode(), line[1].decode()
            attributes = re.match(r"\(([^)]*)\)", head).group(1)
        else:
            match = re.fullmatch(r'\(([^)]*)\) (?:"(?:[^"\\]|\\.)*"|NIL) (.*)', line.decode())
            attributes, name = match.group(1), match.group(2)
            if name.startswith('"'):
                name = re.sub(r"\\(.)", r"\1", name[1:-1])
        result.append((name, attributes.split()))
    return result


def fetched(data):
    """(flags, INTERNALDATE in seconds, Message-ID) of each message of a FETCH answer."""
    result = []
    for item in data:
        if not isinstance(item, tuple):
            continue
        head, header = item[0].decode(), item[1].decode("utf-8", "replace")
        flags = re.search(r"FLAGS \(([^)]*)\)", head).group(1).split()
        when = re.search(r'INTERNALDATE "([^"]+)"', head).group(1)
        seconds = int(datetime.datetime.strptime(when.strip(), "%d-%b-%Y %H:%M:%S %z").timestamp())
        match = re.search(r"(?im)^Message-ID:\s*(.*?)\s*$", header)
        result.append((set(flags), seconds, match.group(1) if match else None))
    return result


@unittest.skipIf(dovecot_binary() is None, "Dovecot is not installed (apt-get install dovecot-imapd)")
def dovecot_account():
    """Who Dovecot serves the mail as: the user running the test, or nobody for root (Dovecot serves
    no mail as root)."""
    return pwd.getpwnam(UNPRIVILEGED) if os.getuid() == 0 else pwd.getpwuid(os.getuid())


def hand_over(top, account):
    """Gives top and everything below it to account, and lets Dovecot's own users through it."""
    if os.getuid() == 0:
        for folder, dirs, files in os.walk(top):
            for name in [folder] + [os.path.join(folder, n) for n in dirs + files]:
                os.lchown(name, account.pw_uid, account.pw_gid)
    os.chmod(top, 0o755)


def launch(test, top, config, port, account, logs):
    """Starts Dovecot with config in a session of its own, as account, and waits until it listens on
    port; its output goes to top/dovecot.out. The process."""
    def unprivileged():
        if os.getuid() == 0:
            os.setgroups([])
            os.setgid(account.pw_gid)
            os.setuid(account.pw_uid)

    output = open(os.path.join(top, "dovecot.out"), "ab")
    test.addCleanup(output.close)
    process = subprocess.Popen([dovecot_binary(), "-F", "-c", config], stdout=output, stderr=subprocess.STDOUT,
                               preexec_fn=unprivileged, start_new_session=True)
    deadline = time.monotonic() + START
    while True:
        test.assertIsNone(process.poll(), "Dovecot ended at start:\n" + logs())
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return process
        except OSError:
            test.assertLess(time.monotonic(), deadline, "Dovecot did not listen:\n" + logs())
            time.sleep(0.05)


def stop(process):
    """Dovecot's master ends its services on SIGTERM; what is left of its session is killed."""
    if process is None or process.returncode is not None:
        return
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=15)
    try:
        os.killpg(process.pid, signal.SIGKILL)  # the session started for it alone
    except ProcessLookupError:
        pass


class ServedByDovecot(unittest.TestCase):
    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="quillmend-dovecot-")
        self.addCleanup(shutil.rmtree, self.top, True)
        self.eudora = os.path.join(self.top, "Eudora")
        self.expected = generator.generate(self.eudora)
        self.maildir = os.path.join(self.top, "mail")
        done = subprocess.run([CLI, "convert", self.eudora, "--maildir", self.maildir], capture_output=True,
                              timeout=LIMIT)
        said = (done.stdout + done.stderr).decode("utf-8", "replace")
        self.assertIn(done.returncode, (0, 1) if self.expected["attachments_missing"] else (0,), said)
        self.start_dovecot()

    def start_dovecot(self):
        account = dovecot_account()
        self.port = free_port()
        config = os.path.join(self.top, "dovecot.conf")
        with open(config, "w") as f:
            f.write(CONFIG.format(top=self.top, user=account.pw_name, group=grp.getgrgid(account.pw_gid).gr_name,
                                  uid=account.pw_uid, gid=account.pw_gid, maildir=self.maildir, port=self.port))
        with open(os.path.join(self.top, "users"), "w") as f:
            f.write("%s:%s\n" % (USER, PASSWORD))
        os.makedirs(os.path.join(self.top, "home"))
        self.log = os.path.join(self.top, "dovecot.log")
        hand_over(self.top, account)
        self.dovecot = launch(self, self.top, config, self.port, account, self.logs)
        self.addCleanup(stop, self.dovecot)

    def logs(self):
        text = []
        for name in ("dovecot.out", "dovecot.log"):
            path = os.path.join(self.top, name)
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    text.append(f.read()[-4000:])
        return "\n".join(text)

    def imap(self):
        client = imaplib.IMAP4("127.0.0.1", self.port, timeout=IMAP_TIMEOUT)

        def close():
            try:
                client.shutdown()
            except OSError:  # already logged out
                pass

        self.addCleanup(close)
        typ, said = client.login(USER, PASSWORD)
        self.assertEqual(typ, "OK", said)
        return client

    def test_each_folder_holds_its_messages_with_their_flags_and_dates(self):
        client = self.imap()
        typ, lines = client.list('""', "*")
        self.assertEqual(typ, "OK", self.logs())
        listed = dict(list_names(lines))
        want = convert_test.wanted(self.expected, "separate")
        folders = {}
        for message_id, (path, message) in want.items():
            folders.setdefault(imap_name(path), {})[message_id] = message
        self.assertEqual(sorted(set(folders) - set(listed)), [], "folders not listed")
        for name, attributes in sorted(listed.items()):
            if "\\Noselect" in attributes or "\\NonExistent" in attributes:
                self.assertNotIn(name, folders, "a folder with mail that cannot be opened")
                continue
            with self.subTest(folder=convert_test.imap_utf7_decode(name)):
                typ, count = client.select(quoted(name), readonly=True)
                self.assertEqual(typ, "OK", self.logs())
                messages = folders.get(name, {})
                self.assertEqual(int(count[0]), len(messages))
                if not messages:
                    continue
                typ, data = client.fetch("1:*", "(FLAGS INTERNALDATE BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])")
                self.assertEqual(typ, "OK", self.logs())
                got = fetched(data)
                self.assertEqual(sorted(m for _, _, m in got), sorted(messages))
                for flags, received, message_id in got:
                    message = messages[message_id]
                    flags.discard("\\Recent")
                    want_flags = set(message["flags"]) | set(message["keywords"])
                    if message["deleted"]:
                        flags.discard(generator.RECOVERED)
                    self.assertEqual(flags, want_flags, message_id)
                    self.assertEqual(received, message["received"], message_id)
                client.close()
        client.logout()


if __name__ == "__main__":
    CLI = sys.argv[1]
    unittest.main(argv=sys.argv[:1] + sys.argv[2:], verbosity=2)  # after the CLI: which tests, if given
