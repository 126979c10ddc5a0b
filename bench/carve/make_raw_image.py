#!/usr/bin/env python3
"""A raw disk image for the carving benchmark: a generated mailbox cut into cluster runs (4 KiB
clusters, runs of 1 to 64 clusters, as a freed and fragmented mailbox lies on a disk) and scattered
among runs of other files' bytes (random binary, zeros, LF text). Writes IMAGE and IMAGE.json: the
SHA-256 and length of every message whose bytes stand whole in one run (what a carver can bring back).
Usage: make_raw_image.py MAILBOX IMAGE SIZE_BYTES [SEED]"""

import hashlib
import json
import os
import random
import sys

CLUSTER = 4096
SEPARATOR = b"From ???@??? "


def message_starts(mail):
    starts, at = [], 0
    while True:
        at = mail.find(SEPARATOR, at)
        if at < 0:
            return starts
        if at == 0 or mail[at - 1] in b"\r\n":
            starts.append(at)
        at += 1


def main():
    mailbox, image, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
    rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 1)
    with open(mailbox, "rb") as f:
        mail = f.read()
    text = b"".join(b"a line of some other file's text, number %d\n" % k for k in range(200000))
    runs = []  # (mail offset, length) of each mail run, in image order
    written = 0
    at = 0
    with open(image, "wb") as out:
        while written < size:
            clusters = rng.randint(1, 64)
            length = min(clusters * CLUSTER, size - written)
            if at < len(mail) and rng.random() < 0.5:
                piece = mail[at:at + length]
                runs.append((at, len(piece)))
                at += len(piece)
                # a cluster of the old mailbox now holds another file: skipped, as overwritten
                if rng.random() < 0.3:
                    at += CLUSTER
            else:
                kind = rng.random()
                if kind < 0.4:
                    piece = os.urandom(length)
                elif kind < 0.7:
                    piece = bytes(length)
                else:
                    start = rng.randrange(0, len(text) - length)
                    piece = text[start:start + length]
            piece = piece.ljust(length, b"\0")
            out.write(piece)
            written += length
    starts = message_starts(mail)
    whole = []
    run_index = 0
    for k, start in enumerate(starts):
        end = starts[k + 1] if k + 1 < len(starts) else len(mail)
        while run_index < len(runs) and runs[run_index][0] + runs[run_index][1] <= start:
            run_index += 1
        if run_index < len(runs):
            run_start, run_length = runs[run_index]
            if run_start <= start and end <= run_start + run_length:
                whole.append({"sha256": hashlib.sha256(mail[start:end]).hexdigest(), "length": end - start})
    with open(image + ".json", "w") as f:
        json.dump({"messages": len(starts), "mail_bytes_placed": sum(r[1] for r in runs), "whole": whole}, f)
    print(f"{len(starts)} messages in the mailbox, {len(whole)} whole on the image")


if __name__ == "__main__":
    main()
