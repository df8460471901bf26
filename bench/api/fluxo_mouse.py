#!/usr/bin/env python3
"""A phone dragging a finger over the touchpad: one POST /api/mouse every 1/rate s, each on a
fresh connection, for a fixed time. Sends are scheduled on absolute times so a slow answer does
not shift the ones after it (a late send goes out at once).

    fluxo_mouse.py PORT [--token T] [--taxa 120] [--duracao 10]

Prints one line: "sent ok other_status errors p50_ms p99_ms max_ms achieved_rate".
The round trip runs from connect() to the last byte of the answer.
"""
import argparse
import socket
import sys
import time

CORPO = b'{"acao":"mover","x":3,"y":-2}'


def pedido(porta: int, token: str) -> bytes:
    cabeca = (
        f"POST /api/mouse HTTP/1.1\r\n"
        f"Host: 127.0.0.1:{porta}\r\n"
        f"Content-Type: application/json\r\n"
        f"Content-Length: {len(CORPO)}\r\n"
        f"Connection: close\r\n"
    )
    if token:
        cabeca += f"Authorization: Bearer {token}\r\n"
    return (cabeca + "\r\n").encode() + CORPO


def enviar(porta: int, bytes_pedido: bytes) -> tuple[float, int]:
    """One request; (round trip in ms, HTTP status or -1 on a socket error).

    Reads until the answer is complete (head, then Content-Length bytes; none for 204) and
    closes, as a browser does: the server leaves the closing to the peer after an answer.
    """
    inicio = time.perf_counter_ns()
    try:
        with socket.create_connection(("127.0.0.1", porta), timeout=5) as s:
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            s.sendall(bytes_pedido)
            resposta = b""
            falta = None
            while True:
                bloco = s.recv(4096)
                if not bloco:
                    break
                resposta += bloco
                if falta is None and b"\r\n\r\n" in resposta:
                    cabeca, _, corpo = resposta.partition(b"\r\n\r\n")
                    tamanho = 0
                    for linha in cabeca.split(b"\r\n")[1:]:
                        nome, _, valor = linha.partition(b":")
                        if nome.strip().lower() == b"content-length":
                            tamanho = int(valor.strip())
                    falta = tamanho - len(corpo)
                elif falta is not None:
                    falta -= len(bloco)
                if falta is not None and falta <= 0:
                    break
    except (OSError, ValueError):
        return (time.perf_counter_ns() - inicio) / 1e6, -1
    fim = time.perf_counter_ns()
    try:
        status = int(resposta.split(b" ", 2)[1])
    except (IndexError, ValueError):
        status = -1
    return (fim - inicio) / 1e6, status


def percentil(ordenados: list[float], p: float) -> float:
    if not ordenados:
        return 0.0
    # nearest-rank, as wrk reports its percentiles
    i = max(0, min(len(ordenados) - 1, int(round(p / 100 * len(ordenados) + 0.5)) - 1))
    return ordenados[i]


def main() -> int:
    a = argparse.ArgumentParser()
    a.add_argument("porta", type=int)
    a.add_argument("--token", default="")
    a.add_argument("--taxa", type=float, default=120.0)
    a.add_argument("--duracao", type=float, default=10.0)
    arg = a.parse_args()

    bytes_pedido = pedido(arg.porta, arg.token)
    total = int(arg.taxa * arg.duracao)
    intervalo = 1.0 / arg.taxa
    tempos: list[float] = []
    ok = outros = erros = 0
    inicio = time.perf_counter()
    for i in range(total):
        alvo = inicio + i * intervalo
        espera = alvo - time.perf_counter()
        if espera > 0:
            time.sleep(espera)
        ms, status = enviar(arg.porta, bytes_pedido)
        if status == -1:
            erros += 1
            continue
        tempos.append(ms)
        if 200 <= status < 300:
            ok += 1
        else:
            outros += 1
    decorrido = time.perf_counter() - inicio
    tempos.sort()
    print(
        f"{total} {ok} {outros} {erros} {percentil(tempos, 50):.3f} {percentil(tempos, 99):.3f} "
        f"{(tempos[-1] if tempos else 0):.3f} {total / decorrido:.1f}"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
