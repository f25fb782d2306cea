#!/usr/bin/env python3
"""A TCP relay that stands for a network between a client and a server on
loopback: every chunk read from one side is written to the other side, byte
for byte and in order, HOLD seconds after it was read. Each direction holds
its chunks for HOLD, so a round trip through the relay grows by twice HOLD.

    delay_relay.py LISTEN_PORT TARGET_PORT HOLD_MS READY_FILE STATS_FILE

The listening port is on 127.0.0.1. The relay writes READY_FILE once it
accepts connections. On SIGUSR1 it writes to STATS_FILE (whole, by a rename)
how many chunks and bytes it forwarded since the last SIGUSR1 and how late,
beyond HOLD, the chunks went out (the event loop's own lateness, which grows
when the machine is busy), so that a bench can say what delay it really added
to each of the runs it compares. SIGTERM ends it.
"""
import asyncio
import os
import signal
import sys


class Stats:
    def __init__(self):
        self.reset()

    def reset(self):
        self.connections = 0
        self.chunks = 0
        self.bytes = 0
        self.late_total = 0.0
        self.late_max = 0.0

    def forwarded(self, size, late):
        self.chunks += 1
        self.bytes += size
        self.late_total += late
        self.late_max = max(self.late_max, late)

    def text(self, hold):
        mean = self.late_total / self.chunks if self.chunks else 0.0
        return (f"connections={self.connections} chunks={self.chunks} bytes={self.bytes} "
                f"hold_ms={hold * 1000:.2f} late_mean_ms={mean * 1000:.3f} "
                f"late_max_ms={self.late_max * 1000:.3f}\n")


async def carry(reader, writer, hold, stats):
    """Copies reader to writer, each chunk HOLD seconds after it arrived.

    The reading side keeps reading while earlier chunks wait, so a chunk's
    delay never adds to the next one's: this is a long pipe, not a slow one.
    """
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def read_side():
        while True:
            try:
                data = await reader.read(65536)
            except ConnectionError:
                data = b""
            queue.put_nowait((loop.time() + hold, data))
            if not data:
                return

    reading = asyncio.create_task(read_side())
    try:
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                break
            stats.forwarded(len(data), max(0.0, loop.time() - due))
            writer.write(data)
            await writer.drain()
        if writer.can_write_eof():
            writer.write_eof()
    except ConnectionError:
        pass
    finally:
        reading.cancel()


def write_stats(stats, hold, path):
    with open(path + ".tmp", "w") as f:
        f.write(stats.text(hold))
    os.replace(path + ".tmp", path)


async def main():
    listen_port, target_port = int(sys.argv[1]), int(sys.argv[2])
    hold = float(sys.argv[3]) / 1000.0
    ready_file, stats_file = sys.argv[4], sys.argv[5]
    stats = Stats()

    def report():
        write_stats(stats, hold, stats_file)
        stats.reset()

    async def serve(client_reader, client_writer):
        stats.connections += 1
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(carry(client_reader, server_writer, hold, stats),
                             carry(server_reader, client_writer, hold, stats))
        for w in (client_writer, server_writer):
            w.close()

    server = await asyncio.start_server(serve, "127.0.0.1", listen_port)
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    loop.add_signal_handler(signal.SIGUSR1, report)
    with open(ready_file, "w") as f:
        f.write("ready\n")
    async with server:
        await stop.wait()


if __name__ == "__main__":
    asyncio.run(main())
