"""Header texts and Date: instants of the core, compared with Python's email package.

Usage: python_reference_test.py HEADER_PROBE DATA_DIR EXAMPLES_DIR [QUILLMEND_CLI]
With the command-line tool, also its "list --sort date" of the real and generated mailboxes against
the order of Python's instants.
"""
import datetime
import email.errors
import email.header
import email.utils
import pathlib
import subprocess
import sys

# RFC 2047's own examples, then the character sets mail used.
HEADERS = [
    "=?ISO-8859-1?Q?Keld_J=F8rn_Simonsen?= <keld@dkuug.dk>",
    "=?ISO-8859-1?Q?Andr=E9?= Pirard <PIRARD@vm1.ulg.ac.be>",
    "=?ISO-8859-1?B?SWYgeW91IGNhbiByZWFkIHRoaXMgeW8=?= =?ISO-8859-2?B?dSB1bmRlcnN0YW5kIHRoZSBleGFtcGxlLg==?=",
    "=?ISO-8859-1?Q?a?=",
    "=?ISO-8859-1?Q?a?= b",
    "=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=",
    "=?ISO-8859-1?Q?a?=  =?ISO-8859-1?Q?b?=",
    "=?ISO-8859-1?Q?a?=\t =?ISO-8859-1?Q?b?=",
    "=?ISO-8859-1?Q?a_b?=",
    "=?ISO-8859-1?Q?a?= =?ISO-8859-2?Q?_b?=",
    " =?iso-8859-1?Q?Dmitri_Lef=E8vre?= <dmitri.lefevre@comcast.net>",
    " =?iso-8859-1?Q?Robert_M=FCller?= <robert.muller@t-online.de>",
    "=?utf-8?B?0J/RgNC40LLQtdGCLCDQvNC40YA=?=",
    "=?UTF-8?q?Gr=C3=BC=C3=9Fe_aus_K=C3=B6ln?=",
    "=?utf-8?b?5pel5pys6Kqe?= text",
    "=?windows-1251?B?z/Do4uXyLCDs6PA=?=",
    "=?koi8-r?B?8NLJ18XULCDNydI=?=",
    "=?KOI8-U?Q?=F0=D2=C9=D7=A6=D4?=",
    "=?iso-8859-5?Q?=BF=E0=D8=D2=D5=E2?=",
    "=?iso-8859-7?B?1ebt4efs3OHx?=",
    "=?windows-1250?Q?Za=BF=F3=B3=E6_g=EA=9Cl=B9_ja=9F=F1?=",
    "=?iso-8859-2?Q?Za=BF=F3=B3=E6?=",
    "=?ISO-8859-15?Q?Preis_100_=A4?=",
    "=?windows-1252?Q?Preis_100_=80_=93quoted=94?=",
    "=?iso-8859-3?Q?=A1=A6=AB?=", "=?iso-8859-4?Q?=A1=A2=A3?=", "=?iso-8859-6?Q?=C7=E4=D9=D1=C8=EA=C9?=",
    "=?iso-8859-8?Q?=F9=EC=E5=ED?=", "=?iso-8859-9?Q?T=FCrk=E7e_=DE=FD?=", "=?iso-8859-10?Q?=A1=A2?=",
    "=?iso-8859-11?Q?=A1=A2?=", "=?iso-8859-13?Q?=C0=C1?=", "=?iso-8859-14?Q?=A1=A2?=", "=?iso-8859-16?Q?=AA=BA?=",
    "=?windows-1253?Q?=C1=E8=DE=ED=E1?=", "=?windows-1254?Q?=DE=FD?=", "=?windows-1255?Q?=F9=EC=E5=ED?=",
    "=?windows-1256?Q?=C7=E1=DA=D1=C8=ED=C9?=", "=?windows-1257?Q?=C0=E0?=", "=?windows-1258?Q?Vi=EA=D2t?=",
    "=?us-ascii?q?plain?=",
    "Plain subject, no encoded words",
    "   leading blanks",
    "",
]

# Malformed words stay as they stand. Python's email.header is more lenient with some of them
# (a lone "=" in Q, characters outside base64, blanks inside the word), so these are checked against
# the rule itself: the value is shown unchanged.
MALFORMED = [
    "=?utf-8?q?a=zz?=",
    "=?utf-8?q?a=?=",
    "=?utf-8?x?abc?=",
    "=?utf-8?q?abc",
    "=?utf-8?b?!!!!?=",
    "=?utf-8?b?QUJDR?=",
    "=?utf-8?q?a b?=",
    "=??q?abc?=",
    "=?unknown-charset?q?abc?=",
]

# Python's make_header writes a second space after a US-ASCII word; RFC 2047 shows this one with one.
AS_THE_RFC_SHOWS = [
    ("=?US-ASCII?Q?Keith_Moore?= <moore@cs.utk.edu>", "Keith Moore <moore@cs.utk.edu>"),
]

DATES = [
    "8 Dec 2010 16:50:48 -0600",
    "Wed, 08 Dec 10 16:50:48 -0600",
    "Wed, 8 Dec 2010 16:50 -0600",
    "Wed, 8 Dec 2010 16:50:48 EST", "Wed, 8 Dec 2010 16:50:48 EDT", "Wed, 8 Dec 2010 16:50:48 CDT",
    "Wed, 8 Dec 2010 16:50:48 MST", "Wed, 8 Dec 2010 16:50:48 PDT", "Wed, 8 Dec 2010 16:50:48 GMT",
    "Wed, 8 Dec 2010 16:50:48 UT", "Wed, 8 Dec 2010 16:50:48 Z", "Wed, 8 Dec 2010 16:50:48 A",
    "Wed, 8 Dec 2010 16:50:48 -0600 (CST)",
    "Wed, 8 Dec 2010 16:50:48 +0000 (GMT)",
    "Wed, 8 Dec 2010 16:50:48 -0000",
    "Wed, 8 Dec 2010 16:50:48",
    "Wednesday, 8 Dec 2010 16:50:48 -0600",
    "wed, 8 dec 2010 16:50:48 -0600",
    "Wed,8 Dec 2010 16:50:48 -0600",
    "Sun, 12 Dec 2010 23:42:55 +0530",
    "Thu, 1 Jan 1970 00:00:00 +0000",
    "Tue, 1 Jan 30 00:00:00 +0000",
    "Fri, 1 Jan 99 00:00:00 +0000",
    "Sat, 29 Feb 2020 10:00:00 +0100",
    "Mon, 29 Feb 2010 10:00:00 +0000",
    "Wed, 8 Dec 2010 25:00:00 -0600",
    "Wed, 32 Dec 2010 10:00:00 -0600",
    "Wed, 8 Foo 2010 10:00:00 -0600",
    "garbage",
    "",
]


def reference_header(value):
    try:
        return str(email.header.make_header(email.header.decode_header(value))).lstrip()
    except (LookupError, UnicodeError, email.errors.HeaderParseError):
        return value.lstrip()


def reference_date(value):
    try:
        when = email.utils.parsedate_to_datetime(value)
    except (TypeError, ValueError, IndexError):
        return "none"
    if when.tzinfo is None:
        when = when.replace(tzinfo=datetime.timezone.utc)
    return str(int(when.timestamp()))


def message_dates(path):
    """The Date: value of each message, in file order (None when it has none)."""
    dates, in_header = [], False
    for line in path.read_bytes().decode("latin-1").splitlines():
        if line.startswith("From ???@???"):
            dates.append(None)
            in_header = True
        elif line == "":
            in_header = False
        elif in_header and line.startswith("Date:") and dates[-1] is None:
            dates[-1] = line[len("Date:"):]
    return dates


def mailbox_dates(path):
    return [d for d in message_dates(path) if d is not None]


def cli_order(cli, path, reverse):
    args = [cli, "list", str(path), "--format", "tsv", "--sort", "date"] + (["--reverse"] if reverse else [])
    done = subprocess.run(args, capture_output=True, timeout=60, check=True)
    return [int(line.split(b"\t")[0]) for line in done.stdout.splitlines()]


def probe(program, lines):
    feed = "".join(kind + "\t" + value + "\n" for kind, value in lines).encode("latin-1")
    done = subprocess.run([program], input=feed, capture_output=True, timeout=60, check=True)
    return done.stdout.decode("utf-8").split("\n")[:-1]


def main():
    program, data, examples = sys.argv[1], pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3])
    real = mailbox_dates(data / "eudora-windows-7.1" / "In.mbx") + mailbox_dates(examples / "sample.mbx")
    if len(real) < 20:
        print(f"only {len(real)} Date: values found in the mailboxes")
        return 1
    # A character outside Latin-1 goes to the probe as the UTF-8 bytes a header would hold.
    def raw(value):
        return value.encode("utf-8").decode("latin-1")
    cases = ([("H", raw(v), reference_header(v)) for v in HEADERS] +
             [("H", v, v.lstrip()) for v in MALFORMED] +
             [("H", v, shown) for v, shown in AS_THE_RFC_SHOWS] +
             [("D", v, reference_date(v)) for v in DATES + real])
    answers = probe(program, [(kind, value) for kind, value, _ in cases])
    failures = 0
    for (kind, value, expected), answer in zip(cases, answers, strict=True):
        if answer != expected:
            failures += 1
            print(f"{kind} {value!r}: core {answer!r}, reference {expected!r}")
    print(f"{len(cases)} values, {len(real)} of them Date: values of the mailboxes, {failures} differ")
    if len(sys.argv) > 4:
        for path in (data / "eudora-windows-7.1" / "In.mbx", examples / "sample.mbx"):
            dates = message_dates(path)
            if any(reference_date(d) == "none" for d in dates if d is not None) or None in dates:
                print(f"{path.name}: every message was expected to be dated")
                failures += 1
            expected = sorted(range(len(dates)), key=lambda i: (int(reference_date(dates[i])), i))
            for reverse in (False, True):
                want = sorted(range(len(dates)), key=lambda i: (-int(reference_date(dates[i])), i)) if reverse else expected
                got = cli_order(sys.argv[4], path, reverse)
                if got != want:
                    failures += 1
                    print(f"list --sort date{' --reverse' if reverse else ''} of {path.name}: {got}, reference {want}")
        print("list --sort date checked on In.mbx and sample.mbx")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
