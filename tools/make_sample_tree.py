#!/usr/bin/python3
"""Writes a sample Velmora server tree for the demo server.

The shape follows a real server: access2/ with nested mailbox folders of
binary files (one empty, some names with blanks, an empty folder), ST/ with
syscfg.*, SYSDIR.*, MMTA.BOX/MBxProf.* and one large file, a log file for
every log pattern (access2/*.txt, ST/*.out, ST/*.log, ST/f983wui/*.log,
LOGS/*), and the markers "safe" and "safe2".
"""

import argparse
import os
import random
import sys

MAILBOX_FOLDERS = (
    "100/greetings",
    "100/messages/new",
    "100/messages/saved",
    "101/greetings",
    "101/messages/new",
    "102 Front Desk/messages/saved",
    "dist lists",
    "system/prompts/en",
)
EMPTY_FOLDER = "access2/103/messages/new"
LOG_FILES = (
    "access2/calls.txt",
    "access2/errors.txt",
    "ST/boot.out",
    "ST/diag.out",
    "ST/system.log",
    "ST/event log.log",
    "ST/f983wui/web.log",
    "ST/f983wui/access.log",
    "LOGS/trace1.log",
    "LOGS/trace2.log",
    "LOGS/calls.csv",
    "LOGS/old/trace0.log",
)
MARKERS = ("safe", "safe2")


def write(root, relative, content):
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(content)


def mailbox_file_size(rng):
    size_class = rng.randrange(10)
    if size_class < 7:
        return rng.randrange(4096) + 1
    if size_class < 9:
        return rng.randrange(65536) + 1
    return rng.randrange(262144) + 1


def mailbox_file_name(index):
    return ("memo %04d.vox" if index % 5 == 3 else "M%04d.vox") % index


def make_mailboxes(root, count, rng):
    for index in range(count):
        folder = os.path.join("access2", MAILBOX_FOLDERS[index % len(MAILBOX_FOLDERS)])
        size = 0 if index == 0 else mailbox_file_size(rng)
        write(root, os.path.join(folder, mailbox_file_name(index)), rng.randbytes(size))
    os.makedirs(os.path.join(root, EMPTY_FOLDER), exist_ok=True)


def make_system_tree(root, large_file_bytes, rng):
    write(root, "ST/syscfg.dat", rng.randbytes(2048))
    write(root, "ST/syscfg.bak", rng.randbytes(2048))
    write(root, "ST/SYSDIR.DAT", rng.randbytes(8192))
    for profile in ("MBxProf.001", "MBxProf.002", "MBxProf.003"):
        write(root, "ST/MMTA.BOX/" + profile, rng.randbytes(1024))
    write(root, "ST/MMTA.BOX/Mailbox Index.idx", rng.randbytes(512))
    write(root, "ST/VOICE.DAT", rng.randbytes(large_file_bytes))


def log_text(name, lines):
    return "".join(
        "2026-01-01 08:%02d:%02d %s: event %d\n" % (line // 60 % 60, line % 60, name, line)
        for line in range(1, lines + 1)
    ).encode()


def make_log_files(root):
    for number, relative in enumerate(LOG_FILES):
        write(root, relative, log_text(os.path.basename(relative), 5 + 7 * number))


def put_markers(root):
    for marker in MARKERS:
        write(root, marker, b"")


def make_tree(root, mailbox_files, large_file_bytes, seed):
    rng = random.Random(seed)
    os.makedirs(root, exist_ok=True)
    make_mailboxes(root, mailbox_files, rng)
    make_system_tree(root, large_file_bytes, rng)
    make_log_files(root)
    put_markers(root)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("root", help="folder to fill (created when missing)")
    parser.add_argument("--reset-markers", action="store_true", help="only put safe and safe2 back")
    parser.add_argument("--mailbox-files", type=int, default=40, help="files under access2 (default 40)")
    parser.add_argument("--large-file-bytes", type=int, default=3 << 20, help="size of ST/VOICE.DAT (default 3 MiB)")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args(argv)
    if args.mailbox_files < 0 or args.large_file_bytes < 0:
        parser.error("counts and sizes cannot be negative")
    try:
        if args.reset_markers:
            os.makedirs(args.root, exist_ok=True)
            put_markers(args.root)
        else:
            make_tree(args.root, args.mailbox_files, args.large_file_bytes, args.seed)
    except OSError as err:
        print("make_sample_tree: %s" % err, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
