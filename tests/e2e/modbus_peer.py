#!/usr/bin/python3
"""An independent Modbus TCP device for the tests: pymodbus on loopback.

Listens on a free loopback port and prints "port N". Every table (co, di,
ir, hr) holds addresses 0..199, all zero; anything beyond answers with an
exception. Commands on stdin, one a line, each answered with one line
starting "ok" (or "error ..."):

  set TABLE ADDRESS V...   store values from ADDRESS on
  get TABLE ADDRESS COUNT  "ok V..." the values stored there
  stop                     close the port and every connection
  start                    listen on the same port again
  delay SECONDS            answer every request that much later
  mute-writes              take writes but never answer them
  muted                    "ok N": the writes left unanswered so far
  quit
"""
import asyncio
import logging
import sys
import threading

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server.async_io import ModbusConnectedRequestHandler, ModbusTcpServer

SIZE = 200
delay = 0.0
mute = False
muted = 0
WRITES = (5, 6, 15, 16)


class SlowHandler(ModbusConnectedRequestHandler):
    def send(self, message, *addr, **kwargs):
        global muted
        if mute and getattr(message, "function_code", 0) in WRITES:
            muted += 1
            return
        if delay > 0:
            asyncio.get_running_loop().call_later(
                delay, lambda: super(SlowHandler, self).send(message, *addr, **kwargs))
        else:
            super().send(message, *addr, **kwargs)


def make_context():
    tables = {name: ModbusSequentialDataBlock(0, [0] * SIZE) for name in ("di", "co", "hr", "ir")}
    slave = ModbusSlaveContext(zero_mode=True, **tables)
    return ModbusServerContext(slaves=slave, single=True)


class Peer:
    def __init__(self, loop):
        self.loop = loop
        self.context = make_context()
        self.server = None
        self.port = 0

    async def start(self):
        self.server = ModbusTcpServer(self.context, address=("127.0.0.1", self.port),
                                      handler=SlowHandler, allow_reuse_address=True)
        asyncio.ensure_future(self.server.serve_forever())
        await self.server.serving
        self.port = self.server.server.sockets[0].getsockname()[1]

    async def stop(self):
        if self.server is None:
            return
        for handler in list(self.server.active_connections.values()):
            handler.transport.close()
        await self.server.server_close()
        self.server = None

    def table(self, name):
        codes = {"co": 1, "di": 2, "hr": 3, "ir": 4}
        return codes[name]

    def command(self, words):
        global delay, mute
        if words[0] == "mute-writes":
            mute = True
            return "ok"
        if words[0] == "muted":
            return "ok " + str(muted)
        if words[0] == "set":
            values = [int(v) for v in words[3:]]
            self.context[0].setValues(self.table(words[1]), int(words[2]), values)
            return "ok"
        if words[0] == "get":
            values = self.context[0].getValues(self.table(words[1]), int(words[2]), int(words[3]))
            return "ok " + " ".join(str(int(v)) for v in values)
        if words[0] in ("stop", "start"):
            coroutine = self.stop() if words[0] == "stop" else self.start()
            asyncio.run_coroutine_threadsafe(coroutine, self.loop).result()
            return "ok"
        if words[0] == "delay":
            delay = float(words[1])
            return "ok"
        return "error unknown command"


def main():
    # Refused requests and dropped connections are what the tests ask for.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    peer = Peer(loop)
    loop.run_until_complete(peer.start())
    print("port", peer.port, flush=True)

    def read_commands():
        for line in sys.stdin:
            words = line.split()
            if not words:
                continue
            if words[0] == "quit":
                break
            try:
                answer = peer.command(words)
            except Exception as error:  # a test's mistake, said back to it
                answer = "error " + str(error)
            print(answer, flush=True)
        loop.call_soon_threadsafe(loop.stop)

    threading.Thread(target=read_commands, daemon=True).start()
    loop.run_forever()


if __name__ == "__main__":
    main()
