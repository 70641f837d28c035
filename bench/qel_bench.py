#!/usr/bin/python3
"""Backup and restore speed of qel beside two peers, on loopback.

Peers: a Python ftplib loop that opens a fresh active-mode connection per file, and lftp
mirroring over one connection. Servers: the test server (tests/server/qel_ftpd.py) and, when
run as root, vsftpd with its own loopback configuration. Runs are interleaved (qel, qel with
--parallel N, ftplib, mirror, qel, ...) and every figure is a median. Also: a scaling run
(per-file time, peak RSS, share of wall time spent writing checkpoints, bytes they wrote) and
the commands and sessions qel sends per file. Started by bench/backup_restore_bench.sh, which
builds the release qel.
"""

import argparse
import ftplib
import os
import pwd
import re
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SERVER = os.path.join(REPO, "tests", "server", "qel_ftpd.py")
USER = "tas"
PASSWORD = "ulm D-XI"
ST_FILES = ("ST/syscfg.dat", "ST/SYSDIR.001", "ST/MMTA.BOX/MBxProf.001")
# What one file needs at the least over a connection of its own.
MIN_COMMANDS_PER_FILE = ("USER", "PASS", "CWD", "TYPE", "PORT", "RETR or STOR", "QUIT")

# vsftpd: a local user with a cheap password hash (Debian's default hash makes every login
# cost ~60 ms, which would swamp what is measured) and a PAM service of its own.
VSFTPD_HOME = "/var/lib/qel-bench-ftp"
VSFTPD_PAM = "/etc/pam.d/qel-bench-ftp"


def log(text):
    print(text, flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_file(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        remaining = size
        while remaining:
            chunk = min(remaining, 1 << 24)
            f.write(os.urandom(chunk))
            remaining -= chunk


def make_tree(root, folders, per_folder, size):
    """access2/boxNNNN/msgNNN.dat plus the three ST files a restore insists on; returns the
    relative paths in a stable order."""
    paths = []
    for folder in range(folders):
        for number in range(per_folder):
            paths.append("access2/box%04d/msg%03d.dat" % (folder, number))
    paths.extend(ST_FILES)
    for path in paths:
        write_file(os.path.join(root, path), size if path.startswith("access2") else 4096)
    return paths


def make_large_tree(root, size):
    paths = ["access2/large.dat"] + list(ST_FILES)
    write_file(os.path.join(root, paths[0]), size)
    for path in ST_FILES:
        write_file(os.path.join(root, path), 4096)
    return paths


def same_trees(a, b, paths):
    for path in paths:
        with open(os.path.join(a, path), "rb") as x, open(os.path.join(b, path), "rb") as y:
            while True:
                left, right = x.read(1 << 20), y.read(1 << 20)
                if left != right:
                    return False
                if not left:
                    break
    return True


def run_timed(argv, env=None, stdout=subprocess.DEVNULL):
    """Wall time and peak RSS (KiB) of one child. The RSS comes from GNU time: a child started
    from here inherits this interpreter's RSS as its starting peak."""
    rss_file = tempfile.NamedTemporaryFile(prefix="qel-bench-rss-", delete=False)
    rss_file.close()
    start = time.perf_counter()
    child = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss_file.name] + argv, env=env,
                           stdout=stdout, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    with open(rss_file.name) as f:
        lines = f.read().split()
    os.unlink(rss_file.name)
    if child.returncode != 0:
        raise RuntimeError("%s exited with %d: %s" % (
            argv[0], child.returncode, child.stderr.decode(errors="replace").strip()))
    return elapsed, int(lines[-1])


# --- servers ----------------------------------------------------------------------------------


class TestServer:
    def __init__(self, root, work, verbose=False, fork=False):
        # One process serves every session, one after another; forked, each session has a
        # process of its own, as with a stock server, and sessions at once run at once.
        self.name = "test server, a process per session" if fork else "test server"
        self.root = root
        port_file = os.path.join(work, "port")
        if os.path.exists(port_file):
            os.unlink(port_file)
        self.log_path = os.path.join(work, "server.log")
        argv = ["/usr/bin/python3", SERVER, "--root", root, "--port", "0", "--port-file", port_file]
        if verbose:
            argv.append("--verbose")
        if fork:
            argv.append("--fork-sessions")
        self.log_file = open(self.log_path, "w")
        self.process = subprocess.Popen(argv, stderr=self.log_file)
        for _ in range(200):
            if os.path.exists(port_file) and os.path.getsize(port_file):
                break
            time.sleep(0.05)
        self.port = int(open(port_file).read())
        # Dialect paths: "7.0/..." names the root whatever the current directory.
        self.prefix = "7.0/"

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait()
        self.log_file.close()


class Vsftpd:
    name = "vsftpd"

    def __init__(self, root, work):
        prepare_vsftpd_account()
        # vsftpd reads "7.0/x" relative to the current directory: a "7.0" link to the root
        # in every directory makes the dialect's paths resolve from anywhere in the tree.
        for directory, _, _ in os.walk(root):
            link = os.path.join(directory, "7.0")
            if not os.path.lexists(link):
                os.symlink("/", link)
        if not os.path.lexists(os.path.join(root, "7.1")):
            os.symlink("/", os.path.join(root, "7.1"))
        chown_tree(root)
        self.root = root
        self.port = free_port()
        config = os.path.join(work, "vsftpd.conf")
        with open(config, "w") as f:
            f.write(
                "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%d\n"
                "anonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\nlocal_umask=022\n"
                "chroot_local_user=YES\nallow_writeable_chroot=YES\nlocal_root=%s\n"
                "pam_service_name=%s\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
                "connect_from_port_20=NO\nport_enable=YES\nxferlog_enable=NO\n"
                "background=NO\nmax_clients=0\nmax_per_ip=0\n"
                % (self.port, root, os.path.basename(VSFTPD_PAM))
            )
        os.makedirs("/var/run/vsftpd/empty", exist_ok=True)
        self.log_file = open(os.path.join(work, "vsftpd.log"), "w")
        self.process = subprocess.Popen(["/usr/sbin/vsftpd", config], stderr=self.log_file)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        # vsftpd reports absolute paths; the links above serve the dialect's ones.
        self.prefix = "/"

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait()
        self.log_file.close()


def prepare_vsftpd_account():
    os.makedirs(VSFTPD_HOME, exist_ok=True)
    try:
        pwd.getpwnam(USER)
    except KeyError:
        subprocess.run(["useradd", "-M", "-d", VSFTPD_HOME, "-s", "/usr/sbin/nologin", USER],
                       check=True)
    subprocess.run(["chpasswd", "-c", "SHA512", "-s", "1000"],
                   input=("%s:%s\n" % (USER, PASSWORD)).encode(), check=True)
    if not os.path.exists(VSFTPD_PAM):
        with open(VSFTPD_PAM, "w") as f:
            f.write("auth required pam_unix.so\naccount required pam_unix.so\n"
                    "session required pam_permit.so\n")


def chown_tree(root):
    if os.geteuid() != 0:
        return
    entry = pwd.getpwnam(USER)
    for directory, names, files in os.walk(root):
        os.lchown(directory, entry.pw_uid, entry.pw_gid)
        for name in names + files:
            os.lchown(os.path.join(directory, name), entry.pw_uid, entry.pw_gid)


# --- qel ----------------------------------------------------------------------------------------


def record(text, width):
    data = text.encode()
    return data + b"\0" * (width - len(data))


def write_recovery_file(folder, code, host, paths):
    """The folder's recovery file, so that qel --resume moves exactly these paths without
    enumerating or deleting (which vsftpd's own path forms would not serve)."""
    width = max(len(p.encode()) for p in paths + [host, folder]) + 10
    with open(os.path.join(folder, "k7.bad"), "wb") as f:
        f.write(struct.pack("<iii", code, width, len(paths)))
        f.write(record(host, width) + record(folder, width))
        for path in paths:
            f.write(record(path, width))


def cpu_times():
    """Busy and idle time of all cores together, in clock ticks."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    idle = fields[3] + fields[4]
    return sum(fields) - idle, idle


def with_cores_busy(action):
    """The action's result and the share of every core's time that went to work meanwhile
    (qel and the server together): near 100 %, more at once cannot go faster."""
    busy_before, idle_before = cpu_times()
    result = action()
    busy_after, idle_after = cpu_times()
    busy = busy_after - busy_before
    total = busy + idle_after - idle_before
    return result, busy / total if total else 0.0


class Qel:
    def __init__(self, binary, work):
        self.binary = binary
        self.env = dict(os.environ)
        self.env["XDG_CONFIG_HOME"] = os.path.join(work, "config")
        self.env["XDG_STATE_HOME"] = os.path.join(work, "state")
        self.log = os.path.join(work, "qel.log")

    def argv(self, operation, port, folder, resume, extra=()):
        return [self.binary, operation, "--host", "127.0.0.1:%d" % port, "--folder", folder,
                "--pause-scale", "0", "--resume" if resume else "--no-resume", "--log",
                self.log] + list(extra)

    def run(self, operation, server, folder, paths, fresh, parallel=None):
        """fresh: enumerate (backup) or delete and upload the listing (restore), as a user
        would; otherwise resume from a recovery file naming the paths. parallel: qel's
        --parallel, left unset when None."""
        host = "127.0.0.1:%d" % server.port
        if not fresh:
            code = 1 if operation == "backup" else 2
            listed = ["7.0/" + p for p in paths] if operation == "backup" else [
                os.path.join(folder, p) for p in paths]
            write_recovery_file(folder, code, host, listed)
        touch(os.path.join(server.root, "safe"))
        extra = ["--parallel", str(parallel)] if parallel else []
        return run_timed(self.argv(operation, server.port, folder, not fresh, extra), env=self.env)

    def has_parallel(self):
        # A qel from before --parallel rejects it with a usage error; its help tells beforehand.
        try:
            shown = subprocess.run([self.binary, "--help"], capture_output=True, text=True,
                                   timeout=30)
        except (OSError, subprocess.TimeoutExpired):
            return False
        return "--parallel" in shown.stdout + shown.stderr


def touch(path):
    open(path, "a").close()
    chown_tree_file(path)


def chown_tree_file(path):
    if os.geteuid() == 0:
        try:
            entry = pwd.getpwnam(USER)
            os.lchown(path, entry.pw_uid, entry.pw_gid)
        except KeyError:
            pass


# --- peers --------------------------------------------------------------------------------------


def ftplib_session(port):
    ftp = ftplib.FTP()
    ftp.connect("127.0.0.1", port)
    ftp.login(USER, PASSWORD)
    ftp.set_pasv(False)
    return ftp


def ftplib_get(server, folder, paths):
    start = time.perf_counter()
    for path in paths:
        target = os.path.join(folder, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        ftp = ftplib_session(server.port)
        with open(target, "wb") as f:
            ftp.retrbinary("RETR " + server.prefix + path, f.write, blocksize=1 << 20)
        ftp.quit()
    return time.perf_counter() - start


def ftplib_put(server, folder, paths):
    start = time.perf_counter()
    for path in paths:
        ftp = ftplib_session(server.port)
        with open(os.path.join(folder, path), "rb") as f:
            ftp.storbinary("STOR " + server.prefix + path, f, blocksize=1 << 20)
        ftp.quit()
    return time.perf_counter() - start


def lftp(port, script):
    settings = ("set ftp:passive-mode off; set ftp:ssl-allow no; set net:max-retries 1; "
                "set cmd:fail-exit yes; set xfer:clobber on; ")
    start = time.perf_counter()
    subprocess.run(["lftp", "-u", "%s,%s" % (USER, PASSWORD), "-p", str(port),
                    "-e", settings + script + "; quit", "127.0.0.1"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return time.perf_counter() - start


def mirror_get(server, folder):
    return lftp(server.port, "mirror /access2 %s/access2; mirror /ST %s/ST" % (folder, folder))


def mirror_put(server, folder, target):
    return lftp(server.port, "mirror -R %s/access2 /%s/access2; mirror -R %s/ST /%s/ST"
                % (folder, target, folder, target))


# --- cases --------------------------------------------------------------------------------------


def fresh_folder(work, name):
    folder = os.path.join(work, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    chown_tree_file(folder)
    return folder


def compare_case(qel, server, work, paths, repeats, label, parallel=None):
    """Interleaved runs of qel, qel with --parallel (when given) and both peers, backup then
    restore; returns medians."""
    fresh = isinstance(server, TestServer)
    kinds = ["qel backup", "ftplib get", "mirror get", "qel restore", "ftplib put", "mirror put"]
    if parallel:
        kinds += ["qel backup N", "qel restore N"]
    times = {k: [] for k in kinds}
    busy = {"qel backup N": [], "qel restore N": []}
    backup = os.path.join(work, "qel-copy")
    parallel_backup = os.path.join(work, "qel-parallel-copy")

    def run_parallel(operation, folder, other_side):
        kind = "qel %s N" % operation
        run, share = with_cores_busy(
            lambda: qel.run(operation, server, folder, paths, fresh, parallel))
        times[kind].append(run[0])
        busy[kind].append(share)
        if not same_trees(server.root, folder, paths):
            raise RuntimeError("qel's %s with --parallel %d differs from %s"
                               % (operation, parallel, other_side))

    for repeat in range(repeats):
        folder = fresh_folder(work, "qel-copy")
        times["qel backup"].append(qel.run("backup", server, folder, paths, fresh)[0])
        if not same_trees(server.root, folder, paths):
            raise RuntimeError("qel's backup differs from the server")
        if parallel:
            run_parallel("backup", fresh_folder(work, "qel-parallel-copy"), "the server")
        times["ftplib get"].append(ftplib_get(server, fresh_folder(work, "ftplib-copy"), paths))
        times["mirror get"].append(mirror_get(server, fresh_folder(work, "mirror-copy")))

        times["qel restore"].append(qel.run("restore", server, backup, paths, fresh)[0])
        if not same_trees(server.root, backup, paths):
            raise RuntimeError("qel's restore differs from the local folder")
        if parallel:
            run_parallel("restore", parallel_backup, "the local folder")
        times["ftplib put"].append(ftplib_put(server, backup, paths))
        target = "mirror-up%d" % repeat
        os.makedirs(os.path.join(server.root, target))
        chown_tree_file(os.path.join(server.root, target))
        times["mirror put"].append(mirror_put(server, backup, target))
        shutil.rmtree(os.path.join(server.root, target))
    medians = {k: statistics.median(v) for k, v in times.items()}
    files = len(paths)
    log("  %s, %s (%d files, median of %d; %s)" % (
        label, server.name, files, repeats,
        "fresh runs" if fresh else "resumed from a recovery file: qel neither lists nor deletes"))
    for direction, ours, plain, mirror in (("backup ", "qel backup", "ftplib get", "mirror get"),
                                           ("restore", "qel restore", "ftplib put", "mirror put")):
        line = ("    %s  qel %8.3f ms/file  ftplib %8.3f  mirror %8.3f   qel/ftplib %.2f  "
                "qel/mirror %.2f" % (
                    direction, 1000 * medians[ours] / files, 1000 * medians[plain] / files,
                    1000 * medians[mirror] / files, medians[ours] / medians[plain],
                    medians[ours] / medians[mirror]))
        if parallel:
            ours_n = medians[ours + " N"]
            line += ("   qel N=%d %8.3f ms/file  speed-up %.2f  N=%d/mirror %.2f  cores busy "
                     "%.0f %%" % (parallel, 1000 * ours_n / files, medians[ours] / ours_n,
                                  parallel, ours_n / medians[mirror],
                                  100 * statistics.median(busy[ours + " N"])))
        log(line)
    return medians


def with_server(kind, root, work, action):
    if kind == "vsftpd":
        server = Vsftpd(root, work)
    else:
        server = TestServer(root, work, fork=kind == "fork")
    try:
        return action(server)
    finally:
        server.stop()


def command_counts(qel, work):
    """Commands and sessions that qel sends per file, from the test server's own log."""
    root = os.path.join(work, "count-server")
    paths = make_tree(root, 2, 100, 1024)
    results = {}
    folder = fresh_folder(work, "count-copy")
    for operation in ("backup", "restore"):
        server = TestServer(root, work, verbose=True)
        try:
            qel.run(operation, server, folder, paths, True)
        finally:
            server.stop()
        text = open(server.log_path).read()
        commands = re.findall(r"\] <- (\w+)", text)
        sessions = text.count("FTP session opened")
        results[operation] = (len(commands), sessions, commands)
    shutil.rmtree(root)
    files = len(paths)
    log("Commands and sessions per file (test server, %d files in 2 folders + ST, fresh runs)"
        % files)
    for operation, (commands, sessions, names) in results.items():
        kinds = {}
        for name in names:
            kinds[name] = kinds.get(name, 0) + 1
        log("  %-7s %5.2f commands/file, %4.3f sessions/file (minimum %d and 1: %s)"
            % (operation, commands / files, sessions / files, len(MIN_COMMANDS_PER_FILE),
               ", ".join(MIN_COMMANDS_PER_FILE)))
        log("          " + ", ".join("%s %d" % kv for kv in sorted(kinds.items())))


def read_listing(folder):
    with open(os.path.join(folder, "k7.lst"), "rb") as f:
        width, count = struct.unpack("<ii", f.read(8))
        return [f.read(width).split(b"\0", 1)[0] for _ in range(count)]


def checkpoint_bytes(order, host, folder):
    """What the checkpoints of a run over `order` write: one before file 101 and every 101
    files after it, each the whole remaining list in the recovery file's layout."""
    longest_from = [0] * (len(order) + 1)
    for i in range(len(order) - 1, -1, -1):
        longest_from[i] = max(longest_from[i + 1], len(order[i]))
    total = 0
    for first in range(100, len(order), 101):
        width = max(longest_from[first], len(host.encode()), len(folder.encode())) + 10
        total += 12 + (len(order) - first + 2) * width
    return total


def checkpoint_trace(qel, server, folder, work):
    """Runs a fresh backup under strace, stopping only where files are opened (each stop costs
    time on a loaded machine), and returns the wall time, the seconds spent inside checkpoints
    (from opening the new recovery file to the last opening of the folder or the registry)
    and the bytes they wrote (from the layout, over the order the listing gives)."""
    trace = os.path.join(work, "trace")
    argv = ["strace", "-f", "--seccomp-bpf", "-ttt", "-T", "-o", trace,
            "-e", "trace=openat"]
    touch(os.path.join(server.root, "safe"))
    wall, _ = run_timed(argv + qel.argv("backup", server.port, folder, False), env=qel.env)
    config = qel.env["XDG_CONFIG_HOME"]
    related = re.compile(r'k7\.bad|%s|"%s"' % (re.escape(config), re.escape(folder)))
    inside = 0.0
    span_start = span_end = None
    for line in open(trace):
        match = re.match(r"\d+\s+(\d+\.\d+) (\w+)\((.*)<([\d.]+)>$", line.strip())
        if not match:
            continue
        at, call, rest, duration = float(match[1]), match[2], match[3], float(match[4])
        if call == "openat" and "k7.bad.tmp" in rest and span_start is None:
            span_start = at
        if span_start is None:
            continue
        if related.search(rest):
            span_end = at + duration
        else:
            inside += span_end - span_start
            span_start = span_end = None
    if span_start is not None and span_end is not None:
        inside += span_end - span_start
    os.unlink(trace)
    written = checkpoint_bytes(read_listing(folder), "127.0.0.1:%d" % server.port, folder)
    return wall, inside, written


def scaling(qel, work, sizes, traced):
    log("Scaling: fresh backups from the test server, 1 KiB files, 100 per folder")
    per_file = {}
    for files in sizes:
        root = os.path.join(work, "scale-server")
        paths = make_tree(root, files // 100, 100, 1024)
        server = TestServer(root, work)
        try:
            folder = fresh_folder(work, "scale-copy")
            touch(os.path.join(root, "safe"))
            wall, rss = qel.run("backup", server, folder, paths, True)
            per_file[files] = wall / len(paths)
            line = "  %7d files: %7.3f ms/file, %6.1f s, peak RSS %5.1f MB" % (
                len(paths), 1000 * wall / len(paths), wall, rss / 1024)
            if traced:
                traced_wall, inside, written = checkpoint_trace(
                    qel, server, fresh_folder(work, "scale-copy"), work)
                line += (", checkpoints %.2f s: %.2f %% of the untraced wall time (%.1f s under "
                         "strace), %.1f MB written to k7.bad" % (
                             inside, 100 * inside / wall, traced_wall, written / 1e6))
            log(line)
        finally:
            server.stop()
            shutil.rmtree(root)
    return per_file


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--qel", required=True, help="the release qel binary")
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--parallel-n", type=int, default=4, metavar="K",
                        help="small case against the test server: also qel --parallel K, 1 to "
                        "16 (default 4)")
    parser.add_argument("--small-folders", type=int, default=20,
                        help="small case: folders of 100 files of 4 KiB (default 20)")
    parser.add_argument("--vsftpd-folders", type=int,
                        help="small case against vsftpd, whose logins are slow (default: the same)")
    parser.add_argument("--large-mib", type=int, default=1024)
    parser.add_argument("--skip-compare", action="store_true")
    parser.add_argument("--skip-large", action="store_true")
    parser.add_argument("--skip-vsftpd", action="store_true")
    parser.add_argument("--skip-scaling", action="store_true")
    parser.add_argument("--scaling-sizes", default="1000,10000",
                        help="file counts of the scaling run (default 1000,10000)")
    parser.add_argument("--with-100k", action="store_true",
                        help="add 100,000 files to the scaling run (slow)")
    parser.add_argument("--no-trace", action="store_true",
                        help="scaling without strace (no checkpoint share)")
    args = parser.parse_args()
    if not 1 <= args.parallel_n <= 16:
        parser.error("--parallel-n takes 1 to 16")
    # So that an interrupted run still stops its servers and removes its trees.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    work = tempfile.mkdtemp(prefix="qel-bench-", dir=os.environ.get("TMPDIR", "/tmp"))
    os.chmod(work, 0o755)
    qel = Qel(args.qel, work)
    servers = ["test", "fork"]
    if not args.skip_vsftpd:
        if os.geteuid() == 0 and os.path.exists("/usr/sbin/vsftpd"):
            servers.append("vsftpd")
        else:
            log("vsftpd: needs root and /usr/sbin/vsftpd; skipped")
    load = os.getloadavg()
    log("qel %s; load average %.2f %.2f %.2f on %d cores" % (args.qel, *load, os.cpu_count()))
    parallel = args.parallel_n if qel.has_parallel() else None
    if parallel is None:
        log("qel N = %d: this qel has no --parallel (its --help does not list it); skipped"
            % args.parallel_n)
    goals = []
    try:
        command_counts(qel, work)
        if not args.skip_compare:
            for kind in servers:
                folders = args.small_folders
                if kind == "vsftpd" and args.vsftpd_folders:
                    folders = args.vsftpd_folders
                log("Small files: %d folders of 100 x 4 KiB, plus 3 ST files" % folders)
                contender = parallel if kind != "vsftpd" else None
                if kind == "vsftpd" and parallel:
                    log("  qel N = %d runs against the test server only: qel refuses vsftpd, "
                        "whose PWD reports absolute paths; the forked test server stands in "
                        "for a stock server" % parallel)
                root = os.path.join(work, "server-" + kind)
                paths = make_tree(root, folders, 100, 4096)
                try:
                    m = with_server(kind, root, work, lambda s: compare_case(
                        qel, s, work, paths, args.repeats, "small", contender))
                    goals.append(("small files, N = 1, %s: qel <= 0.85 x ftplib" % kind,
                                  max(m["qel backup"] / m["ftplib get"],
                                      m["qel restore"] / m["ftplib put"]) <= 0.85))
                    if kind == "fork":
                        faster = near_mirror = None
                        if contender:
                            faster = min(m["qel backup"] / m["qel backup N"],
                                         m["qel restore"] / m["qel restore N"]) >= 3
                            near_mirror = max(m["qel backup N"] / m["mirror get"],
                                              m["qel restore N"] / m["mirror put"]) <= 1.5
                        n = args.parallel_n
                        goals.append(("small files, N = %d, fork: >= 3x faster than N = 1" % n,
                                      faster))
                        goals.append(("small files, N = %d, fork: within 1.5x of the mirror"
                                      % n, near_mirror))
                except RuntimeError as failure:
                    # qel checks that the server names directories as the dialect does.
                    log("  %s: %s" % (kind, failure))
                shutil.rmtree(root)
        if not args.skip_large:
            log("One large file: %d MiB, plus 3 ST files" % args.large_mib)
            root = os.path.join(work, "server-large")
            paths = make_large_tree(root, args.large_mib << 20)
            m = with_server("test", root, work, lambda s: compare_case(
                qel, s, work, paths, args.repeats, "large"))
            goals.append(("large file: download >= 1.0 x the best peer",
                          m["qel backup"] <= min(m["ftplib get"], m["mirror get"])))
            goals.append(("large file: upload >= 1.0 x the best peer",
                          m["qel restore"] <= min(m["ftplib put"], m["mirror put"])))
            shutil.rmtree(root)
        if not args.skip_scaling:
            sizes = [int(n) for n in args.scaling_sizes.split(",")]
            sizes += [100000] if args.with_100k else []
            per_file = scaling(qel, work, sizes, not args.no_trace)
            largest = max(per_file)
            smallest = min(per_file)
            goals.append(("%d files: per-file time <= 1.2 x that at %d" % (largest, smallest),
                          per_file[largest] <= 1.2 * per_file[smallest]))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    log("Goals (peak RSS and checkpoint share: read them off the scaling lines)")
    for text, met in goals:
        log("  %-60s %s" % (text, "skipped" if met is None else "met" if met else "NOT met"))


if __name__ == "__main__":
    sys.exit(main())
