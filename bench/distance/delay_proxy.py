#!/usr/bin/python3
"""A TCP relay that puts a branch office's distance between a client and a server on loopback.

Each chunk is held for half the round trip in each direction, so a question and its answer cost one
round trip as they would over a VPN; the order of the chunks is kept. Kernels here often lack netem,
hence a relay in user space.

With --ftp the relay understands the control connection: a passive-mode answer (227 or 229) gets a
data port of the relay's own, which relays to the server's data port with the same delay.

The relay counts turns: a client chunk sent after the server last spoke starts a new exchange, which
is what a round trip costs the client. SIGUSR1 writes the counts to --stats as "connections turns".

Usage: delay_proxy.py --listen PORT --target HOST:PORT --rtt MS [--ftp] [--stats FILE]
"""

import argparse
import asyncio
import re
import signal
import time

PASV = re.compile(rb"^227 [^(]*\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)")
EPSV = re.compile(rb"^229 [^(]*\(\|\|\|(\d+)\|\)")


class Counts:
    def __init__(self):
        self.connections = 0
        self.turns = 0


async def pump(reader, writer, delay, on_chunk=None, rewrite=None):
    """Copies reader to writer, each chunk due `delay` seconds after it arrived, in order."""
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            if data is None:
                break
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        try:
            writer.write_eof()
        except (OSError, RuntimeError):
            pass

    sender = asyncio.ensure_future(deliver())
    pending = b""
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            if on_chunk:
                on_chunk()
            if rewrite:
                # Whole lines only: an answer split across chunks is rewritten once complete.
                pending += data
                cut = pending.rfind(b"\n") + 1
                data, pending = pending[:cut], pending[cut:]
                if not data:
                    continue
                data = await rewrite(data)
                if re.search(rb"(^|\n)234 ", data):
                    # AUTH TLS accepted: the rest is encrypted, no lines to read, so it passes as it comes.
                    rewrite = None
                    data, pending = data + pending, b""
            queue.put_nowait((time.monotonic() + delay, data))
    except (ConnectionError, OSError):
        pass
    if pending:
        queue.put_nowait((time.monotonic() + delay, pending))
    queue.put_nowait((0, None))
    try:
        await sender
    except (ConnectionError, OSError):
        pass


class Relay:
    def __init__(self, target, rtt_ms, ftp, counts):
        self.host, port = target.rsplit(":", 1)
        self.port = int(port)
        self.delay = rtt_ms / 2000.0
        self.ftp = ftp
        self.counts = counts

    async def relay(self, client_reader, client_writer, host, port, control):
        try:
            server_reader, server_writer = await asyncio.open_connection(host, port)
        except OSError:
            client_writer.close()
            return
        self.counts.connections += 1
        server_spoke = [True]

        def from_client():
            if server_spoke[0]:
                self.counts.turns += 1
                server_spoke[0] = False

        def from_server():
            server_spoke[0] = True

        rewrite = self.rewrite_passive if (self.ftp and control) else None
        up = pump(client_reader, server_writer, self.delay, on_chunk=from_client if control else None)

        async def down():
            if control:
                from_server_chunk = from_server
            else:
                from_server_chunk = None
            await pump(server_reader, client_writer, self.delay, on_chunk=from_server_chunk, rewrite=rewrite)

        await asyncio.gather(up, down())
        for w in (client_writer, server_writer):
            try:
                w.close()
            except OSError:
                pass

    async def rewrite_passive(self, data):
        out = []
        for line in data.split(b"\n"):
            m = PASV.match(line)
            if m:
                h = ".".join(x.decode() for x in m.groups()[:4])
                port = int(m.group(5)) * 256 + int(m.group(6))
                mine = await self.data_listener(self.host if h == "0.0.0.0" else h, port)
                line = b"227 Entering Passive Mode (127,0,0,1,%d,%d).\r" % (mine // 256, mine % 256)
            else:
                m = EPSV.match(line)
                if m:
                    mine = await self.data_listener(self.host, int(m.group(1)))
                    line = b"229 Entering Extended Passive Mode (|||%d|)\r" % mine
            out.append(line)
        return b"\n".join(out)

    async def data_listener(self, host, port):
        """A one-connection listener that relays to the server's data port."""
        server = None

        async def accepted(reader, writer):
            server.close()
            await self.relay(reader, writer, host, port, control=False)

        server = await asyncio.start_server(accepted, "127.0.0.1", 0)
        return server.sockets[0].getsockname()[1]


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--listen", type=int, required=True)
    parser.add_argument("--target", required=True)
    parser.add_argument("--rtt", type=float, default=0.0)
    parser.add_argument("--ftp", action="store_true")
    parser.add_argument("--stats")
    args = parser.parse_args()
    counts = Counts()
    relay = Relay(args.target, args.rtt, args.ftp, counts)

    def dump():
        if args.stats:
            with open(args.stats + ".tmp", "w") as f:
                f.write("%d %d\n" % (counts.connections, counts.turns))
            import os
            os.replace(args.stats + ".tmp", args.stats)

    loop = asyncio.get_running_loop()
    loop.add_signal_handler(signal.SIGUSR1, dump)
    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    server = await asyncio.start_server(
        lambda r, w: relay.relay(r, w, relay.host, relay.port, control=True), "127.0.0.1", args.listen)
    print("listening", server.sockets[0].getsockname()[1], flush=True)
    await stop.wait()
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
