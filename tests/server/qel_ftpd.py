#!/usr/bin/python3
"""FTP server that speaks the Velmora server's dialect, with switchable faults.

The Velmora server names directories its own way: "\\" separates like "/",
a first component such as "7.0" or "7.1" names the FTP root, and PWD answers
with the directory in the form it was entered. Tests run this server on a
loopback port and switch faults on from the command line; fault counters
count commands over all connections of one server process.
"""

import argparse
import collections
import errno
import fnmatch
import glob
import logging
import os
import random
import re
import signal
import sys
import time

# pyftpdlib loads pyOpenSSL for FTPS when it is installed; we serve plain FTP, and skipping it
# halves the start-up time every test pays.
sys.modules.setdefault("OpenSSL", None)

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import ActiveDTP, BufferedIteratorProducer, DTPHandler, FileProducer, FTPHandler, _FileReadWriteError
from pyftpdlib.ioloop import RetryError
from pyftpdlib.servers import FTPServer, MultiprocessFTPServer

USER = "tas"
PASSWORD = "ulm D-XI"
BANNER = "Velmora test server ready."

RELEASE_COMPONENT = re.compile(r"[0-9]\.[0-9](\.[0-9])?")

logger = logging.getLogger("qel_ftpd")


# --- The dialect's paths ---------------------------------------------------


class Location:
    """A place on the server as the client named it.

    `prefix` is "/" for a path entered with a leading separator, or the
    release component ("7.0") it was entered with; `parts` are the
    components below the FTP root.
    """

    def __init__(self, prefix="/", parts=()):
        self.prefix = prefix
        self.parts = tuple(parts)

    @property
    def canonical(self):
        return "/" + "/".join(self.parts)

    @property
    def display(self):
        if self.prefix == "/":
            return self.canonical
        return "/".join((self.prefix,) + self.parts)

    def resolve(self, text):
        """Where `text` leads when entered here."""
        components = text.replace("\\", "/").split("/")
        if text[:1] in ("/", "\\"):
            base = Location("/")
        elif RELEASE_COMPONENT.fullmatch(components[0]):
            base = Location(components[0])
            components = components[1:]
        else:
            base = self
        parts = list(base.parts)
        for component in components:
            if component in ("", "."):
                continue
            if component == "..":
                if parts:
                    parts.pop()
                continue
            parts.append(component)
        return Location(base.prefix, parts)


class DialectFS(AbstractedFS):
    """Maps the dialect's paths onto the served folder."""

    question_marks = False
    hostile_entries = False
    control_entries = False

    HOSTILE_LINES = (
        b"-rw-r--r--   1 tas      tas            10 Jan 01 12:00 ..\r\n",
        b"-rw-r--r--   1 tas      tas            10 Jan 01 12:00 .\r\n",
        b"-rw-r--r--   1 tas      tas            10 Jan 01 12:00 ../escape.dat\r\n",
        b"-rw-r--r--   1 tas      tas            10 Jan 01 12:00 sub/evil.dat\r\n",
        b"-rw-r--r--   1 tas      tas            10 Jan 01 12:00 back\\slash.dat\r\n",
        b"this is not a listing line\r\n",
        b"-rw-r--r--   1 tas      tas    notanumber Jan 01 12:00 badsize.dat\r\n",
    )

    # Names no honest server lists: control characters, and one longer than any path.
    CONTROL_LINES = (
        b"-rw-r--r--   1 tas      tas            10 Jan 01 12:00 nul\x00name.dat\r\n",
        b"-rw-r--r--   1 tas      tas            10 Jan 01 12:00 cr\rname.dat\r\n",
        b"-rw-r--r--   1 tas      tas            10 Jan 01 12:00 " + b"L" * 5000 + b".dat\r\n",
        b"drwxr-xr-x   2 tas      tas          4096 Jan 01 12:00 " + b"D" * 5000 + b"\r\n",
    )

    def __init__(self, root, cmd_channel):
        super().__init__(root, cmd_channel)
        self.location = Location()

    def ftpnorm(self, ftppath):
        return self.location.resolve(ftppath).canonical

    def enter(self, location):
        self.location = location
        self.cwd = location.canonical

    def format_list(self, basedir, listing, ignore_err=True):
        if self.hostile_entries:
            yield from self.HOSTILE_LINES
        if self.control_entries:
            yield from self.CONTROL_LINES
        if not self.question_marks:
            yield from super().format_list(basedir, listing, ignore_err)
            return
        for name in listing:
            for line in super().format_list(basedir, [name], ignore_err):
                yield self._with_question_marks(line, name)

    @staticmethod
    def _with_question_marks(line, name):
        tail = name.encode("utf8", "replace") + b"\r\n"
        if not line.endswith(tail):
            return line
        return line[: -len(tail)] + tail.replace(b" ", b"?")


# --- Fault plan --------------------------------------------------------------

FAIL = "fail"
ABORT_DATA = "abort-data"
DROP_CONTROL = "drop-control"
STALL_DATA = "stall-data"
SHORT_DATA = "short-data"

# What a one-shot --answer says for each reply code; 421 also closes the connection.
CANNED_REPLIES = {
    257: "257 The current directory is unknown.",
    421: "421 Service not available, closing control connection.",
    425: "425 Can't open data connection.",
    450: "450 Requested file action not taken.",
    500: "500 Command not understood.",
    550: "550 Requested action not taken.",
}


class TransferFault:
    def __init__(self, command, kind):
        self.command = command
        self.kind = kind


class FaultPlan:
    """Which commands misbehave; counters span all connections."""

    def __init__(self, args):
        self.counts = collections.Counter()
        self.logins = 0
        self.max_logins = args.max_logins
        self.sessions = 0
        self.max_sessions = args.max_sessions
        self.transfer_faults = {"RETR": {}, "STOR": {}}
        self._plan("RETR", args.stall_data_retr, STALL_DATA)
        self._plan("RETR", args.drop_data_retr, ABORT_DATA)
        self._plan("RETR", args.drop_control_retr, DROP_CONTROL)
        self._plan("RETR", args.fail_retr, FAIL)
        self._plan("RETR", args.short_retr, SHORT_DATA)
        self._plan("STOR", args.drop_data_stor, ABORT_DATA)
        self._plan("STOR", args.drop_control_stor, DROP_CONTROL)
        self._plan("STOR", args.stall_data_stor, STALL_DATA)
        self._plan("STOR", args.fail_stor, FAIL)
        self.stalls = collections.defaultdict(set)
        for command, numbers in args.stall_command:
            self.stalls[command] |= numbers
        self.fail_pwd_from = 1 if args.fail_pwd else args.fail_pwd_after
        self.answers = {(command, number): code for command, number, code in args.answer}
        self.refused_deletes = {Location().resolve(p).canonical for p in args.refuse_delete}
        self.closing_deletes = {Location().resolve(p).canonical for p in args.close_on_delete}
        self.hostile = set(args.hostile)
        self.pwd_says = args.pwd_says

    def _plan(self, command, numbers, kind):
        for number in numbers:
            self.transfer_faults[command][number] = kind

    def count(self, command):
        self.counts[command] += 1
        return self.counts[command]

    def stalls_at(self, command, number):
        return number in self.stalls.get(command, ())

    def transfer_fault(self, command, number):
        kind = self.transfer_faults[command].get(number)
        return TransferFault(command, kind) if kind else None

    def canned_answer(self, command, number):
        return self.answers.get((command, number))

    def pwd_fails(self, number):
        return self.fail_pwd_from is not None and number >= self.fail_pwd_from

    def logins_exhausted(self):
        return self.max_logins is not None and self.logins >= self.max_logins

    def sessions_full(self):
        return self.max_sessions is not None and self.sessions >= self.max_sessions

    def refuses_delete(self, canonical_path):
        return canonical_path in self.refused_deletes

    def closes_on_delete(self, canonical_path):
        return canonical_path in self.closing_deletes


# --- Data connections ------------------------------------------------------


class LimitedFileProducer(FileProducer):
    """Sends at most `limit` bytes of the file, then reports the end."""

    def __init__(self, file, type, limit):
        super().__init__(file, type)
        self._left = limit

    def more(self):
        if self._left <= 0:
            return b""
        try:
            data = self.file.read(min(self.buffer_size, self._left))
        except OSError as err:
            raise _FileReadWriteError(err)
        self._left -= len(data)
        if self._data_wrapper is not None:
            data = self._data_wrapper(data)
        return data


def half_of(file):
    size = os.fstat(file.fileno()).st_size
    return max(1, size // 2) if size else 0


class FaultyDTPHandler(DTPHandler):
    """A data connection that can break off as the fault plan says."""

    def _fault(self):
        fault = self.cmd_channel.transfer_fault
        # A short transfer ends like a whole one; only its producer knows better.
        if fault is not None and fault.command == self.cmd and fault.kind != SHORT_DATA:
            return fault
        return None

    def use_sendfile(self):
        # The limit of a faulty transfer is applied by the producer.
        return self.cmd_channel.transfer_fault is None and super().use_sendfile()

    def handle_read(self):
        fault = self._fault()
        if fault is None or not self.receive:
            return super().handle_read()
        try:
            chunk = self.recv(self.ac_in_buffer_size)
        except RetryError:
            return
        except OSError:
            return self.handle_error()
        if self._closed:
            return
        kept = chunk[: max(1, len(chunk) // 2)]
        if self._data_wrapper is not None:
            kept = self._data_wrapper(kept)
        self.tot_bytes_received += len(chunk)
        self.file_obj.write(kept)
        self._break_off(fault)

    handle_read_event = handle_read

    def handle_close(self):
        fault = self._fault()
        if fault is None or self._closed:
            return super().handle_close()
        self._break_off(fault)

    def _break_off(self, fault):
        if fault.kind == STALL_DATA:
            # Leave the socket open but never serve it again.
            self.del_channel()
            return
        if fault.kind == ABORT_DATA:
            self.transfer_finished = False
            self._resp = ("426 Connection closed; transfer aborted.", logger.info)
            self.close()
            return
        control = self.cmd_channel
        self._resp = ()
        self.close()
        control.close()


# --- Control connections -------------------------------------------------------


class HandingOverActiveDTP(ActiveDTP):
    """pyftpdlib keeps the PORT connector after it has handed its socket to the data channel
    and closes it again when the session ends or the next PORT comes. By then its descriptor
    number may belong to another session's connection, which is then dropped from the event
    loop and never answered (pyftpdlib pull request 657). Sessions at once hit it at once."""

    def handle_connect(self):
        super().handle_connect()
        if self.cmd_channel.data_channel is not None and self.cmd_channel._dtp_connector is self:
            self.cmd_channel._dtp_connector = None


class VelmoraHandler(FTPHandler):
    banner = BANNER
    abstracted_fs = DialectFS
    dtp_handler = FaultyDTPHandler
    active_dtp = HandingOverActiveDTP
    auth_failed_timeout = 0
    faults = None

    def __init__(self, conn, server, ioloop=None):
        self.transfer_fault = None
        self._silenced = False
        self._in_session = False
        self._command = ""
        self._command_number = 0
        self._raw_arg = ""
        super().__init__(conn, server, ioloop)

    def handle(self):
        if self.faults.sessions_full():
            self.respond("421 Too many connections; service not available.")
            self.close_when_done()
            return
        if self.faults.logins_exhausted():
            self.respond("421 Too many logins; service not available.")
            self.close_when_done()
            return
        self._in_session = True
        self.faults.sessions += 1
        if "multiline" in self.faults.hostile:
            self.push("220-Velmora test server\r\n220-second line\r\n")
        if "trickle" in self.faults.hostile:
            self._silence()
            self._trickle(0)
            return
        super().handle()

    TRICKLE = b"220-Velmora test server, one byte at a time\r\n"

    def _trickle(self, index):
        """An endless greeting, one byte every 50 ms: never idle, never done."""
        if not self.connected:
            return
        super(FTPHandler, self).push(self.TRICKLE[index : index + 1])
        self.ioloop.call_later(0.05, self._trickle, (index + 1) % len(self.TRICKLE), _errback=self.handle_error)

    def close(self):
        # A refused connection never took a place, and close() may run more than once.
        if self._in_session:
            self._in_session = False
            self.faults.sessions -= 1
        super().close()

    def handle_auth_success(self, home, password, msg_login):
        super().handle_auth_success(home, password, msg_login)
        self.faults.logins += 1

    def pre_process_command(self, line, cmd, arg):
        if self._silenced:
            return
        number = self.faults.count(cmd)
        if self.faults.stalls_at(cmd, number):
            self._silence()
            return
        self._command = cmd
        self._command_number = number
        self._raw_arg = arg
        code = self.faults.canned_answer(cmd, number)
        if code is not None:
            self._answer_canned(code)
            return
        super().pre_process_command(line, cmd, arg)

    def _answer_canned(self, code):
        self.respond(CANNED_REPLIES[code])
        if code == 421:
            self.close_when_done()

    def _silence(self):
        """Never answer this connection again, but keep it open."""
        self._silenced = True
        if self._idler is not None and not self._idler.cancelled:
            self._idler.cancel()

    def _on_dtp_close(self):
        self.transfer_fault = None
        super()._on_dtp_close()

    def _make_eport(self, ip, port):
        if "no-connect-back" in self.faults.hostile:
            self.respond("200 Active data connection established.")
            return
        super()._make_eport(ip, port)

    # Directories

    def ftp_PWD(self, line):
        if self.faults.pwd_fails(self._command_number):
            self.respond("550 Cannot determine the current directory.")
            return
        display = self.fs.location.display
        if "pwd-absolute" in self.faults.hostile:
            display = self.fs.location.canonical
        if self.faults.pwd_says is not None:
            self.respond('257 "%s" is the current directory.' % self.faults.pwd_says)
        elif "pwd-unquoted" in self.faults.hostile:
            self.respond("257 %s is the current directory." % display)
        elif "huge-reply" in self.faults.hostile:
            self.respond('257 "%s" %s' % (display, "x" * (2 << 20)))
        elif "pwd-elsewhere" in self.faults.hostile:
            self.respond('257 "/../../qel-escape/%s" is the current directory.' % display)
        elif "pwd-no-eol" in self.faults.hostile:
            self.push('257 "%s%s' % (display, "x" * (3 << 20)))
            self._silence()
        elif "pwd-garbage" in self.faults.hostile:
            super(FTPHandler, self).push(b"\x00\xff\xfe\x1b[2J\x80\x07 garbage\r\n")
        else:
            self.respond('257 "%s" is the current directory.' % display.replace('"', '""'))

    def ftp_CWD(self, path):
        target = self.fs.location.resolve(self._raw_arg)
        if not self.fs.isdir(path):
            self.respond("550 No such directory.")
            return None
        self.fs.enter(target)
        self.respond('250 "%s" is the current directory.' % target.display.replace('"', '""'))
        return path

    def ftp_CDUP(self, path):
        self._raw_arg = ".."
        return self.ftp_CWD(path)

    def ftp_LIST(self, path):
        if self.fs.lexists(path) or not glob.has_magic(os.path.basename(path)):
            return super().ftp_LIST(path)
        directory, pattern = os.path.split(path)
        try:
            names = sorted(fnmatch.filter(self.fs.listdir(directory), pattern))
        except OSError:
            names = []
        if not names:
            self.respond("550 No files found.")
            return None
        producer = BufferedIteratorProducer(self.fs.format_list(directory, names))
        self.push_dtp_data(producer, isproducer=True, cmd="LIST")
        return path

    # Transfers

    def ftp_RETR(self, file):
        fault = self.faults.transfer_fault("RETR", self._command_number)
        return self._transfer(fault, super().ftp_RETR, file)

    def ftp_STOR(self, file, mode="w"):
        fault = None
        if self._command == "STOR":
            fault = self.faults.transfer_fault("STOR", self._command_number)
        return self._transfer(fault, lambda f: super(VelmoraHandler, self).ftp_STOR(f, mode), file)

    def _transfer(self, fault, start, file):
        if fault is not None and fault.kind == FAIL:
            self.respond("550 Cannot access the file.")
            return None
        self.transfer_fault = fault
        result = start(file)
        if result is None:
            self.transfer_fault = None
        return result

    def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
        fault = self.transfer_fault
        if cmd == "RETR" and fault is not None:
            data = LimitedFileProducer(file, self._current_type, half_of(file))
        super().push_dtp_data(data, isproducer, file, cmd)

    # Deletion

    def ftp_DELE(self, path):
        if self.faults.closes_on_delete(self.fs.fs2ftp(path)):
            self._answer_canned(421)
            return None
        if self.faults.refuses_delete(self.fs.fs2ftp(path)):
            self.respond("550 Permission denied.")
            return None
        return super().ftp_DELE(path)

    def ftp_RMD(self, path):
        if self.faults.refuses_delete(self.fs.fs2ftp(path)):
            self.respond("550 Permission denied.")
            return None
        return super().ftp_RMD(path)


# --- Command line ----------------------------------------------------------------


def numbers(text):
    try:
        values = {int(part) for part in text.split(",")}
    except ValueError:
        raise argparse.ArgumentTypeError("expected N or N,M,...: %r" % text)
    if min(values) < 1:
        raise argparse.ArgumentTypeError("counts start at 1: %r" % text)
    return values


def command_numbers(text):
    command, sep, rest = text.partition(":")
    if not sep or not command:
        raise argparse.ArgumentTypeError("expected CMD:N, for example RETR:3: %r" % text)
    return command.upper(), numbers(rest)


def canned_answer(text):
    spec, sep, code = text.partition("=")
    command, colon, number = spec.partition(":")
    try:
        command_number, reply_code = int(number), int(code)
    except ValueError:
        reply_code = command_number = None
    if not sep or not colon or not command or reply_code not in CANNED_REPLIES or not command_number:
        raise argparse.ArgumentTypeError(
            "expected CMD:N=CODE with CODE one of %s: %r" % (sorted(CANNED_REPLIES), text)
        )
    return command.upper(), command_number, reply_code


HOSTILE_MODES = (
    "pwd-absolute",
    "pwd-unquoted",
    "huge-reply",
    "multiline",
    "trickle",
    "list-escape",
    "list-control",
    "pwd-elsewhere",
    "pwd-no-eol",
    "pwd-garbage",
    "no-connect-back",
)


def parse_args(argv):
    parser = argparse.ArgumentParser(
        description="FTP server speaking the Velmora dialect, for tests. "
        "Login: user %r, password %r. Counters of the fault switches count the "
        "commands received over all connections, from 1." % (USER, PASSWORD)
    )
    parser.add_argument("--root", required=True, help="folder served as the FTP root")
    parser.add_argument("--bind", default="127.0.0.1", help="address to listen on (127.0.0.1 or ::1)")
    parser.add_argument("--port", type=int, default=0, help="port; 0 picks a free one outside the kernel's ephemeral range")
    parser.add_argument("--port-file", help="write the port here once listening")
    parser.add_argument(
        "--port-patience",
        type=float,
        default=10.0,
        metavar="SECONDS",
        help="how long to wait for a given port that is busy (default 10)",
    )
    parser.add_argument("--verbose", action="store_true", help="log every command to stderr")
    parser.add_argument(
        "--fork-sessions",
        action="store_true",
        help="serve each session in a process of its own, as stock FTP servers do, so that "
        "sessions at once run at once (for benchmarks: the fault switches then count per session)",
    )

    faults = parser.add_argument_group("fault switches")

    def counted(option, text):
        faults.add_argument(option, type=numbers, default=set(), metavar="N[,M...]", help=text)

    counted("--fail-retr", "the Nth RETR answers 550")
    counted("--fail-stor", "the Nth STOR answers 550")
    counted("--drop-data-retr", "the Nth RETR closes its data connection after half the file and answers 426")
    counted("--drop-data-stor", "the Nth STOR keeps half of the first block received, closes its data connection and answers 426")
    counted("--drop-control-retr", "the Nth RETR drops the control and data connections after half the file")
    counted("--drop-control-stor", "the Nth STOR drops the control and data connections after the first block received")
    counted("--short-retr", "the Nth RETR sends half the file, then ends it with 226 as if whole")
    counted("--stall-data-retr", "the Nth RETR sends half the file, then neither sends nor closes")
    counted("--stall-data-stor", "the Nth STOR keeps half of the first block received, then neither reads nor closes")
    faults.add_argument(
        "--stall-command",
        type=command_numbers,
        action="append",
        default=[],
        metavar="CMD:N[,M...]",
        help="the Nth CMD (USER, PWD, LIST, RETR...) is never answered, nor is anything after it "
        "on that connection; repeatable",
    )
    faults.add_argument(
        "--answer",
        type=canned_answer,
        action="append",
        default=[],
        metavar="CMD:N=CODE",
        help="the Nth CMD (LIST, PWD, PORT, DELE...) is not carried out but answered with CODE "
        "(%s; 257 without a quoted path; 421 then closes the connection); repeatable"
        % ", ".join(str(code) for code in sorted(CANNED_REPLIES)),
    )
    faults.add_argument("--max-logins", type=int, metavar="N", help="after N logins, greet new connections with 421 and close")
    faults.add_argument(
        "--max-sessions",
        type=int,
        metavar="N",
        help="while N connections are open at once, greet a further one with 421 and close it; "
        "it does not count",
    )
    faults.add_argument("--fail-pwd", action="store_true", help="every PWD answers 550")
    faults.add_argument("--fail-pwd-after", type=int, metavar="N", help="PWD answers 550 from its Nth use on")
    faults.add_argument(
        "--refuse-delete",
        action="append",
        default=[],
        metavar="PATH",
        help="DELE or RMD of PATH (dialect form, e.g. 7.0/access2/a/x.dat) answers 550; repeatable",
    )
    faults.add_argument(
        "--close-on-delete",
        action="append",
        default=[],
        metavar="PATH",
        help="DELE of PATH (dialect form) answers 421 and closes the connection; repeatable",
    )
    faults.add_argument("--pwd-says", metavar="PATH", help="every PWD names PATH, wherever the client stands")
    faults.add_argument("--list-question-mark", action="store_true", help='LIST shows every blank in a name as "?"')
    faults.add_argument(
        "--hostile",
        action="append",
        default=[],
        choices=HOSTILE_MODES,
        help="pwd-absolute: PWD names the directory from the root ('/access2') whatever form it "
        "was entered in; pwd-unquoted: 257 without quotes; huge-reply: a 2 MiB PWD reply; multiline: "
        "multi-line greeting; trickle: an endless greeting, one byte every 50 ms; list-escape: LIST adds "
        "names like '..', '../x', 'a/b' and garbage lines; "
        "list-control: LIST adds names with control characters and longer than any path; "
        "pwd-elsewhere: 257 names a directory outside the root; pwd-no-eol: 3 MiB of PWD reply "
        "without a line end, then silence; pwd-garbage: PWD answers binary garbage; "
        "no-connect-back: PORT and EPRT are accepted but the server never connects",
    )
    args = parser.parse_args(argv)
    if not os.path.isdir(args.root):
        parser.error("--root %s is not a folder" % args.root)
    return args


def configure_logging(verbose):
    library = logging.getLogger("pyftpdlib")
    if verbose:
        logging.basicConfig(stream=sys.stderr, level=logging.DEBUG, format="[%(asctime)s] %(message)s")
        library.setLevel(logging.DEBUG)
        return
    library.addHandler(logging.NullHandler())
    library.propagate = False
    logger.addHandler(logging.NullHandler())
    logger.propagate = False


def write_port_file(path, port):
    temporary = "%s.%d.tmp" % (path, os.getpid())
    with open(temporary, "w") as out:
        out.write("%d\n" % port)
    os.replace(temporary, path)


def make_server(args):
    authorizer = DummyAuthorizer()
    authorizer.add_user(USER, PASSWORD, os.path.realpath(args.root), perm="elradfmwMT")
    filesystem = type(
        "ConfiguredFS",
        (DialectFS,),
        {
            "question_marks": args.list_question_mark,
            "hostile_entries": "list-escape" in args.hostile,
            "control_entries": "list-control" in args.hostile,
        },
    )
    handler = type(
        "ConfiguredHandler",
        (VelmoraHandler,),
        {"authorizer": authorizer, "faults": FaultPlan(args), "abstracted_fs": filesystem},
    )
    server_class = MultiprocessFTPServer if args.fork_sessions else FTPServer
    server = server_class((args.bind, args.port), handler, backlog=512)
    server.max_cons = 0
    return server


STATIC_PORTS_FLOOR = 20000
PORT_CANDIDATES = 200


def ports_the_kernel_never_assigns():
    """Ports outside the ephemeral range: no client socket or passive listener of a
    parallel test can take one of them while this server restarts on it."""
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as source:
            low, high = (int(value) for value in source.read().split())
    except (OSError, ValueError):
        return []
    return list(range(STATIC_PORTS_FLOOR, low)) + list(range(high + 1, 65536))


def address_in_use(err):
    # pyftpdlib wraps the socket's error in another OSError.
    inner = err.args[0] if err.args and isinstance(err.args[0], OSError) else err
    return inner.errno == errno.EADDRINUSE


def listen_on_a_free_port(args):
    ports = ports_the_kernel_never_assigns()
    for port in random.sample(ports, min(PORT_CANDIDATES, len(ports))):
        args.port = port
        try:
            return make_server(args)
        except OSError as err:
            if not address_in_use(err):
                raise
    args.port = 0
    return make_server(args)


def listen_on_the_given_port(args):
    # A restart reuses its port; whoever holds it in between usually lets go soon.
    deadline = time.monotonic() + args.port_patience
    while True:
        try:
            return make_server(args)
        except OSError as err:
            if not address_in_use(err) or time.monotonic() > deadline:
                raise
        time.sleep(0.05)


def listen(args):
    if args.port == 0:
        return listen_on_a_free_port(args)
    return listen_on_the_given_port(args)


def stop_on_sigterm(signum, frame):
    raise SystemExit(0)


def main(argv=None):
    args = parse_args(argv)
    configure_logging(args.verbose)
    try:
        server = listen(args)
    except OSError as err:
        print("qel_ftpd: cannot listen on %s port %d: %s" % (args.bind, args.port, err), file=sys.stderr)
        return 1
    signal.signal(signal.SIGTERM, stop_on_sigterm)
    signal.signal(signal.SIGINT, stop_on_sigterm)
    if args.port_file:
        write_port_file(args.port_file, server.socket.getsockname()[1])
    server.serve_forever(handle_exit=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
