#!/usr/bin/env python3
"""Writes a syslog file of a given size, made of record lines as quenby writes them.

Every line is "<Mmm dd hh:mm:ss> <sender address> <facility>.<severity> <message>\\n", e.g.

  Mar 07 14:05:09 10.1.2.3 auth.crit sshd[1234]: Failed password for invalid user admin from 10.9.8.7 port 51234 ssh2

The messages come from a few dozen kinds of typical daemon output (sshd, kernel firewall, cron,
postfix, dhcpd, named, sudo, systemd, web server access lines, ...) with random process ids,
addresses, ports, user names, queue ids and so on; their lengths vary from about 40 to about 300
bytes, and a line averages about 128 bytes, so that 1 GB is about 8 million lines.

To be fast, the script builds a pool of a few thousand message lines (sender, facility,
severity and message) and writes them behind a clock that advances by one second after a
random number of lines (1 to 200). Every few seconds part of the pool is generated anew, so that
process ids, counters and addresses keep changing through the file. Output goes out in blocks of
several MiB; 1 GB takes some 10-20 s.

Only the Python standard library is used.

Examples:
  bench/make-syslog-file.py /tmp/syslog-1g.log             # 1 GB (10^9 bytes)
  bench/make-syslog-file.py /tmp/syslog-50m.log --size 50M
  bench/make-syslog-file.py out.log --size 2G --seed 7 --start "2024-12-30 23:00:00"
"""

import argparse
import datetime
import random
import sys
import time

POOL = 4096  # message lines in the pool
REFRESH = 64  # pool entries generated anew ...
REFRESH_EVERY = 5  # ... every this many seconds of the clock
BLOCK = 8 << 20  # bytes per write

MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()

USERS = ["root", "admin", "oracle", "postgres", "git", "ubuntu", "test", "guest", "backup",
         "jenkins", "deploy", "www-data", "nagios", "support", "alice", "bob", "mschmidt",
         "jdoe", "operator", "ftpuser"]
HOSTS = ["mail.example.com", "gw1.corp.local", "db-03.corp.local", "files.corp.local",
         "mx2.example.net", "fw-edge-01", "ldap.corp.local", "build-7.ci.local"]
DOMAINS = ["example.com", "example.net", "example.org", "corp.local", "mailhost.test",
           "customer-portal.example.com", "newsletter.example.org"]
URLS = ["/", "/index.html", "/login", "/api/v1/status", "/api/v1/orders?page=2&limit=50",
        "/static/js/app.4f3c2a.js", "/static/css/site.css", "/images/logo.png",
        "/wp-login.php", "/favicon.ico", "/cgi-bin/status", "/reports/2024/q3/summary.pdf",
        "/api/v2/customers/10442/invoices?from=2024-01-01&to=2024-06-30"]
AGENTS = ["Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
          "Chrome/120.0 Safari/537.36",
          "curl/8.4.0", "Wget/1.21.3", "python-requests/2.31.0",
          "Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0"]
IFACES = ["eth0", "eth1", "ens192", "bond0", "wan0"]
SERVICES = ["nginx.service", "postgresql.service", "cron.service", "ssh.service",
            "backup.timer", "logrotate.service", "docker.service", "chronyd.service"]
DISKS = ["sda", "sdb", "nvme0n1", "md0"]

# Facility and severity as the daemon names them, with how often each pair comes.
KINDS = []  # (weight, facility, severity, message function)


def kind(weight, facility, severity):
    def register(function):
        KINDS.append((weight, facility, severity, function))
        return function
    return register


def ip(r):
    return f"{r.choice((10, 10, 172, 192))}.{r.randrange(256)}.{r.randrange(256)}.{r.randrange(1, 255)}"


def public_ip(r):
    return f"{r.randrange(1, 224)}.{r.randrange(256)}.{r.randrange(256)}.{r.randrange(1, 255)}"


def mac(r):
    return ":".join(f"{r.randrange(256):02x}" for _ in range(6))


def hexid(r, n):
    return "".join(r.choice("0123456789ABCDEF") for _ in range(n))


def pid(r):
    return r.randrange(300, 65000)


@kind(14, "auth", "crit")
def sshd_failed(r):
    user = r.choice(USERS)
    invalid = "invalid user " if r.random() < 0.5 else ""
    return (f"sshd[{pid(r)}]: Failed password for {invalid}{user} from {public_ip(r)} "
            f"port {r.randrange(1024, 65536)} ssh2")


@kind(4, "authpriv", "info")
def sshd_accepted(r):
    return (f"sshd[{pid(r)}]: Accepted publickey for {r.choice(USERS)} from {ip(r)} port "
            f"{r.randrange(1024, 65536)} ssh2: RSA SHA256:{hexid(r, 20)}")


@kind(6, "authpriv", "info")
def sshd_session(r):
    return (f"sshd[{pid(r)}]: pam_unix(sshd:session): session "
            f"{r.choice(('opened', 'closed'))} for user {r.choice(USERS)}"
            + (f" by (uid={r.randrange(0, 2000)})" if r.random() < 0.5 else ""))


@kind(3, "auth", "notice")
def sudo(r):
    return (f"sudo: {r.choice(USERS)} : TTY=pts/{r.randrange(12)} ; PWD=/home/{r.choice(USERS)} ; "
            f"USER=root ; COMMAND=/usr/bin/{r.choice(('systemctl restart nginx', 'apt-get upgrade', 'journalctl -xe', 'tail -f /var/log/syslog'))}")


@kind(3, "kern", "warning")
def firewall(r):
    proto = r.choice(("TCP", "UDP", "TCP", "ICMP"))
    ports = (f" SPT={r.randrange(1024, 65536)} DPT={r.choice((22, 23, 80, 443, 445, 3389, 8080))}"
             if proto != "ICMP" else f" TYPE={r.choice((0, 3, 8))} CODE=0")
    return (f"kernel: [{r.randrange(100000, 9999999)}.{r.randrange(1000000):06d}] "
            f"[UFW BLOCK] IN={r.choice(IFACES)} OUT= MAC={mac(r)}:{mac(r)}:08:00 "
            f"SRC={public_ip(r)} DST={ip(r)} LEN={r.randrange(40, 1500)} TOS=0x00 PREC=0x00 "
            f"TTL={r.randrange(30, 128)} ID={r.randrange(65536)} PROTO={proto}{ports}")


@kind(3, "kern", "info")
def kernel_misc(r):
    stamp = f"kernel: [{r.randrange(100000, 9999999)}.{r.randrange(1000000):06d}]"
    return r.choice((
        f"{stamp} {r.choice(IFACES)}: link up, 1000Mbps, full-duplex",
        f"{stamp} EXT4-fs ({r.choice(DISKS)}1): mounted filesystem with ordered data mode",
        f"{stamp} Out of memory: Killed process {pid(r)} (java) total-vm:{r.randrange(10**6, 10**7)}kB",
        f"{stamp} TCP: request_sock_TCP: Possible SYN flooding on port {r.choice((80, 443))}. Sending cookies.",
    ))


@kind(10, "cron", "info")
def cron(r):
    return r.choice((
        f"CRON[{pid(r)}]: ({r.choice(USERS)}) CMD (/usr/local/bin/backup.sh --incremental)",
        f"CRON[{pid(r)}]: (root) CMD (command -v debian-sa1 > /dev/null && debian-sa1 1 1)",
        f"CRON[{pid(r)}]: (root) CMD (   cd / && run-parts --report /etc/cron.hourly)",
        f"CRON[{pid(r)}]: pam_unix(cron:session): session closed for user root",
    ))


@kind(8, "mail", "info")
def postfix(r):
    queue = hexid(r, 10)
    user = r.choice(USERS)
    domain = r.choice(DOMAINS)
    return r.choice((
        f"postfix/smtpd[{pid(r)}]: connect from unknown[{public_ip(r)}]",
        f"postfix/smtpd[{pid(r)}]: {queue}: client=unknown[{public_ip(r)}]",
        f"postfix/cleanup[{pid(r)}]: {queue}: message-id=<{hexid(r, 16).lower()}@{domain}>",
        f"postfix/qmgr[{pid(r)}]: {queue}: from=<{user}@{domain}>, size={r.randrange(500, 900000)}, nrcpt=1 (queue active)",
        f"postfix/smtp[{pid(r)}]: {queue}: to=<{r.choice(USERS)}@{r.choice(DOMAINS)}>, "
        f"relay={r.choice(HOSTS)}[{public_ip(r)}]:25, delay={r.random() * 5:.2f}, "
        f"delays=0.01/0/{r.random():.2f}/{r.random():.2f}, dsn=2.0.0, status=sent "
        f"(250 2.0.0 Ok: queued as {hexid(r, 10)})",
        f"postfix/smtpd[{pid(r)}]: NOQUEUE: reject: RCPT from unknown[{public_ip(r)}]: 554 5.7.1 "
        f"<{user}@{domain}>: Relay access denied; from=<spam@{r.choice(DOMAINS)}> "
        f"to=<{user}@{domain}> proto=ESMTP helo=<{r.choice(HOSTS)}>",
    ))


@kind(10, "daemon", "info")
def dhcpd(r):
    addr, hw, iface = ip(r), mac(r), r.choice(IFACES)
    return r.choice((
        f"dhcpd[{pid(r)}]: DHCPREQUEST for {addr} from {hw} via {iface}",
        f"dhcpd[{pid(r)}]: DHCPACK on {addr} to {hw} (host-{r.randrange(1000)}) via {iface}",
        f"dhcpd[{pid(r)}]: DHCPDISCOVER from {hw} via {iface}",
    ))


@kind(4, "daemon", "info")
def named(r):
    return (f"named[{pid(r)}]: client @0x7f{hexid(r, 10).lower()} {ip(r)}#{r.randrange(1024, 65536)} "
            f"({r.choice(HOSTS)}): query: {r.choice(HOSTS)} IN {r.choice(('A', 'AAAA', 'MX', 'PTR'))} "
            f"+E(0) ({ip(r)})")


@kind(10, "daemon", "notice")
def systemd(r):
    service = r.choice(SERVICES)
    return r.choice((
        f"systemd[1]: Started {service}.",
        f"systemd[1]: Stopping {service}...",
        f"systemd[1]: {service}: Main process exited, code=exited, status={r.randrange(1, 4)}/FAILURE",
        f"systemd[1]: {service}: Consumed {r.random() * 60:.3f}s CPU time.",
    ))


@kind(8, "local7", "info")
def web_access(r):
    return (f"nginx: {public_ip(r)} - - \"{r.choice(('GET', 'GET', 'GET', 'POST', 'HEAD'))} "
            f"{r.choice(URLS)} HTTP/1.1\" {r.choice((200, 200, 200, 301, 304, 404, 500))} "
            f"{r.randrange(0, 200000)} \"-\" \"{r.choice(AGENTS)}\"")


@kind(1, "local7", "err")
def web_error(r):
    return (f"nginx: [error] {r.randrange(100, 9999)}#0: *{r.randrange(10**6)} upstream timed out "
            f"(110: Connection timed out) while reading response header from upstream, client: "
            f"{public_ip(r)}, server: {r.choice(DOMAINS)}, request: \"GET {r.choice(URLS)} HTTP/1.1\"")


@kind(11, "local0", "warning")
def app_short(r):
    return r.choice((
        f"app[{pid(r)}]: slow query {r.randrange(500, 30000)} ms",
        f"app[{pid(r)}]: cache miss ratio {r.random():.3f}",
        f"ntpd[{pid(r)}]: adjust time server {public_ip(r)} offset {r.uniform(-0.5, 0.5):+.6f} sec",
        f"smartd[{pid(r)}]: Device: /dev/{r.choice(DISKS)}, Temperature changed +{r.randrange(1, 5)} "
        f"Celsius to {r.randrange(30, 60)}",
    ))


@kind(3, "local1", "notice")
def router(r):
    return (f"%SEC-6-IPACCESSLOGP: list {r.choice(('101', 'OUTSIDE_IN', 'DMZ'))} "
            f"{r.choice(('denied', 'permitted'))} {r.choice(('tcp', 'udp'))} "
            f"{public_ip(r)}({r.randrange(1024, 65536)}) -> {ip(r)}({r.randrange(1, 1024)}), "
            f"{r.randrange(1, 50)} packet{r.choice(('', 's'))}")


@kind(2, "syslog", "info")
def syslogd(r):
    return r.choice(("-- MARK --", f"rsyslogd: [origin software=\"rsyslogd\"] rsyslogd was HUPed"))


@kind(3, "user", "emerg")
def user_misc(r):
    return r.choice((
        f"backup: job {r.randrange(1000)} finished: {r.randrange(10**4, 10**7)} files, "
        f"{r.randrange(1, 500)} GB, {r.randrange(60, 20000)} s",
        f"logger: test message {r.randrange(10**6)}",
    ))


WEIGHTS = [k[0] for k in KINDS]


def make_entry(r):
    """One message line without the time stamp: sender, facility.severity, message, LF."""
    _, facility, severity, function = r.choices(KINDS, WEIGHTS)[0]
    return f"{ip(r)} {facility}.{severity} {function(r)}\n".encode("latin-1")


def stamp(moment):
    return (f"{MONTHS[moment.month - 1]} {moment.day:02d} "
            f"{moment.hour:02d}:{moment.minute:02d}:{moment.second:02d} ").encode("ascii")


def parse_size(text):
    units = {"": 1, "K": 10**3, "M": 10**6, "G": 10**9, "KI": 1 << 10, "MI": 1 << 20,
             "GI": 1 << 30}
    text = text.strip().upper().removesuffix("B")
    number = text.rstrip("KMGI")
    unit = text[len(number):]
    if unit not in units or not number:
        raise argparse.ArgumentTypeError(f"bad size {text!r}")
    return int(float(number) * units[unit])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output", help="file to write (replaced)")
    parser.add_argument("--size", type=parse_size, default=10**9,
                        help="bytes to write: 1G = 10^9, 1GiB = 2^30, also K/M/KiB/MiB "
                             "(default 1G); the file ends with a whole line at or below it")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--start", default="2024-03-07 00:00:00",
                        help="time of the first line (default %(default)s)")
    parser.add_argument("--max-per-second", type=int, default=200,
                        help="lines per second of the clock are 1..this (default %(default)s)")
    args = parser.parse_args()

    r = random.Random(args.seed)
    moment = datetime.datetime.fromisoformat(args.start)
    one_second = datetime.timedelta(seconds=1)
    pool = [make_entry(r) for _ in range(POOL)]
    stride = 2741  # prime, so the walk through the pool visits every entry
    cursor = 0
    written = 0
    lines = 0
    seconds = 0
    started = time.monotonic()
    with open(args.output, "wb", buffering=0) as out:
        block = []
        block_bytes = 0
        while True:
            count = r.randint(1, args.max_per_second)
            prefix = stamp(moment)
            chunk = [prefix + pool[(cursor + k * stride) % POOL] for k in range(count)]
            cursor = (cursor + count * stride + 1) % POOL
            chunk_bytes = sum(map(len, chunk))
            if written + block_bytes + chunk_bytes > args.size:
                # The last whole lines that fit.
                room = args.size - written - block_bytes
                for line in chunk:
                    if len(line) > room:
                        break
                    block.append(line)
                    block_bytes += len(line)
                    room -= len(line)
                    lines += 1
                out.write(b"".join(block))
                written += block_bytes
                break
            block.extend(chunk)
            block_bytes += chunk_bytes
            lines += count
            if block_bytes >= BLOCK:
                out.write(b"".join(block))
                written += block_bytes
                block = []
                block_bytes = 0
            moment += one_second
            seconds += 1
            if seconds % REFRESH_EVERY == 0:
                at = r.randrange(POOL)
                for k in range(REFRESH):
                    pool[(at + k) % POOL] = make_entry(r)
    took = time.monotonic() - started
    print(f"{args.output}: {written} bytes, {lines} lines, {written / max(lines, 1):.1f} bytes "
          f"per line, {moment - datetime.datetime.fromisoformat(args.start)} of log time, "
          f"written in {took:.1f} s", file=sys.stderr)


if __name__ == "__main__":
    main()
