#!/usr/bin/python3
"""Many velda-cli clients at once against one PostgreSQL server and one FTP server on loopback.

Each of PROCS processes logs in as its own user and checks its DRAWINGS drawings in (a folder
batch), out (a batch by condition) and in again; the first SHARED codes are the same for every
process, so they compete for the same rows and files. Afterwards the library is checked:
every row points at a file with the content of the last check-in its holder completed, no hold
is left that its holder did not take, and no side file remains on the volume. Prints drawings
per second and the failures by kind, for each of RUNS runs.

Usage: bench/load/load.py [--procs 20] [--drawings 50] [--shared 10] [--runs 5] [--build DIR]
"""
import argparse
import json
import os
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
    def __init__(self, work, cli):
        self.work, self.cli = work, cli
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

    def stop(self):
        self.ftp.kill()
        self.ftp.wait()
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
print(json.dumps(record))
'''


def one_run(office, procs, drawings, shared, run_no):
    # Fresh tables for the run: rows, holds and the volume's files from the previous run go.
    for table in ("PDM入库图纸信息", "PDM出库图纸信息", "图纸信息", "零件信息"):
        office.sql_admin(f"delete from {table}", DB)
    left = office.query("select count(*) from PDM入库图纸信息")[0][0]
    if left != "0":
        sys.exit(f"the library rows of the previous run are still there ({left})")
    vol = os.path.join(office.ftp_root, "Volume", "V1")
    for f in os.listdir(vol):
        os.remove(os.path.join(vol, f))
    codes_of = {}
    for i in range(procs):
        codes = [f"S-{j:02d}" for j in range(shared)] + [f"R{run_no}U{i}-{j:02d}" for j in range(shared, drawings)]
        codes_of[f"u{i}"] = codes
    # The batch check-out searches the drawing records: one per code.
    values = ",".join(f"('{c}','1:1',1)" for c in sorted({c for cs in codes_of.values() for c in cs}))
    office.sql_admin(f"insert into 图纸信息 (代号,比例,页码) values {values}", DB)
    start = time.time()
    workers = {u: subprocess.Popen(["/usr/bin/python3", "-c", WORKER, office.cli, office.work, str(office.pg_port), u,
                                    ",".join(cs), str(run_no)], stdout=subprocess.PIPE, text=True)
               for u, cs in codes_of.items()}
    results = {u: json.loads(p.communicate()[0]) for u, p in workers.items()}
    elapsed = time.time() - start

    failures = Counter()
    last_content = {}  # (user, code) -> content of the last check-in the user completed
    took = set()       # (user, code) holds the user took
    uncertain = set()  # (user, code) whose last check-in failed part-way
    for u, record in results.items():
        for step in record:
            if step["rc"] == 2:
                failures["usage"] += 1
            elif step["rc"] == 3:
                failures["failure:" + step["args"] + ":" + step["err"].replace("\n", " ")[:100]] += 1
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
    side = sorted(set(os.listdir(vol)) - stored)
    if side:
        inconsistencies.append(f"side files left: {side[:5]}{'…' if len(side) > 5 else ''} ({len(side)})")
    moved = procs * drawings * 3
    print(f"run {run_no}: {procs} processes x {drawings} drawings ({shared} shared), {moved} drawing steps in "
          f"{elapsed:.1f} s = {moved / elapsed:.1f} drawings/s; rows {len(rows)}, holds left "
          f"{len(office.query('select 代号 from PDM出库图纸信息'))}")
    for kind, n in sorted(failures.items()):
        print(f"    {kind}: {n}")
    for line in inconsistencies[:20]:
        print(f"    INCONSISTENT {line}")
    return len(inconsistencies)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--procs", type=int, default=20)
    ap.add_argument("--drawings", type=int, default=50)
    ap.add_argument("--shared", type=int, default=10)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--build", default=os.environ.get("VELDA_BUILD", os.path.join(ROOT, "build")))
    a = ap.parse_args()
    cli = os.path.join(a.build, "bin", "velda-cli")
    if not os.access(cli, os.X_OK):
        sys.exit(f"{cli} not built (cmake --build {a.build} --target velda-cli velda-initdb)")
    work = tempfile.mkdtemp(prefix="velda-load-")
    office = None
    try:
        office = Office(work, cli)
        office.setup(a.procs)
        bad = [one_run(office, a.procs, a.drawings, a.shared, r + 1) for r in range(a.runs)]
        print(f"inconsistencies per run: {bad}; {'zero in all runs' if not any(bad) else 'NOT consistent'}")
        return 0 if not any(bad) else 1
    finally:
        if office:
            office.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
