#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# A Modbus ASCII master built from pymodbus's framer and messages, talking
# through descriptor 3 (the master side of the program's pty). Every reply is
# compared character for character with what pymodbus itself would send for
# the expected answer, then decoded by pymodbus. Exit 0: all held; 1: a
# mismatch (printed); 77: pymodbus is missing.
import os
import select
import sys
import time

try:
    from pymodbus.bit_read_message import ReadCoilsRequest, ReadCoilsResponse
    from pymodbus.bit_write_message import WriteSingleCoilRequest, WriteSingleCoilResponse
    from pymodbus.factory import ClientDecoder
    from pymodbus.pdu import ExceptionResponse
    from pymodbus.register_read_message import (ReadHoldingRegistersRequest,
                                                ReadHoldingRegistersResponse)
    from pymodbus.register_write_message import (WriteMultipleRegistersRequest,
                                                 WriteMultipleRegistersResponse,
                                                 WriteSingleRegisterRequest,
                                                 WriteSingleRegisterResponse)
    from pymodbus.transaction import ModbusAsciiFramer
except ImportError as e:
    print("pymodbus missing:", e)
    sys.exit(77)

FD = 3
failures = []


def packet(message):
    message.unit_id = 1
    return ModbusAsciiFramer(ClientDecoder()).buildPacket(message)


def exchange(request_bytes, timeout):
    """Writes the request, returns the reply's characters up to LF (b'' for none)."""
    os.write(FD, request_bytes)
    reply = b""
    deadline = time.monotonic() + timeout
    while not reply.endswith(b"\r\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([FD], [], [], left)[0]:
            break
        reply += os.read(FD, 600)
    return reply


def decoded(reply):
    framer = ModbusAsciiFramer(ClientDecoder())
    got = []
    framer.processIncomingPacket(reply, got.append, unit=1)
    return got[0] if got else None


def check(name, request, expected_reply, transform=lambda b: b):
    sent = transform(packet(request))
    reply = exchange(sent, 5.0 if expected_reply is not None else 1.5)
    want = packet(expected_reply) if expected_reply is not None else b""
    if reply != want:
        failures.append(f"{name}: sent {sent!r}, got {reply!r}, expected {want!r}")
        return None
    return decoded(reply) if reply else None


values = [0x1234, 0xABCD, 0x0001]
check("write 3 registers", WriteMultipleRegistersRequest(10, values),
      WriteMultipleRegistersResponse(10, len(values)))
got = check("read them back", ReadHoldingRegistersRequest(10, 3),
            ReadHoldingRegistersResponse(values))
if got is not None and got.registers != values:
    failures.append(f"decoded registers {got.registers}")
check("write one register", WriteSingleRegisterRequest(0, 0x5A5A),
      WriteSingleRegisterResponse(0, 0x5A5A))
check("lower-case request", ReadHoldingRegistersRequest(0, 1),
      ReadHoldingRegistersResponse([0x5A5A]),
      transform=lambda b: b[:1] + b[1:-2].lower() + b[-2:])
check("write coil", WriteSingleCoilRequest(3, True), WriteSingleCoilResponse(3, True))
check("read coils", ReadCoilsRequest(0, 8),
      ReadCoilsResponse([False, False, False, True, False, False, False, False]))
# 126 registers cannot fit one reply: exception 3, illegal data value.
check("too many registers", ReadHoldingRegistersRequest(0, 126),
      ExceptionResponse(0x03, 3))
# A request whose LRC is wrong is not answered; the next one is.
check("wrong LRC", ReadHoldingRegistersRequest(0, 1), None,
      transform=lambda b: b[:-3] + (b"0" if b[-3:-2] != b"0" else b"1") + b[-2:])
check("after the wrong LRC", ReadHoldingRegistersRequest(0, 1),
      ReadHoldingRegistersResponse([0x5A5A]))

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
