#!/usr/bin/env python3
"""Time from import folder to scales: the real service against the emulator.

    bench/e2e_bench.py --bin build/bin --plus 100000 [--scales 5] [--delay-ms 2]
                       [--log-level 1] [--repeat 1]

Writes a delimited PLU file (number, name, price and one message a line),
starts tarvo-scale-emu serving --scales loopback addresses and the service in
a private folder, moves the file into the import folder and waits until the
send journal holds a successful SetPLUs line for every scale. Prints one JSON
object a run: the time from the drop to the last scale's journal line, the
time until the file was queued, and the PLUs each scale holds afterwards.
"""

import argparse
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time


def free_port_base():
    """A base of four free TCP ports, probed by binding them."""
    for base in range(20000, 30000, 4):
        try:
            sockets = []
            for port in range(base, base + 4):
                s = socket.socket()
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                s.bind(("0.0.0.0", port))
                sockets.append(s)
            for s in sockets:
                s.close()
            return base
        except OSError:
            for s in sockets:
                s.close()
    raise RuntimeError("no free port base")


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.02)
    raise RuntimeError("timed out waiting for " + what)


def plu_file(count):
    lines = []
    for i in range(1, count + 1):
        lines.append("%d;Article %d;%d.%02d;Message of article %d\r\n" % (i, i, 1 + i % 1000, i % 100, i))
    return "".join(lines).encode("ascii")


def scale_addresses(count):
    return ["127.0.0.%d" % (11 + i) for i in range(count)]


def start_emulator(bin_dir, work, addresses, delay_ms):
    """Starts tarvo-scale-emu for `addresses`; returns the process and its port."""
    emu_out = open(os.path.join(work, "emulator.out"), "w+")
    emulator = subprocess.Popen(
        [os.path.join(bin_dir, "tarvo-scale-emu"), "--state", os.path.join(work, "scales"),
         "--port", "0", "--delay-ms", str(delay_ms)] + addresses,
        stdout=emu_out, stderr=subprocess.STDOUT)

    def emulator_ports():
        emu_out.seek(0)
        return re.findall(r"listening on [\d.]+:(\d+)", emu_out.read())

    try:
        wait_for(lambda: len(emulator_ports()) == len(addresses), 10, "the emulator")
    except RuntimeError:
        emulator.kill()
        emulator.wait()
        raise
    return emulator, emulator_ports()[0]


def write_ini(work, addresses, log_level):
    """The service's INI: the scales, a 1 s import scan and the PLU columns."""
    ini = ["[GlobalSettings]", "MaxLogLevelEvent=%d" % log_level, "ImportInterval=1",
           "ImportSimpleSeparator=;",
           "[ListScales]"]
    ini += ["Scale%d=%s" % (i + 1, a) for i, a in enumerate(addresses)]
    ini += ["[FieldsConfig]", "FieldNumber_Pos=1", "FieldName_Pos=2", "FieldPrice_Pos=3",
            "FieldMessageString1_Pos=4"]
    with open(os.path.join(work, "tarvo-scale-server.ini"), "wb") as f:
        f.write(("\r\n".join(ini) + "\r\n").encode("ascii"))


def journal_lines(folder):
    log_dir = os.path.join(folder, "Log")
    lines = []
    for name in os.listdir(log_dir) if os.path.isdir(log_dir) else []:
        if name == "tarvo-scale-server.log":
            continue
        with open(os.path.join(log_dir, name), "rb") as f:
            lines += f.read().decode("cp1251", "replace").splitlines()
    return lines


def cpu_seconds(pid):
    """User and system CPU time a running process has used so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def run_once(args, data):
    work = tempfile.mkdtemp(prefix="tarvo-e2e-bench.")
    emulator = service = None
    try:
        addresses = scale_addresses(args.scales)
        emulator, scale_port = start_emulator(args.bin, work, addresses, args.delay_ms)
        shutil.copy(os.path.join(args.bin, "tarvo-scale-server"), work)
        write_ini(work, addresses, args.log_level)
        port_base = free_port_base()
        env = dict(os.environ, TARVO_SCALE_PORT=scale_port, TARVO_PORT_BASE=str(port_base),
                   TARVO_TIMER_SCALE=str(args.timer_scale))
        service = subprocess.Popen(["./tarvo-scale-server"], cwd=work, env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        # The command port opens once the workers run (the log may be too
        # quiet at a high MaxLogLevelEvent to say so).
        def started():
            try:
                with socket.create_connection(("127.0.0.1", port_base), timeout=1):
                    return True
            except OSError:
                return False

        wait_for(started, 20, "the service to start")

        # Written beside the import folder and moved in whole, old enough for
        # the next scan to take it at once.
        staged = os.path.join(work, "bench.plu")
        with open(staged, "wb") as f:
            f.write(data)
        old = time.time() - 10
        os.utime(staged, (old, old))
        os.makedirs(os.path.join(work, "Import"), exist_ok=True)
        imported = os.path.join(work, "Import", "bench.plu")
        start = time.monotonic()
        os.rename(staged, imported)
        wait_for(lambda: not os.path.exists(imported), 60, "the file to be queued")
        queued = time.monotonic() - start

        def delivered():
            done = [l for l in journal_lines(work) if "File=bench.plu" in l]
            failed = [l for l in done if "Status=0" not in l]
            if failed:
                raise RuntimeError("a send failed: " + failed[0])
            return len(done) == len(addresses)

        wait_for(delivered, args.timeout, "every scale's journal line")
        seconds = time.monotonic() - start
        cpu = {"service": round(cpu_seconds(service.pid), 2),
               "emulator": round(cpu_seconds(emulator.pid), 2)}

        service.send_signal(signal.SIGTERM)
        service.wait(60)
        emulator.send_signal(signal.SIGTERM)
        emulator.wait(60)
        held = []
        for a in addresses:
            with open(os.path.join(work, "scales", a, "plus.tsv"), "rb") as f:
                held.append(max(0, len(f.read().splitlines()) - 1))
        return {"plus": args.plus, "scales": args.scales, "delay_ms": args.delay_ms,
                "log_level": args.log_level, "timer_scale": args.timer_scale, "seconds": round(seconds, 3),
                "queued_seconds": round(queued, 3), "cpu_seconds": cpu, "held": held}
    finally:
        for p in (service, emulator):
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()
        if args.keep:
            print("kept " + work, file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", required=True, help="folder of the built executables")
    parser.add_argument("--plus", type=int, required=True, help="PLUs in the file")
    parser.add_argument("--scales", type=int, default=1)
    parser.add_argument("--delay-ms", type=int, default=0, help="the emulator's answer delay")
    parser.add_argument("--log-level", type=int, default=1, help="MaxLogLevelEvent")
    parser.add_argument("--timer-scale", type=float, default=0.01,
                        help="TARVO_TIMER_SCALE: the workers look for new commands every 20 to "
                        "30 s times this (default 0.01, so the wait for a worker stays out "
                        "of the figure)")
    parser.add_argument("--repeat", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=1800, help="seconds a run may take")
    parser.add_argument("--keep", action="store_true", help="keep the run's folder")
    args = parser.parse_args()
    data = plu_file(args.plus)
    for _ in range(args.repeat):
        print(json.dumps(run_once(args, data)), flush=True)


if __name__ == "__main__":
    main()
