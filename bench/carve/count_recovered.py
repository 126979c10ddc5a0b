#!/usr/bin/env python3
"""Counts the whole messages (IMAGE.json) that a carver's output holds byte for byte: each file is cut
at its separator lines and every piece, and every prefix of the last piece of the lengths wanted, is
looked up by SHA-256. Usage: count_recovered.py IMAGE.json OUTPUT_DIR"""

import hashlib
import json
import os
import sys

SEPARATOR = b"From ???@??? "


def main():
    with open(sys.argv[1]) as f:
        whole = json.load(f)["whole"]
    wanted = {m["sha256"] for m in whole}
    lengths = sorted({m["length"] for m in whole})
    found = set()
    for folder, _, files in os.walk(sys.argv[2]):
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                data = f.read()
            starts, at = [], 0
            while (at := data.find(SEPARATOR, at)) >= 0:
                if at == 0 or data[at - 1] in b"\r\n":
                    starts.append(at)
                at += 1
            for k, start in enumerate(starts):
                end = starts[k + 1] if k + 1 < len(starts) else len(data)
                digest = hashlib.sha256(data[start:end]).hexdigest()
                if digest in wanted:
                    found.add(digest)
                elif k + 1 == len(starts):  # the last piece may run on into what followed it
                    for length in lengths:
                        if length > end - start:
                            break
                        digest = hashlib.sha256(data[start:start + length]).hexdigest()
                        if digest in wanted:
                            found.add(digest)
                            break
    print(f"{len(found)} of {len(wanted)} whole messages recovered byte for byte")


if __name__ == "__main__":
    main()
