#!/usr/bin/python3
"""Checks that qel_ftpd.py speaks the Velmora dialect and that its fault switches work.

Every case starts its own server on a free loopback port with a fresh root.
"""

import ftplib
import io
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "qel_ftpd.py")
DEMO = os.path.join(HERE, "..", "..", "tools", "demo-server.sh")
USER = "tas"
PASSWORD = "ulm D-XI"
TIMEOUT = 5


def ipv6_loopback_available():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as probe:
            probe.bind(("::1", 0))
        return True
    except OSError:
        return False


def build_tree(root):
    files = {
        "access2/a/x.dat": bytes(range(256)) * 40,
        "access2/a/b/deep.dat": b"deep",
        "access2/with space.dat": b"spaced",
        "access2/empty.dat": b"",
        "access2/notes.txt": b"line one\nline two\n",
        'access2/q"dir/inner.dat': b"quoted",
        "ST/syscfg.dat": b"cfg",
        "safe": b"",
        "safe2": b"",
    }
    for relative, content in files.items():
        path = os.path.join(root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(content)
    os.makedirs(os.path.join(root, "access2", "emptydir"))
    return files


class Server:
    """qel_ftpd.py as a child process, stopped on exit from the with-block."""

    def __init__(self, *faults, bind="127.0.0.1", port=0):
        self.root = tempfile.mkdtemp(prefix="qel-dialect-")
        self.files = build_tree(self.root)
        self.bind = bind
        self.port = port
        self.faults = list(faults)

    def __enter__(self):
        port_file = os.path.join(self.root, ".port")
        command = [sys.executable, SERVER, "--root", self.root, "--bind", self.bind, "--port", str(self.port), "--port-file", port_file]
        self.process = subprocess.Popen(command + self.faults, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 15
        while not os.path.exists(port_file):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.process.kill()
                message = self.process.communicate()[1].decode()
                raise RuntimeError("server did not start: " + message)
            time.sleep(0.02)
        with open(port_file) as text:
            self.port = int(text.read())
        os.remove(port_file)
        return self

    def __exit__(self, *exc):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stderr.close()

    def connect(self, login=True, passive=False, timeout=TIMEOUT):
        ftp = ftplib.FTP(timeout=timeout)
        ftp.connect(self.bind, self.port)
        ftp.set_pasv(passive)
        if login:
            ftp.login(USER, PASSWORD)
        return ftp

    def path(self, relative):
        return os.path.join(self.root, relative)


def read_bytes(path):
    with open(path, "rb") as source:
        return source.read()


def command_line(pid):
    try:
        return read_bytes("/proc/%d/cmdline" % pid)
    except OSError:
        return b""


def retrieve(ftp, path):
    data = io.BytesIO()
    ftp.retrbinary("RETR " + path, data.write)
    return data.getvalue()


def listing(ftp, path=None):
    lines = []
    ftp.retrlines("LIST" + (" " + path if path else ""), lines.append)
    return lines


def close(ftp):
    try:
        ftp.quit()
    except (ftplib.Error, OSError, EOFError):
        ftp.close()


class Dialect(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def setUp(self):
        self.ftp = self.server.connect()

    def tearDown(self):
        close(self.ftp)

    def test_greeting_and_logins(self):
        ftp = self.server.connect(login=False)
        self.assertEqual(ftp.getwelcome(), "220 Velmora test server ready.")
        for user, password in [(USER, "wrong"), ("anonymous", PASSWORD), ("TAS", PASSWORD)]:
            with self.subTest(user=user, password=password):
                with self.assertRaisesRegex(ftplib.error_perm, "^530"):
                    ftp.login(user, password)
        close(ftp)

    def test_pwd_reports_the_form_entered(self):
        cases = [
            ([], "/"),
            (["7.0/access2"], "7.0/access2"),
            (["/ST"], "/ST"),
            (["7.0/access2", "a"], "7.0/access2/a"),
            (["7.0/access2", "a/b"], "7.0/access2/a/b"),
            (["/access2", "a"], "/access2/a"),
            (["access2", "a"], "/access2/a"),
            (["\\ST\\"], "/ST"),
            (["7.0\\access2\\a\\"], "7.0/access2/a"),
            (["7.0/access2/"], "7.0/access2"),
            (["7.0/access2", ".."], "7.0"),
            (["7.0/access2", "CDUP"], "7.0"),
            (["/ST", "CDUP", "CDUP"], "/"),
            (["7.0/access2/a", "../../ST"], "7.0/ST"),
            (["/access2/../../.."], "/"),
            (["7.1"], "7.1"),
            (["7.0.3/access2"], "7.0.3/access2"),
            (["/ST", "7.0/access2"], "7.0/access2"),
            (["7.0/access2", "./a/."], "7.0/access2/a"),
        ]
        for steps, expected in cases:
            with self.subTest(steps=steps):
                ftp = self.server.connect()
                for step in steps:
                    ftp.sendcmd(step if step == "CDUP" else "CWD " + step)
                self.assertEqual(ftp.pwd(), expected)
                close(ftp)

    def test_pwd_doubles_quotes(self):
        self.ftp.sendcmd('CWD 7.0/access2/q"dir')
        self.assertEqual(self.ftp.sendcmd("PWD"), '257 "7.0/access2/q""dir" is the current directory.')
        self.assertEqual(self.ftp.pwd(), '7.0/access2/q"dir')

    def test_cwd_into_missing_directory_or_file_fails_and_keeps_directory(self):
        self.ftp.sendcmd("CWD 7.0/access2")
        for target in ["nothere", "7.0/nothere", "/access2/a/x.dat"]:
            with self.subTest(target=target):
                with self.assertRaisesRegex(ftplib.error_perm, "^550"):
                    self.ftp.sendcmd("CWD " + target)
                self.assertEqual(self.ftp.pwd(), "7.0/access2")

    def test_release_component_names_the_root_for_every_command(self):
        expected = self.server.files["access2/a/x.dat"]
        for name in ["7.0/access2/a/x.dat", "7.1\\access2\\a\\x.dat", "/access2/a/x.dat", "\\access2/a\\x.dat"]:
            with self.subTest(name=name):
                self.assertEqual(retrieve(self.ftp, name), expected)
                self.ftp.voidcmd("TYPE I")
                self.assertEqual(self.ftp.sendcmd("SIZE " + name), "213 %d" % len(expected))
                self.assertTrue(self.ftp.sendcmd("MDTM " + name).startswith("213 "))
        self.ftp.storbinary("STOR 7.0\\access2\\up.dat", io.BytesIO(b"uploaded"))
        self.assertEqual(read_bytes(self.server.path("access2/up.dat")), b"uploaded")
        self.ftp.sendcmd("MKD 7.0/access2/newdir")
        self.assertTrue(os.path.isdir(self.server.path("access2/newdir")))
        self.ftp.sendcmd("RMD 7.0/access2/newdir")
        self.ftp.sendcmd("DELE 7.1/access2/up.dat")
        self.assertFalse(os.path.exists(self.server.path("access2/newdir")))
        self.assertFalse(os.path.exists(self.server.path("access2/up.dat")))
        self.assertIn("safe", " ".join(listing(self.ftp, "7.1")))

    def test_relative_paths_follow_the_current_directory(self):
        self.ftp.sendcmd("CWD 7.0/access2")
        self.assertEqual(retrieve(self.ftp, "a/b/deep.dat"), b"deep")
        self.assertEqual(retrieve(self.ftp, "a\\b\\deep.dat"), b"deep")
        self.assertEqual(retrieve(self.ftp, "../ST/syscfg.dat"), b"cfg")

    def test_dotdot_never_climbs_above_the_root(self):
        outside = os.path.basename(self.server.root)
        self.ftp.sendcmd("CWD 7.0/access2")
        for name in ["../../../etc/passwd", "../../" + outside + "/safe", "7.0/../../etc/passwd"]:
            with self.subTest(name=name):
                with self.assertRaisesRegex(ftplib.error_perm, "^550"):
                    retrieve(self.ftp, name)
        self.assertEqual(retrieve(self.ftp, "../../../../ST/syscfg.dat"), b"cfg")

    def test_list_is_unix_long_form_and_lists_a_single_file(self):
        lines = listing(self.ftp, "7.0/access2")
        names = sorted(line.split(None, 8)[8] for line in lines)
        self.assertEqual(names, sorted(["a", "with space.dat", "empty.dat", "notes.txt", 'q"dir', "emptydir"]))
        directory = [line for line in lines if line.endswith(" a")][0]
        self.assertTrue(directory.startswith("d"))
        single = listing(self.ftp, "7.0/access2/with space.dat")
        self.assertEqual(len(single), 1)
        fields = single[0].split(None, 8)
        self.assertTrue(single[0].startswith("-"))
        self.assertEqual((fields[4], fields[8]), ("6", "with space.dat"))
        self.assertEqual(listing(self.ftp, "7.0/access2/emptydir"), [])

    def test_list_with_a_pattern_lists_matching_names(self):
        lines = listing(self.ftp, "7.0/access2/*.dat")
        self.assertEqual(sorted(line.split(None, 8)[8] for line in lines), ["empty.dat", "with space.dat"])
        with self.assertRaisesRegex(ftplib.error_perm, "^550"):
            listing(self.ftp, "7.0/access2/*.none")

    def test_list_of_missing_path_fails(self):
        with self.assertRaisesRegex(ftplib.error_perm, "^550"):
            listing(self.ftp, "7.0/nothere")

    def test_active_and_passive_transfers_are_byte_exact(self):
        expected = self.server.files["access2/a/x.dat"]
        for passive in (False, True):
            with self.subTest(passive=passive):
                ftp = self.server.connect(passive=passive)
                self.assertEqual(retrieve(ftp, "7.0/access2/a/x.dat"), expected)
                self.assertEqual(retrieve(ftp, "7.0/access2/empty.dat"), b"")
                ftp.storbinary("STOR /ST/copy.dat", io.BytesIO(expected))
                self.assertEqual(read_bytes(self.server.path("ST/copy.dat")), expected)
                close(ftp)

    def test_ascii_type_converts_line_ends(self):
        lines = []
        self.ftp.retrlines("RETR 7.0/access2/notes.txt", lines.append)
        self.assertEqual(lines, ["line one", "line two"])
        self.ftp.voidcmd("TYPE A")
        raw = bytearray()
        with self.ftp.transfercmd("RETR 7.0/access2/notes.txt") as data:
            while chunk := data.recv(4096):
                raw += chunk
        self.ftp.voidresp()
        self.assertEqual(bytes(raw), b"line one\r\nline two\r\n")

    def test_many_sequential_connections_are_fast_and_do_not_leak(self):
        def descriptors():
            return len(os.listdir("/proc/%d/fd" % self.server.process.pid))

        before = descriptors()
        started = time.monotonic()
        for _ in range(200):
            ftp = self.server.connect()
            self.assertEqual(retrieve(ftp, "7.0/access2/a/b/deep.dat"), b"deep")
            close(ftp)
        self.assertLess(time.monotonic() - started, 30)
        self.assertLessEqual(descriptors(), before + 2)


@unittest.skipUnless(ipv6_loopback_available(), "no ::1 on this machine")
class DialectOverIpv6(unittest.TestCase):
    def test_active_and_passive_transfers(self):
        with Server(bind="::1") as server:
            for passive in (False, True):
                with self.subTest(passive=passive):
                    ftp = server.connect(passive=passive)
                    self.assertEqual(retrieve(ftp, "7.0/access2/a/b/deep.dat"), b"deep")
                    ftp.sendcmd("CWD 7.0/access2")
                    self.assertEqual(ftp.pwd(), "7.0/access2")
                    close(ftp)


class Faults(unittest.TestCase):
    def test_failed_transfers_answer_550_on_the_counted_commands(self):
        with Server("--fail-retr", "2,4", "--fail-stor", "1") as server:
            ftp = server.connect()
            outcomes = []
            for _ in range(5):
                try:
                    retrieve(ftp, "7.0/ST/syscfg.dat")
                    outcomes.append("ok")
                except ftplib.error_perm as err:
                    outcomes.append(str(err)[:3])
            self.assertEqual(outcomes, ["ok", "550", "ok", "550", "ok"])
            with self.assertRaisesRegex(ftplib.error_perm, "^550"):
                ftp.storbinary("STOR 7.0/ST/new.dat", io.BytesIO(b"x"))
            self.assertFalse(os.path.exists(server.path("ST/new.dat")))
            ftp.storbinary("STOR 7.0/ST/new.dat", io.BytesIO(b"x"))
            close(ftp)

    def test_counters_span_connections(self):
        with Server("--fail-retr", "2") as server:
            first = server.connect()
            retrieve(first, "7.0/ST/syscfg.dat")
            close(first)
            second = server.connect()
            with self.assertRaisesRegex(ftplib.error_perm, "^550"):
                retrieve(second, "7.0/ST/syscfg.dat")
            close(second)

    def test_drop_data_retr_sends_half_then_426(self):
        with Server("--drop-data-retr", "1,3") as server:
            expected = server.files["access2/a/x.dat"]
            for passive in (False, True):
                with self.subTest(passive=passive):
                    ftp = server.connect(passive=passive)
                    received = io.BytesIO()
                    with self.assertRaisesRegex(ftplib.error_temp, "^426"):
                        ftp.retrbinary("RETR 7.0/access2/a/x.dat", received.write)
                    self.assertEqual(received.getvalue(), expected[: len(expected) // 2])
                    self.assertEqual(retrieve(ftp, "7.0/ST/syscfg.dat"), b"cfg")
                    close(ftp)

    def test_drop_data_retr_of_a_one_byte_file_still_fails(self):
        with Server("--drop-data-retr", "1") as server:
            with open(server.path("one.dat"), "wb") as out:
                out.write(b"1")
            ftp = server.connect()
            received = io.BytesIO()
            with self.assertRaisesRegex(ftplib.error_temp, "^426"):
                ftp.retrbinary("RETR 7.1/one.dat", received.write)
            self.assertEqual(received.getvalue(), b"1")
            close(ftp)

    def test_drop_data_stor_keeps_a_partial_file_and_fails(self):
        payload = os.urandom(4 << 20)
        with Server("--drop-data-stor", "1") as server:
            ftp = server.connect()
            with self.assertRaises((ftplib.error_temp, ConnectionError)):
                ftp.storbinary("STOR 7.0/ST/big.dat", io.BytesIO(payload))
            close(ftp)
            stored = read_bytes(server.path("ST/big.dat"))
            self.assertGreater(len(stored), 0)
            self.assertLess(len(stored), len(payload))
            self.assertEqual(stored, payload[: len(stored)])

    def test_drop_control_retr_closes_everything_midway(self):
        with Server("--drop-control-retr", "1") as server:
            ftp = server.connect()
            received = io.BytesIO()
            with self.assertRaises((EOFError, ConnectionError, ftplib.error_temp)):
                ftp.retrbinary("RETR 7.0/access2/a/x.dat", received.write)
                ftp.voidcmd("NOOP")
            self.assertLess(len(received.getvalue()), len(server.files["access2/a/x.dat"]))
            ftp.close()
            again = server.connect()
            self.assertEqual(retrieve(again, "7.0/access2/a/b/deep.dat"), b"deep")
            close(again)

    def test_drop_control_stor_closes_everything_midway(self):
        with Server("--drop-control-stor", "1") as server:
            ftp = server.connect()
            with self.assertRaises((EOFError, ConnectionError, ftplib.error_temp)):
                ftp.storbinary("STOR 7.0/ST/big.dat", io.BytesIO(os.urandom(4 << 20)))
                ftp.voidcmd("NOOP")
            ftp.close()
            again = server.connect()
            again.voidcmd("NOOP")
            close(again)

    def test_stall_command_never_answers_but_others_are_served(self):
        cases = [("PWD:1", lambda ftp: ftp.pwd()), ("LIST:1", lambda ftp: listing(ftp)), ("RETR:1", lambda ftp: retrieve(ftp, "safe"))]
        for stall, action in cases:
            with self.subTest(stall=stall), Server("--stall-command", stall) as server:
                stalled = server.connect(timeout=1)
                started = time.monotonic()
                with self.assertRaises((socket.timeout, TimeoutError)):
                    action(stalled)
                self.assertLess(time.monotonic() - started, 3)
                other = server.connect()
                other.pwd()
                listing(other)
                retrieve(other, "safe")
                close(other)
                stalled.close()

    def test_stall_user_leaves_login_unanswered(self):
        with Server("--stall-command", "USER:1") as server:
            ftp = server.connect(login=False, timeout=1)
            with self.assertRaises((socket.timeout, TimeoutError)):
                ftp.login(USER, PASSWORD)
            ftp.close()
            close(server.connect())

    def test_stall_data_retr_sends_half_and_keeps_the_connection_open(self):
        with Server("--stall-data-retr", "1") as server:
            expected = server.files["access2/a/x.dat"]
            ftp = server.connect(timeout=1)
            ftp.voidcmd("TYPE I")
            data = ftp.transfercmd("RETR 7.0/access2/a/x.dat")
            received = bytearray()
            with self.assertRaises((socket.timeout, TimeoutError)):
                while chunk := data.recv(65536):
                    received += chunk
            self.assertEqual(bytes(received), expected[: len(expected) // 2])
            data.close()
            ftp.close()
            other = server.connect()
            self.assertEqual(retrieve(other, "7.0/access2/a/x.dat"), expected)
            close(other)

    def test_max_logins_refuses_later_connections(self):
        with Server("--max-logins", "2") as server:
            for _ in range(2):
                close(server.connect())
            for _ in range(2):
                with self.assertRaisesRegex(ftplib.error_temp, "^421"):
                    server.connect(login=False)

    def test_max_sessions_refuses_while_full_and_admits_after_a_close(self):
        with Server("--max-sessions", "2") as server:
            first, second = server.connect(), server.connect()
            with self.assertRaisesRegex(ftplib.error_temp, "^421 Too many connections"):
                server.connect(login=False)
            first.voidcmd("NOOP")
            second.voidcmd("NOOP")
            # The server has let go of the session once it closes its end.
            first.sendcmd("QUIT")
            self.assertEqual(first.sock.recv(1), b"")
            first.close()
            third = server.connect()
            third.voidcmd("NOOP")
            with self.assertRaisesRegex(ftplib.error_temp, "^421"):
                server.connect(login=False)
            close(second)
            close(third)

    def test_failed_logins_do_not_count(self):
        with Server("--max-logins", "1") as server:
            ftp = server.connect(login=False)
            with self.assertRaises(ftplib.error_perm):
                ftp.login(USER, "wrong")
            ftp.close()
            close(server.connect())

    def test_pwd_failures(self):
        cases = [(["--fail-pwd"], ["550", "550", "550"]), (["--fail-pwd-after", "2"], ["257", "550", "550"])]
        for switches, expected in cases:
            with self.subTest(switches=switches), Server(*switches) as server:
                outcomes = []
                for _ in range(3):
                    ftp = server.connect()
                    try:
                        outcomes.append(ftp.sendcmd("PWD")[:3])
                    except ftplib.error_perm as err:
                        outcomes.append(str(err)[:3])
                    close(ftp)
                self.assertEqual(outcomes, expected)

    def test_refuse_delete_matches_the_normalised_path(self):
        with Server("--refuse-delete", "7.0/access2/a/x.dat", "--refuse-delete", "/access2/emptydir") as server:
            ftp = server.connect()
            for command in ["DELE /access2/a/x.dat", "DELE 7.1\\access2\\a\\x.dat", "RMD 7.0/access2/emptydir"]:
                with self.subTest(command=command):
                    with self.assertRaisesRegex(ftplib.error_perm, "^550"):
                        ftp.sendcmd(command)
            ftp.sendcmd("CWD 7.0/access2/a")
            with self.assertRaisesRegex(ftplib.error_perm, "^550"):
                ftp.sendcmd("DELE x.dat")
            self.assertTrue(os.path.exists(server.path("access2/a/x.dat")))
            self.assertTrue(os.path.isdir(server.path("access2/emptydir")))
            ftp.sendcmd("DELE b/deep.dat")
            ftp.sendcmd("RMD b")
            self.assertFalse(os.path.exists(server.path("access2/a/b")))
            close(ftp)

    def test_one_shot_answers_short_retr_and_absolute_pwd(self):
        with Server(
            "--answer", "LIST:2=450", "--answer", "PWD:1=257", "--short-retr", "1",
            "--close-on-delete", "7.1/safe", "--hostile", "pwd-absolute",
        ) as server:
            ftp = server.connect()
            self.assertEqual(ftp.sendcmd("PWD"), "257 The current directory is unknown.")
            ftp.sendcmd("CWD 7.0/access2")
            self.assertEqual(ftp.sendcmd("PWD"), '257 "/access2" is the current directory.')
            listing(ftp)
            with self.assertRaisesRegex(ftplib.error_temp, "^450"):
                listing(ftp)
            listing(ftp)
            self.assertEqual(len(retrieve(ftp, "a/x.dat")), 40 * 256 // 2)
            self.assertEqual(len(retrieve(ftp, "a/x.dat")), 40 * 256)
            with self.assertRaisesRegex(ftplib.error_temp, "^421"):
                ftp.sendcmd("DELE 7.1/safe")
            self.assertTrue(os.path.exists(server.path("safe")))
            ftp.close()

    def test_list_question_mark_replaces_blanks_in_names_only(self):
        with Server("--list-question-mark") as server:
            ftp = server.connect()
            lines = listing(ftp, "7.0/access2")
            names = [line.split(None, 8)[8] for line in lines]
            self.assertIn("with?space.dat", names)
            self.assertNotIn("with space.dat", names)
            self.assertEqual(len(lines[0].split(None, 8)), 9)
            close(ftp)

    def test_hostile_modes(self):
        with Server("--hostile", "pwd-unquoted") as server:
            ftp = server.connect()
            self.assertEqual(ftp.sendcmd("PWD"), "257 / is the current directory.")
            close(ftp)
        with Server("--hostile", "multiline") as server:
            ftp = server.connect()
            self.assertTrue(ftp.getwelcome().startswith("220-Velmora test server\n"))
            close(ftp)
        with Server("--hostile", "list-escape") as server:
            ftp = server.connect()
            names = [line.split(None, 8)[-1] for line in listing(ftp, "7.0/ST")]
            self.assertTrue({"..", "../escape.dat", "sub/evil.dat", "syscfg.dat"} <= set(names))
            close(ftp)
        with Server("--hostile", "no-connect-back") as server:
            ftp = server.connect(timeout=1)
            with self.assertRaises((socket.timeout, TimeoutError)):
                retrieve(ftp, "safe")
            ftp.close()
        with Server("--hostile", "list-control") as server:
            ftp = server.connect()
            raw = bytearray()
            ftp.voidcmd("TYPE A")
            with ftp.transfercmd("LIST 7.0/ST") as data:
                while chunk := data.recv(65536):
                    raw += chunk
            ftp.voidresp()
            self.assertIn(b"nul\x00name.dat", raw)
            self.assertIn(b"L" * 5000, raw)
            close(ftp)

    def test_hostile_pwd_replies(self):
        cases = [
            ("huge-reply", lambda reply: len(reply) >= 2 << 20),
            ("pwd-no-eol", lambda reply: len(reply) >= 3 << 20 and not reply.endswith(b"\n")),
            ("pwd-elsewhere", lambda reply: reply.startswith(b'257 "/../../qel-escape/')),
            ("pwd-garbage", lambda reply: reply.startswith(b"\x00\xff")),
        ]
        for mode, acceptable in cases:
            with self.subTest(mode=mode), Server("--hostile", mode) as server:
                with socket.create_connection(("127.0.0.1", server.port), timeout=TIMEOUT) as raw:
                    raw.sendall(b"USER tas\r\nPASS ulm D-XI\r\n")
                    received = bytearray()
                    while received.count(b"\n") < 3:
                        received += raw.recv(4096)
                    raw.sendall(b"PWD\r\n")
                    reply = bytearray()
                    try:
                        while len(reply) < (3 << 20) and (chunk := raw.recv(1 << 16)):
                            reply += chunk
                            if mode != "pwd-no-eol" and reply.endswith(b"\r\n"):
                                break
                    except (socket.timeout, TimeoutError):
                        pass
                    self.assertTrue(acceptable(bytes(reply)), bytes(reply[:80]))

    def test_stall_data_stor_stops_reading_midway(self):
        with Server("--stall-data-stor", "1") as server:
            ftp = server.connect(timeout=1)
            with self.assertRaises((socket.timeout, TimeoutError)):
                ftp.storbinary("STOR 7.0/ST/big.dat", io.BytesIO(os.urandom(32 << 20)))
            ftp.close()
            self.assertLess(os.path.getsize(server.path("ST/big.dat")), 32 << 20)


class Lifecycle(unittest.TestCase):
    def test_sigterm_stops_the_server_promptly(self):
        server = Server().__enter__()
        ftp = server.connect()
        started = time.monotonic()
        server.process.send_signal(signal.SIGTERM)
        self.assertEqual(server.process.wait(5), 0)
        self.assertLess(time.monotonic() - started, 3)
        ftp.close()
        server.__exit__(None, None, None)

    def test_bad_options_fail_with_a_message(self):
        for arguments in [["--root", "/nonexistent/qel"], ["--root", "/tmp", "--fail-retr", "0"], ["--root", "/tmp", "--stall-command", "RETR"]]:
            with self.subTest(arguments=arguments):
                result = subprocess.run([sys.executable, SERVER] + arguments, capture_output=True, timeout=15)
                self.assertEqual(result.returncode, 2)
                self.assertIn(b"error", result.stderr)

    def test_busy_port_fails_with_a_message(self):
        with socket.socket() as busy:
            busy.bind(("127.0.0.1", 0))
            busy.listen()
            port = busy.getsockname()[1]
            result = subprocess.run(
                [sys.executable, SERVER, "--root", "/tmp", "--port", str(port), "--port-patience", "0.3"],
                capture_output=True,
                timeout=15,
            )
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"cannot listen", result.stderr)

    def test_a_given_port_is_waited_for_while_briefly_busy(self):
        busy = socket.socket()
        busy.bind(("127.0.0.1", 0))
        busy.listen()
        port = busy.getsockname()[1]
        release = threading.Timer(0.5, busy.close)
        release.start()
        try:
            with Server(port=port) as server:
                self.assertEqual(server.port, port)
        finally:
            release.cancel()
            busy.close()

    def test_a_free_port_lies_outside_the_kernels_ephemeral_range(self):
        with open("/proc/sys/net/ipv4/ip_local_port_range") as source:
            low, high = (int(value) for value in source.read().split())
        with Server() as server:
            self.assertFalse(low <= server.port <= high, "port %d is one the kernel may hand to any client" % server.port)


class DemoServer(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qel-demo-")
        self.root = os.path.join(self.folder, "server")

    def tearDown(self):
        self.demo("--stop")
        shutil.rmtree(self.folder, ignore_errors=True)

    def demo(self, *arguments):
        return subprocess.run(
            ["bash", DEMO, "--root", self.root] + list(arguments), capture_output=True, text=True, timeout=60
        )

    def test_serves_a_sample_tree_and_puts_markers_back(self):
        started = self.demo("--background")
        self.assertEqual(started.returncode, 0, started.stderr)
        host = [line for line in started.stdout.splitlines() if line.startswith("Velmora demo server: type 127.0.0.1:")]
        self.assertEqual(len(host), 1, started.stdout)
        port = int(host[0].split(":")[2].split()[0])
        with open(os.path.join(self.root + ".state", "port")) as text:
            self.assertEqual(int(text.read()), port)
        for relative in ["ST/syscfg.dat", "ST/SYSDIR.DAT", "ST/MMTA.BOX/MBxProf.001", "access2/100/greetings/M0000.vox",
                         "ST/f983wui/web.log", "LOGS/old/trace0.log", "safe", "safe2"]:
            self.assertTrue(os.path.isfile(os.path.join(self.root, relative)), relative)

        ftp = ftplib.FTP(timeout=TIMEOUT)
        ftp.connect("127.0.0.1", port)
        ftp.login(USER, PASSWORD)
        ftp.sendcmd("CWD 7.0/ST")
        self.assertEqual(ftp.pwd(), "7.0/ST")
        ftp.delete("7.1/safe")
        close(ftp)
        self.assertFalse(os.path.exists(os.path.join(self.root, "safe")))

        self.assertEqual(self.demo("--reset-markers").returncode, 0)
        self.assertTrue(os.path.isfile(os.path.join(self.root, "safe")))

        pid = int(read_bytes(os.path.join(self.root + ".state", "pid")))
        self.assertEqual(self.demo("--stop").returncode, 0)
        self.assertNotIn(b"qel_ftpd", command_line(pid), "a stopped server is gone or a zombie")

    def test_rejects_bad_options(self):
        for arguments in [("--port", "x"), ("--no-such-option",)]:
            with self.subTest(arguments=arguments):
                self.assertNotEqual(self.demo(*arguments).returncode, 0)


if __name__ == "__main__":
    unittest.main(verbosity=1)
