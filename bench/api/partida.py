#!/usr/bin/env python3
"""Time from spawning the program to its port accepting a connection.

    partida.py PROGRAM DATA_FOLDER PORT [--vezes 10]

Each run spawns PROGRAM --simular --terminal --dados DATA_FOLDER --porta PORT with the caller's
environment, tries to connect to 127.0.0.1:PORT every 0.5 ms from just before the spawn, then
stops the program (SIGTERM, SIGKILL after 10 s) and reaps it before the next run. The data
folder is reused, so after the caller's first start every run is a start with existing files.
Prints the times in ms, one line: "median min max t1 t2 ...".
"""
import argparse
import os
import signal
import socket
import statistics
import subprocess
import sys
import time


def tentar(porta: int) -> bool:
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        s.settimeout(0.2)
        s.connect(("127.0.0.1", porta))
        return True
    except OSError:
        return False
    finally:
        s.close()


def uma_vez(programa: str, dados: str, porta: int) -> float:
    args = [programa, "--simular", "--terminal", "--dados", dados, "--porta", str(porta)]
    inicio = time.perf_counter()
    proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        while True:
            if tentar(porta):
                ms = (time.perf_counter() - inicio) * 1000
                break
            if proc.poll() is not None:
                raise RuntimeError(f"o programa saiu com {proc.returncode} antes de escutar")
            if time.perf_counter() - inicio > 15:
                raise RuntimeError("o programa nao escutou em 15 s")
            time.sleep(0.0005)
    finally:
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
    return ms


def main() -> int:
    a = argparse.ArgumentParser()
    a.add_argument("programa")
    a.add_argument("dados")
    a.add_argument("porta", type=int)
    a.add_argument("--vezes", type=int, default=10)
    arg = a.parse_args()
    if tentar(arg.porta):
        print(f"a porta {arg.porta} ja esta ocupada", file=sys.stderr)
        return 1
    tempos = []
    for _ in range(arg.vezes):
        tempos.append(uma_vez(arg.programa, arg.dados, arg.porta))
        time.sleep(0.2)
    print(f"{statistics.median(tempos):.1f} {min(tempos):.1f} {max(tempos):.1f} "
          + " ".join(f"{t:.1f}" for t in tempos))
    return 0


if __name__ == "__main__":
    sys.exit(main())
