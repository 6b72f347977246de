#!/usr/bin/python3
"""Many velda-cli clients at once against one PostgreSQL server and one FTP server on loopback.

Each of PROCS processes logs in as its own user and checks its DRAWINGS drawings in (a folder
batch), out (a batch by condition) and in again; the first SHARED codes are the same for every
process, so they compete for the same rows and files. Afterwards the library is checked:
every row points at a file with the content of the last check-in its holder completed, no hold
is left that its holder did not take, and no side file remains on the volume. Prints drawing
steps per second against the goal, the failures by kind, and where the time went: the CPU seconds
of the velda-cli processes (and how much of that a process's start and login alone costs), of
PostgreSQL, of the FTP server and of the driving Python, beside what the machine's cores could give.

The FTP server is vsftpd (needs root: it lets the benchmark's account in through a PAM service of
its own, /etc/pam.d/velda-load, removed at the end) or the tests' pyftpdlib server.

Usage: bench/load/load.py [--procs 50] [--drawings 50] [--shared 10] [--runs 5] [--ftp vsftpd|pyftpdlib]
                          [--goal 300] [--count-ftp] [--build DIR]
"""
import argparse
import json
import os
import re
import resource
import shutil
import socket
import subprocess
import sys
import tempfile
import time
from collections import Counter

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DB = "HD信息库"


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def pg_bin():
    base = "/usr/lib/postgresql"
    for v in sorted(os.listdir(base), reverse=True):
        if os.path.exists(os.path.join(base, v, "bin", "initdb")):
            return os.path.join(base, v, "bin")
    sys.exit("PostgreSQL not found")


def as_postgres(cmd):
    return (["runuser", "-u", "postgres", "--"] + cmd) if os.geteuid() == 0 else cmd


class Office:
    def __init__(self, work, cli, ftp, count_ftp=False):
        self.work, self.cli = work, cli
        self.count_ftp = count_ftp and ftp == "vsftpd"
        self.ftp_log = os.path.join(work, "vsftpd.log")
        self.bin = pg_bin()
        self.pg_dir = os.path.join(work, "pg")
        os.makedirs(self.pg_dir)
        if os.geteuid() == 0:
            shutil.chown(self.pg_dir, "postgres", "postgres")
            os.chmod(work, 0o755)
        self.pg_port = free_port()
        subprocess.run(as_postgres([self.bin + "/initdb", "-D", self.pg_dir + "/data", "-U", "postgres",
                                    "-E", "UTF8", "--locale=C", "-A", "trust"]), check=True,
                       stdout=subprocess.DEVNULL)
        opts = (f"-p {self.pg_port} -k {self.pg_dir} -c listen_addresses=127.0.0.1 -c fsync=off "
                f"-c max_connections=200")
        subprocess.run(as_postgres([self.bin + "/pg_ctl", "-D", self.pg_dir + "/data", "-o", opts, "-l",
                                    self.pg_dir + "/log", "-w", "start"]), check=True, stdout=subprocess.DEVNULL)
        self.sql_admin("CREATE ROLE \"Hodrin\" LOGIN PASSWORD 'tovkan'")
        self.sql_admin(f"CREATE DATABASE \"{DB}\" OWNER \"Hodrin\"")
        subprocess.run([os.path.join(os.path.dirname(cli), "velda-initdb"), "--pg", f"127.0.0.1:{self.pg_port}"],
                       check=True, stdout=subprocess.DEVNULL)
        self.ftp_root = os.path.join(work, "ftp")
        os.makedirs(os.path.join(self.ftp_root, "Volume"))
        self.ftp_password = "load-pw"
        self.ftp_port = free_port()
        self.pam = None
        if ftp == "vsftpd":
            self.ftp = self.start_vsftpd()
        else:
            self.ftp = subprocess.Popen(["/usr/bin/python3", os.path.join(ROOT, "tests/support/ftp_server.py"),
                                         "--root", self.ftp_root, "--password", self.ftp_password,
                                         "--port", str(self.ftp_port),
                                         # Every process opens several connections for its batches: an
                                         # office server takes that many, so must this one.
                                         "--max-cons", "512"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.ftp_port), 0.2).close()
                break
            except OSError:
                time.sleep(0.1)
        else:
            sys.exit(f"the FTP server ({ftp}) did not start")

    def start_vsftpd(self):
        # The benchmarks' own server (bench/vsftpd.sh): a guest account mapped to the system's "ftp"
        # user, any password let in by a PAM service of the run's own, on loopback for as long as the
        # benchmark runs.
        if os.geteuid() != 0:
            sys.exit("vsftpd needs root (its own PAM service); use --ftp pyftpdlib")
        shutil.chown(os.path.join(self.ftp_root, "Volume"), "ftp", "ftp")
        self.pam = "/etc/pam.d/velda-load"
        extra = ""
        if self.count_ftp:
            # Every command the server reads, for counting them by verb (costs the server some CPU).
            extra = f"xferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\nvsftpd_log_file={self.ftp_log}\n"
        server = subprocess.Popen(["bash", os.path.join(ROOT, "bench", "vsftpd.sh"), self.ftp_root, str(self.ftp_port),
                                   "velda-load", self.work], stdin=subprocess.PIPE, text=True)
        server.stdin.write(extra)
        server.stdin.close()
        return server

    def sql_admin(self, sql, db="postgres"):
        return subprocess.run(as_postgres([self.bin + "/psql", "-h", self.pg_dir, "-p", str(self.pg_port), "-U",
                                           "postgres", "-d", db, "-At", "-F", "\t", "-c", sql]),
                              check=True, capture_output=True, text=True).stdout

    def query(self, sql):
        return [line.split("\t") for line in self.sql_admin(sql, DB).splitlines() if line]

    def run(self, user, args, password="admin", group=None):
        env = dict(os.environ, VELDA_PASSWORD=password, VELDA_CONFIG=os.path.join(self.work, "velda.ini"),
                   VELDA_DATA_DIR=self.work)
        cmd = [self.cli, "--server", f"127.0.0.1:{self.pg_port}", "--user", user, "--group", group or user,
               "--json"] + args
        return subprocess.run(cmd, env=env, capture_output=True, text=True)

    def setup(self, procs):
        pw = os.path.join(self.work, "pw.txt")
        with open(pw, "w") as f:
            f.write("pw\n")
        ftp_pw = os.path.join(self.work, "ftp.txt")
        with open(ftp_pw, "w") as f:
            f.write(self.ftp_password + "\n")
        steps = [["admin-record", "--password-file", ftp_pw],
                 ["volume", "add", "V1", f"127.0.0.1:{self.ftp_port}"],
                 ["group", "set-volume", "admin", "V1"],
                 ["group", "add", "load", "V1"]]
        steps += [["user", "add", f"u{i}", "--password-file", pw, "--groups", "load"] for i in range(procs)]
        for s in steps:
            r = self.run("admin", s, group="admin")
            if r.returncode != 0:
                sys.exit(f"set-up step {' '.join(s)} failed: {r.stderr}")

    def cpu(self):
        """CPU seconds so far of PostgreSQL (the postmaster and its ended backends), of the FTP server
        (vsftpd and its ended sessions, or the one pyftpdlib process) and of this script's ended
        children (the drivers and, below them, velda-cli)."""
        def of(pid):
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return sum(int(x) for x in fields[11:15]) / os.sysconf("SC_CLK_TCK")
        with open(os.path.join(self.pg_dir, "data", "postmaster.pid")) as f:
            postmaster = int(f.readline())
        ru = resource.getrusage(resource.RUSAGE_CHILDREN)
        with open("/proc/stat") as f:
            ticks = [int(x) for x in f.readline().split()[1:]]
        # Every core's busy time, whoever used it: user, nice, system, irq, softirq, steal.
        busy = (sum(ticks[0:3]) + sum(ticks[5:8])) / os.sysconf("SC_CLK_TCK")
        return {"pg": of(postmaster), "ftp": of(self.ftp.pid), "children": ru.ru_utime + ru.ru_stime, "busy": busy}

    def start_cost(self, n=10):
        """CPU seconds of one velda-cli run that logs in and reads little: what every run pays first."""
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        for _ in range(n):
            r = self.run("u0", ["holds"], password="pw", group="load")
            if r.returncode != 0:
                sys.exit(f"velda-cli holds failed: {r.stderr}")
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        return (after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime) / n

    def stop(self):
        self.ftp.kill()
        self.ftp.wait()
        if self.pam:
            os.remove(self.pam)
        subprocess.run(as_postgres([self.bin + "/pg_ctl", "-D", self.pg_dir + "/data", "-m", "immediate", "stop"]),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


WORKER = r'''
import json, os, subprocess, sys
cli, work, port, user, codes, run_no = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5].split(","), sys.argv[6]
env = dict(os.environ, VELDA_PASSWORD="pw", VELDA_CONFIG=os.path.join(work, "velda.ini"), VELDA_DATA_DIR=work)
base = os.path.join(work, "run" + run_no, user)  # each run its own files
def run(args):
    r = subprocess.run([cli, "--server", "127.0.0.1:" + port, "--user", user, "--group", "load", "--json"] + args,
                       env=env, capture_output=True, text=True)
    out = [json.loads(l) for l in r.stdout.splitlines() if l.strip()]
    return {"args": args[0], "rc": r.returncode, "out": out, "err": r.stderr.strip()}
record = []
for rnd in (1, 2):
    folder = os.path.join(base, "in%d" % rnd)
    os.makedirs(folder, exist_ok=True)
    for c in codes:
        with open(os.path.join(folder, c + ".dwg"), "w") as f:
            f.write("%s %s %d\n" % (user, c, rnd))
    res = run(["checkin", "--folder", folder])
    res["round"] = rnd
    record.append(res)
    if rnd == 1:
        out = os.path.join(base, "out")
        os.makedirs(out, exist_ok=True)
        cond = " Or ".join("代号 = '%s'" % c for c in codes)
        record.append(run(["checkout", "--where", cond, "--to", out]))
import resource
ru = resource.getrusage(resource.RUSAGE_CHILDREN)
print(json.dumps({"steps": record, "cli_cpu": ru.ru_utime + ru.ru_stime}))
'''


def failure_kind(text):
    """A failure's message without what differs between drawings (paths, names, numbers), so that
    failures of one kind count together."""
    text = re.sub(r"<[^>]*>", "<…>", text.replace("\n", " "))
    text = re.sub(r"Volume/[A-Za-z0-9_./-]+", "Volume/…", text)
    text = re.sub(r"\d+", "N", text)
    return text[:200]


def one_run(office, procs, drawings, shared, run_no, goal, start_cost):
    # Fresh tables for the run: rows, holds and the volume's files from the previous run go.
    for table in ("PDM入库图纸信息", "PDM出库图纸信息", "图纸信息", "零件信息"):
        office.sql_admin(f"delete from {table}", DB)
    left = office.query("select count(*) from PDM入库图纸信息")[0][0]
    if left != "0":
        sys.exit(f"the library rows of the previous run are still there ({left})")
    vol = os.path.join(office.ftp_root, "Volume", "V1")
    for f in os.listdir(vol):
        path = os.path.join(vol, f)
        shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
    codes_of = {}
    for i in range(procs):
        codes = [f"S-{j:02d}" for j in range(shared)] + [f"R{run_no}U{i}-{j:02d}" for j in range(shared, drawings)]
        codes_of[f"u{i}"] = codes
    # The batch check-out searches the drawing records: one per code.
    values = ",".join(f"('{c}','1:1',1)" for c in sorted({c for cs in codes_of.values() for c in cs}))
    office.sql_admin(f"insert into 图纸信息 (代号,比例,页码) values {values}", DB)
    log_from = os.path.getsize(office.ftp_log) if office.count_ftp and os.path.exists(office.ftp_log) else 0
    cpu_before = office.cpu()
    start = time.time()
    workers = {u: subprocess.Popen(["/usr/bin/python3", "-c", WORKER, office.cli, office.work, str(office.pg_port), u,
                                    ",".join(cs), str(run_no)], stdout=subprocess.PIPE, text=True)
               for u, cs in codes_of.items()}
    answers = {u: json.loads(p.communicate()[0]) for u, p in workers.items()}
    elapsed = time.time() - start
    cpu_after = office.cpu()
    cli_cpu = sum(a["cli_cpu"] for a in answers.values())
    results = {u: a["steps"] for u, a in answers.items()}

    failures = Counter()
    last_content = {}  # (user, code) -> content of the last check-in the user completed
    took = set()       # (user, code) holds the user took
    uncertain = set()  # (user, code) whose last check-in failed part-way
    for u, record in results.items():
        for step in record:
            if step["rc"] == 2:
                failures["usage"] += 1
            elif step["rc"] == 3:
                failures["failure:" + step["args"] + ":" + failure_kind(step["err"])] += 1
            summary = step["out"][-1] if step["out"] else {}
            rejected = set(summary.get("rejectedCodes", []))
            if rejected:
                failures["refused:" + step["args"]] += len(rejected)
            if step["args"] == "checkin":
                for c in codes_of[u]:
                    if step["rc"] == 3:
                        uncertain.add((u, c))
                    elif c not in rejected:
                        last_content[(u, c)] = f"{u} {c} {step['round']}\n"
                        uncertain.discard((u, c))
            else:
                for c in codes_of[u]:
                    if c not in rejected:
                        took.add((u, c))

    inconsistencies = []
    rows = office.query("select 代号,入库帐号,入库文件名称 from PDM入库图纸信息")
    stored = set()
    for code, user, name in rows:
        stored.add(name)
        path = os.path.join(vol, name)
        if not os.path.isfile(path):
            inconsistencies.append(f"{code}: file {name} missing")
            continue
        content = open(path).read()
        if not content.startswith(f"{user} {code} "):
            inconsistencies.append(f"{code}: row of {user} holds {content!r}")
        elif (user, code) not in uncertain and last_content.get((user, code)) != content:
            inconsistencies.append(f"{code}: {content!r} is not {user}'s last check-in {last_content.get((user, code))!r}")
    for code, user in office.query("select 代号,出库帐号 from PDM出库图纸信息"):
        if (user, code) not in took:
            inconsistencies.append(f"{code}: held by {user}, who did not check it out")
    # The folder of kept versions holds the replaced files by right.
    side = sorted({f for f in os.listdir(vol) if os.path.isfile(os.path.join(vol, f))} - stored)
    if side:
        inconsistencies.append(f"side files left: {side[:5]}{'…' if len(side) > 5 else ''} ({len(side)})")
    moved = procs * drawings * 3
    rate = moved / elapsed
    print(f"run {run_no}: {procs} processes x {drawings} drawings ({shared} shared), {moved} drawing steps in "
          f"{elapsed:.1f} s = {rate:.1f} drawing steps/s (goal {goal:.0f}/s: {'met' if rate >= goal else 'missed'}); "
          f"rows {len(rows)}, holds left {len(office.query('select 代号 from PDM出库图纸信息'))}")
    # Where the time went: the CPU seconds each side spent in the run, beside the cores' seconds.
    used = {k: cpu_after[k] - cpu_before[k] for k in cpu_after}
    commands = sum(len(r) for r in results.values())
    starts = commands * start_cost
    drivers = used["children"] - cli_cpu
    print(f"    CPU s of {os.cpu_count()} cores x {elapsed:.1f} s = {os.cpu_count() * elapsed:.1f}: "
          f"velda-cli {cli_cpu:.1f} ({commands} runs; start and login alone ~{starts:.1f}), "
          f"PostgreSQL {used['pg']:.1f}, FTP server {used['ftp']:.1f}, Python drivers {drivers:.1f}; "
          f"other programs {used['busy'] - cli_cpu - used['pg'] - used['ftp'] - drivers:.1f}, "
          f"idle {os.cpu_count() * elapsed - used['busy']:.1f}")
    if office.count_ftp:
        verbs = Counter()
        with open(office.ftp_log, "rb") as f:
            f.seek(log_from)
            for line in f.read().decode("utf-8", "replace").splitlines():
                m = re.search(r'FTP command: Client "[^"]*", "(\w+)', line)
                if m:
                    verbs[m.group(1).upper()] += 1
        print(f"    FTP commands per drawing step: {sum(verbs.values()) / moved:.2f} ("
              + ", ".join(f"{v} {n / moved:.2f}" for v, n in verbs.most_common()) + ")")
    unexpected = sum(n for kind, n in failures.items() if not kind.startswith("refused:"))
    print(f"    failures other than refusals: {unexpected}")
    for kind, n in sorted(failures.items()):
        print(f"    {kind}: {n}")
    for line in inconsistencies[:20]:
        print(f"    INCONSISTENT {line}")
    return len(inconsistencies)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--procs", type=int, default=50)
    ap.add_argument("--drawings", type=int, default=50)
    ap.add_argument("--shared", type=int, default=10)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--ftp", choices=("vsftpd", "pyftpdlib"), default="vsftpd")
    ap.add_argument("--goal", type=float, default=300, help="drawing steps per second")
    ap.add_argument("--count-ftp", action="store_true", help="count vsftpd's commands by verb (slows it)")
    ap.add_argument("--build", default=os.environ.get("VELDA_BUILD", os.path.join(ROOT, "build")))
    a = ap.parse_args()
    cli = os.path.join(a.build, "bin", "velda-cli")
    if not os.access(cli, os.X_OK):
        sys.exit(f"{cli} not built (cmake --build {a.build} --target velda-cli velda-initdb)")
    work = tempfile.mkdtemp(prefix="velda-load-")
    office = None
    try:
        office = Office(work, cli, a.ftp, a.count_ftp)
        office.setup(a.procs)
        start_cost = office.start_cost()
        print(f"{a.ftp}, PostgreSQL; load {os.getloadavg()[0]:.2f}; one velda-cli start and login: "
              f"{start_cost * 1000:.0f} ms CPU")
        bad = [one_run(office, a.procs, a.drawings, a.shared, r + 1, a.goal, start_cost) for r in range(a.runs)]
        print(f"inconsistencies per run: {bad}; {'zero in all runs' if not any(bad) else 'NOT consistent'}")
        return 0 if not any(bad) else 1
    finally:
        if office:
            office.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
