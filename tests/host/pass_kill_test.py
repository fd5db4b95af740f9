#!/usr/bin/env python3
"""The plug-in killed at random moments, its file writes failing in turn, and a real full
disk.

Kill rounds: the headless host (kestrelon-host) watches the Inbox of a stand-in store
while another process delivers mail; each round starts the host, lets it work for a
random while (new-mail passes, "Delete Spam" on a random row), and kills it (SIGKILL).
Between rounds, while the host is dead, a mail deleted as spam is now and then read and
moved back into the Inbox. Every mail carries a tag in its subject, a token of its own
in the token store. After each kill, and after a last clean run:

  - no delivered mail is lost: each is in the Inbox or in Deleted Items, and in both only
    while a move that a kill cut short waits for the next start;
  - every mail the event log calls deleted is in Deleted Items;
and at the end, after a last pass and a clean quit:
  - every mail is judged (recorded in the seen-message list) and learnt exactly once:
    the store's mail counters count every mail once, and its tag's counts in the store
    are (1, 0) or (0, 1), so no mail was learnt or swapped twice. A kill inside the store's
    own update of a mail (its tokens half written, the mail not counted yet) leaves a tag
    with two counts while the mail is counted once: reported as such, a violation only
    with --strict-store (the store cannot undo an update that a kill cut short);
  - a mail learnt as spam is in Deleted Items (or, its copy for the spam archive failed,
    in the Inbox with a line saying so) and one learnt as real mail in the Inbox;
  - every mail in Deleted Items has its deletion in the event log;
  - the store passes its check.

Fault loop (--fault-loop): the Nth write, flush or truncate of the host fails (the file
fault layer, platform/file_fault.h, armed through its control file), N = 1, 2, ... until a
pass and a "Delete Spam" get through without reaching N, with ENOSPC, then EIO; after each
the fault is lifted and the next pass runs; then the same checks. A deletion line that the
event log dropped on a failed write is counted, not a violation: the log object drops
such lines by its contract.

Full disk (--full-disk DIR, DIR on a small file system of its own): the store folder in
DIR; first-run scan, spam taught, the file system filled, mail delivered and a pass run,
the space freed, a pass, quit, start again; then the same checks.

  pass_kill_test.py --bin BIN_DIR [--kills N | --fault-loop | --full-disk DIR] [--seed N] [--strict-store]
"""
import argparse
import os
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

TAG = re.compile(rb"kt\d{5}q")
KEPT_LINE = re.compile(rb"Spam Mail kept in the Inbox, archive copy failed - From: .*?(kt\d{5}q)")
DELETED_LINE = re.compile(
    rb"Spam Mail (?:automatically deleted|deleted by SMTP verification|manually deleted) - From: .*?(kt\d{5}q)")

HAM_BODIES = [
    "Hello team,\r\nthe budget review meeting moves to Thursday; please bring the schedule,\r\n"
    "the project milestones and the minutes of last week.\r\nRegards\r\n",
    "Hi,\r\nattached are the notes from the planning session. The release date stays\r\n"
    "in March; testing starts next Monday. Let me know about the open items.\r\nThanks\r\n",
    "Dear colleagues,\r\nthe office will be closed on Friday for the move. Please pack your desks\r\n"
    "and label the boxes with your room number.\r\nBest wishes\r\n",
]
SPAM_BODIES = [
    "Buy cheap pills now! Viagra cialis discount pharmacy, no prescription needed.\r\n"
    "Order today and save 80%, limited offer, unsubscribe here.\r\n",
    "You have won a lottery prize of 1,000,000 dollars! Claim your winnings now,\r\n"
    "send your bank details today, limited offer, act now, free money.\r\n",
]


class Failure(Exception):
    pass


class Harness:
    def __init__(self, bin_dir, work, store, seed):
        self.bin = bin_dir
        self.work = work
        self.store = store
        self.random = random.Random(seed)
        self.env = dict(os.environ, KESTRELON_REGISTRY=os.path.join(work, "registry"), HOME=work,
                        KESTRELON_ONLINE="0", KESTRELON_DETECTION="notification")
        self.mail_dir = os.path.join(work, "mail")
        os.makedirs(self.mail_dir, exist_ok=True)
        self.next_tag = 1
        self.delivered = set()  # tags whose delivery has returned
        self.lock = threading.Lock()
        self.violations = []
        self.log_offset = 0
        self.in_both = set()  # tags in both folders at the last check
        self.moved_back = set()  # tags moved back into the Inbox
        self.figures = dict(rounds=0, in_pass=0, in_delete_spam=0, delete_spam=0, moved_back=0, delivered=0)
        self.host = None
        self.output = None
        self.fault_control = None
        self.writes_fail = False  # a full disk or the fault loop
        self.strict_store = False

    # ----- tools
    def tool(self, name, *args, check=True):
        result = subprocess.run([os.path.join(self.bin, name), *args], env=self.env, capture_output=True)
        if check and result.returncode != 0:
            raise Failure(f"{name} {' '.join(args)}: exit {result.returncode}: {result.stderr.decode(errors='replace')}")
        return result

    def write_mail(self, spam, rng):
        with self.lock:
            n = self.next_tag
            self.next_tag += 1
        tag = f"kt{n:05d}q"
        if spam:
            sender = f"Offers Daily <deals{n}@offers-daily.example>"
            subject = f"Cheap pills best prices {tag}"
            body = rng.choice(SPAM_BODIES)
        else:
            sender = f"Colleague {n} <colleague{n}@northfield.example>"
            subject = f"Planning notes for the review {tag}"
            body = rng.choice(HAM_BODIES)
        path = os.path.join(self.mail_dir, tag + ".eml")
        with open(path, "wb") as f:
            f.write(f"From: {sender}\r\nTo: Me <me@northfield.example>\r\nSubject: {subject}\r\n"
                    f"Date: Mon, 07 Dec 2026 09:14:02 +0000\r\n\r\n{body}".encode())
        return tag, path

    def deliver(self, count, spam_share=0.4, check=True, rng=None):
        rng = rng or self.random
        mails = [self.write_mail(rng.random() < spam_share, rng) for _ in range(count)]
        result = self.tool("oe-client", "deliver", self.store, *[p for _, p in mails], check=check)
        if result.returncode != 0:
            return []
        with self.lock:
            for tag, _ in mails:
                self.delivered.add(tag)
            self.figures["delivered"] += len(mails)
        return [int(i) for i in result.stdout.split()]

    def folder(self, which):
        """{tag: id} of a folder."""
        out = self.tool("oe-client", "list", self.store, which).stdout
        tags = {}
        for line in out.splitlines():
            found = TAG.search(line)
            if found:
                tags[found.group().decode()] = int(line.split(b"\t")[0])
        return tags

    # ----- the host
    def start_host(self, wait=True):
        self.output = os.path.join(self.work, "host.out")
        out = open(self.output, "wb")
        env = dict(self.env)
        if self.fault_control:
            # Counted from the start, armed only by the loop (fault_loop).
            env["KESTRELON_FILE_FAULT"] = "write,flush,truncate;0;ENOSPC;" + self.fault_control
        self.host = subprocess.Popen([os.path.join(self.bin, "kestrelon-host"), "--answer", "yes"], env=env,
                                     stdin=subprocess.PIPE, stdout=out, stderr=subprocess.DEVNULL)
        out.close()
        if wait:
            self.wait_for(rb"^attached\t", 60)

    def tell(self, line):
        self.host.stdin.write((line + "\n").encode())
        self.host.stdin.flush()

    def lines(self):
        with open(self.output, "rb") as f:
            return f.read().splitlines()

    def wait_for(self, pattern, seconds, after=0):
        """Waits for a line matching `pattern` among the lines from `after` on; its index."""
        expr = re.compile(pattern)
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            lines = self.lines()
            for i in range(after, len(lines)):
                if expr.search(lines[i]):
                    return i
            if self.host.poll() is not None:
                raise Failure(f"the host ended (exit {self.host.returncode}) before {pattern!r}")
            time.sleep(0.002)
        raise Failure(f"timed out waiting for {pattern!r}")

    def run_commands(self, *commands):
        """Runs commands in the host and waits until it has done them."""
        marker = f"done {time.monotonic_ns()}"
        for command in commands:
            self.tell(command)
        self.tell("echo " + marker)
        self.wait_for(("^echo\t" + marker + "$").encode(), 300)

    def quit_host(self):
        self.tell("quit")
        self.host.stdin.close()
        if self.host.wait(120) != 0:
            raise Failure(f"the host ended with exit code {self.host.returncode}")
        self.host = None

    def quit_or_reap(self):
        if self.host:
            self.host.wait(60)
            self.host = None

    def kill_host(self):
        self.host.send_signal(signal.SIGKILL)
        self.host.wait()
        self.host = None
        lines = self.lines()
        cursor = [line for line in lines if line.startswith(b"cursor\t")]
        if cursor and cursor[-1] == b"cursor\twait":
            self.figures["in_pass"] += 1
            selected = [i for i, line in enumerate(lines) if line.startswith(b"selected\t")]
            if selected and b"cursor\twait" in lines[selected[-1]:] and b"cursor\trestore" not in lines[selected[-1]:]:
                self.figures["in_delete_spam"] += 1
        return any(line.startswith(b"attached\t") for line in lines)

    # ----- checks
    def violation(self, text):
        if text in self.violations:
            return
        self.violations.append(text)
        print("VIOLATION:", text, flush=True)

    def check_while_dead(self, started=True):
        """Checks made while no host runs: no mail lost, every deletion line true. A mail
        may be in both folders only until a host has started (and logged on) again."""
        with self.lock:
            delivered = set(self.delivered)
        inbox, deleted = self.folder("Inbox"), self.folder("Deleted")
        for tag in sorted(delivered - inbox.keys() - deleted.keys()):
            self.violation(f"{tag} is in neither folder")
        both = inbox.keys() & deleted.keys()
        if started:
            for tag in sorted(both & self.in_both):
                self.violation(f"{tag} is still in both folders after a start")
            self.in_both = both
        else:
            self.in_both |= both
        with open(os.path.join(self.store, "Kestrelon.log"), "rb") as f:
            f.seek(self.log_offset)
            text = f.read()
        whole = text.rfind(b"\n") + 1
        self.log_offset += whole
        for found in DELETED_LINE.finditer(text[:whole]):
            tag = found.group(1).decode()
            # A line that a kill kept from being written comes once the plug-in is back,
            # maybe after the mail was moved back meanwhile: true then of the deletion.
            if tag not in deleted and tag not in self.moved_back:
                self.violation(f"the event log calls {tag} deleted, but it is not in Deleted Items")
        return inbox, deleted

    def check_final(self):
        inbox, deleted = self.check_while_dead()
        for tag in sorted(inbox.keys() & deleted.keys()):
            self.violation(f"{tag} is in both folders")
        with open(os.path.join(self.store, "Kestrelon.msg"), "rb") as f:
            judged = {t.decode() for t in TAG.findall(f.read())}
        dump = os.path.join(self.work, "dump.txt")
        self.tool("lexisift", "dump", "--store", os.path.join(self.store, "Kestrelon.dat"), dump)
        counts = {}
        with open(dump, "rb") as f:
            for line in f:
                fields = line.split()
                if len(fields) == 4 and fields[3].startswith(b"S*kt"):
                    counts[fields[3][2:].decode()] = (int(fields[1]), int(fields[2]))
        with open(os.path.join(self.store, "Kestrelon.log"), "rb") as f:
            text = f.read()
        logged = {m.group(1).decode() for m in DELETED_LINE.finditer(text)}
        kept = {m.group(1).decode() for m in KEPT_LINE.finditer(text)}
        stats = self.tool("lexisift", "stats", "--store", os.path.join(self.store, "Kestrelon.dat")).stdout.decode()
        counters = [int(n) for n in re.findall(r"^(?:ham|spam) (\d+)$", stats, re.M)]
        ham = spam = torn = 0
        for tag in sorted(self.delivered):
            learnt = counts.get(tag, (0, 0))
            if tag not in judged:
                self.violation(f"{tag} was never judged")
            # A kill inside the store's own update leaves the mail's tokens half written
            # and the mail not counted; the pass then learns it (counts it) once more. The
            # store's mail counters still count every mail once (checked below). A failed
            # write must leave no such mail: the store rolls the update back.
            if sum(learnt) == 2 and not self.strict_store and not self.writes_fail and sum(counters) == len(self.delivered):
                torn += 1
            elif learnt not in ((1, 0), (0, 1)):
                self.violation(f"{tag} is learnt {learnt[0]} times as real mail and {learnt[1]} times as spam")
            if learnt == (0, 1) and tag not in deleted and tag not in kept:
                self.violation(f"{tag} is learnt as spam but still in the Inbox")
            if learnt == (1, 0) and tag not in inbox:
                self.violation(f"{tag} is learnt as real mail but not in the Inbox")
            if tag in deleted and tag not in logged:
                # The log object drops a line whose write fails (its contract): only a
                # run without failing writes must have them all.
                if self.writes_fail:
                    self.figures["deletion lines the log dropped"] = self.figures.get("deletion lines the log dropped", 0) + 1
                else:
                    self.violation(f"{tag} was deleted without a line in the event log")
            ham += learnt == (1, 0)
            spam += learnt == (0, 1)
        if sum(counters) != len(self.delivered) or counters[0] < ham or counters[1] < spam:
            self.violation(f"the store counts {stats.splitlines()[:2]} for {len(self.delivered)} mails, "
                           f"ham {ham} and spam {spam} of them learnt once")
        if torn:
            self.figures["store updates cut short by a kill"] = torn
        check = self.tool("lexisift", "check", "--store", os.path.join(self.store, "Kestrelon.dat"), check=False)
        if check.returncode != 0:
            self.violation(f"the store fails its check ({check.stdout.decode().strip()})")
        self.figures.update(judged=len(judged & self.delivered), learnt_spam=spam, learnt_ham=ham,
                            in_inbox=len(inbox), in_deleted=len(deleted))

    # ----- scenarios
    def set_up(self):
        self.tool("lexisift", "register")
        self.tool("oe-client", "init", self.store)
        self.deliver(24, spam_share=0)
        spam = self.deliver(8, spam_share=1)
        self.start_host()
        self.run_commands("pass")
        self.wait_for(rb"^box\tKestrelon Spam Filter\tInbox scan has finished", 120)
        self.run_commands("select-id " + " ".join(map(str, spam)), "delete-spam")

    def deliverer(self, stop):
        pace = random.Random(self.random.random())
        while not stop.is_set():
            self.deliver(pace.randint(1, 4), rng=pace)
            stop.wait(pace.uniform(0.05, 0.5))

    def kill_rounds(self, kills):
        self.set_up()
        self.kill_host()
        self.check_while_dead()
        stop = threading.Event()
        thread = threading.Thread(target=self.deliverer, args=(stop,))
        thread.start()
        try:
            for _ in range(kills):
                self.figures["rounds"] += 1
                if self.random.random() < 0.2:
                    self.move_back_one()
                self.kill_round()
                started = self.kill_host()
                self.check_while_dead(started)
                if self.figures["rounds"] % 100 == 0:
                    print(f"{self.figures['rounds']} kills, {len(self.violations)} violations", flush=True)
        finally:
            stop.set()
            thread.join()
        self.finish()

    def kill_round(self):
        """Starts the host and returns when it is to be killed: during its start, inside
        a pass or a Delete Spam, or at a random moment."""
        moment = self.random.random()
        if moment < 0.1:
            self.start_host(wait=False)
            time.sleep(self.random.uniform(0.0, 0.1))
            return
        self.start_host()
        if moment < 0.35:
            inbox = self.folder("Inbox")
            if inbox:
                self.figures["delete_spam"] += 1
                seen = len(self.lines())
                self.tell(f"select-id {self.random.choice(list(inbox.values()))}")
                self.tell("delete-spam")
                try:
                    self.wait_for(rb"^cursor\twait$", 2, seen)
                except Failure:
                    return
                time.sleep(self.random.uniform(0.0, 0.01))
                return
        if moment < 0.7:
            try:
                self.wait_for(rb"^cursor\twait$", 2, len(self.lines()))
            except Failure:
                return
            time.sleep(self.random.uniform(0.0, 0.02))
            return
        time.sleep(self.random.uniform(0.0, 0.8))

    def move_back_one(self):
        deleted = self.folder("Deleted")
        if not deleted:
            return
        tag = self.random.choice(list(deleted))
        old = deleted[tag]
        self.moved_back.add(tag)
        self.tool("oe-client", "read", self.store, str(old), "Deleted")
        self.tool("oe-client", "move-back", self.store, str(old))
        self.figures["moved_back"] += 1

    def finish(self):
        """The last run: a pass over what is left, a clean quit, the final checks."""
        self.start_host()
        self.run_commands("pass")
        self.quit_host()
        self.check_final()

    def full_disk(self, cycles=5):
        self.writes_fail = True
        self.set_up()
        self.quit_host()
        # Beside the store folder, out of the plug-in's watch.
        filler = os.path.join(os.path.dirname(self.store), "filler")
        for _ in range(cycles):
            # Some mail delivered while the space runs out; the plug-in starts, the rest
            # of the space goes, and it judges the mail and deletes a mail as spam.
            fill(filler)
            with open(filler, "r+b") as f:
                f.truncate(max(0, os.path.getsize(filler) - self.random.randint(64, 256) * 1024))
            for _ in range(self.random.randint(5, 25)):
                if not self.deliver(1, spam_share=0.5, check=False):
                    break
                self.figures["delivered while full"] = self.figures.get("delivered while full", 0) + 1
            try:
                self.start_host()
            except Failure:
                # Refused with its box while the space is short (a store to repair
                # needs room); started again once there is room.
                if not any(line.startswith(b"box\tKestrelon Error\tPlugin Initialization failed!")
                           for line in self.lines()):
                    raise
                self.figures["starts refused while full"] = self.figures.get("starts refused while full", 0) + 1
                os.remove(filler)
                self.quit_or_reap()
                self.start_host()
                fill(filler)
            fill(filler + "2")
            inbox = list(self.folder("Inbox").values())
            self.run_commands("pass", f"select-id {self.random.choice(inbox)}", "delete-spam", "pass")
            text = b"\n".join(self.lines())
            self.figures["boxes while full"] = self.figures.get("boxes while full", 0) + text.count(
                b"box\tKestrelon Spam Filter\tMail processing error!")
            os.remove(filler)
            os.remove(filler + "2")
            self.run_commands("pass")
            self.quit_host()
        self.finish()

    # ----- the file fault layer's control file (platform/file_fault.h): words N at 8,
    # error at 16, counted at 20, failed at 24
    def arm(self, n, error):
        with open(self.fault_control, "r+b") as f:
            f.seek(20)
            f.write(struct.pack("<II", 0, 0))
            f.seek(8)
            f.write(struct.pack("<III", n, 0, FAULT_ERRORS[error]))

    def fault_counts(self):
        with open(self.fault_control, "rb") as f:
            f.seek(20)
            return struct.unpack("<II", f.read(8))

    def settled_counts(self):
        """The counts once the host has done what it was told and what that set off."""
        last = None
        while True:
            counts = self.fault_counts()
            if counts == last:
                return counts
            last = counts
            time.sleep(0.12)  # longer than the host's wait for events

    def fault_loop(self, batch=3):
        """Fails the Nth write, flush or truncate of the host, N = 1, 2, ... until a pass
        (with a Delete Spam) gets through without reaching N, with ENOSPC, then EIO; the
        fault lifted, the next pass must judge what the failed one left."""
        self.fault_control = os.path.join(self.work, "fault.ctl")
        self.writes_fail = True
        self.set_up()
        self.run_commands("set archive on")
        for error in FAULT_ERRORS:
            n = 0
            while True:
                n += 1
                self.arm(n, error)
                self.deliver(batch, spam_share=0.5)
                inbox = list(self.folder("Inbox").values())
                self.run_commands("pass", f"select-id {self.random.choice(inbox)}", "delete-spam")
                counted, failed = self.settled_counts()
                self.arm(0, error)
                self.run_commands("pass")
                self.settled_counts()
                if failed == 0 and counted < n:
                    break
            self.figures[f"{error} faults"] = n - 1
            self.figures[f"{error} boxes"] = sum(
                line == b"box\tKestrelon Spam Filter\tMail processing error!" for line in self.lines())
            # What the failures left must also hold across a new start.
            self.quit_host()
            self.start_host()
        self.quit_host()
        self.finish()


FAULT_ERRORS = {"ENOSPC": 1, "EIO": 2}


def fill(path):
    """Writes `path` until the file system is full."""
    with open(path, "wb", buffering=0) as f:
        for size in (65536, 512, 1):
            try:
                while True:
                    f.write(b"\0" * size)
            except OSError:
                pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--kills", type=int, default=40)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--full-disk", metavar="DIR")
    parser.add_argument("--fault-loop", action="store_true")
    parser.add_argument("--strict-store", action="store_true",
                        help="a store update cut short by a kill (tokens learnt twice) is a violation too")
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    work = tempfile.mkdtemp(prefix="kestrelon-kill-")
    store = os.path.join(args.full_disk, "store") if args.full_disk else os.path.join(work, "store")
    harness = Harness(os.path.abspath(args.bin), work, store, seed)
    harness.strict_store = args.strict_store
    started = time.monotonic()
    try:
        if args.full_disk:
            harness.full_disk()
        elif args.fault_loop:
            harness.fault_loop()
        else:
            harness.kill_rounds(args.kills)
    except (Failure, OSError, subprocess.TimeoutExpired) as e:
        harness.violation(f"the run ended: {e}")
    finally:
        if harness.host:
            harness.host.kill()
        figures = ", ".join(f"{k} {v}" for k, v in harness.figures.items())
        print(f"seed {seed}: {figures}; {len(harness.violations)} violations; {time.monotonic() - started:.0f} s")
        if harness.violations:
            print(f"work folder kept: {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
            if args.full_disk:
                shutil.rmtree(store, ignore_errors=True)
    return 1 if harness.violations else 0


if __name__ == "__main__":
    sys.exit(main())
