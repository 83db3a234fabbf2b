#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# The real program answering pymodbus's read_device_information: a profile
# with a device identification, the program on one end of a socat pty pair,
# pymodbus on the other. Usage: device_identification.py BUILD_DIR
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from pymodbus.client import ModbusSerialClient
from pymodbus.mei_message import ReadDeviceInformationRequest


def read(client, code, first):
    return client.execute(ReadDeviceInformationRequest(read_code=code, object_id=first, unit=7))


build = sys.argv[1]
work = tempfile.mkdtemp()
slave_end, master_end = os.path.join(work, "slave"), os.path.join(work, "master")
socat = subprocess.Popen(["socat", "pty,raw,echo=0,link=" + slave_end,
                          "pty,raw,echo=0,link=" + master_end])
program = None
try:
    for f in ("quorlin", "scripts.dll"):
        shutil.copy(os.path.join(build, f), work)
    profile = os.path.join(work, "id.QRL")
    with open(profile, "w") as f:
        f.write("[SerialSettings]\nMBid=7\nBaudRate=5\n[Slave7]\nDeviceId=1\n"
                "VendorName=Quorlin Examples\nProductCode=QM-3\nRevision=1.2\n"
                "ModelName=" + "M" * 230 + "\n")
    deadline = time.time() + 10
    while not os.path.exists(master_end) and time.time() < deadline:
        time.sleep(0.05)
    with open(os.path.join(work, "quorlin.ini"), "w") as f:
        f.write("[General]\nCurrentProfile=%s\n[Ports]\nCOM2=%s\n" % (profile, slave_end))
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    program = subprocess.Popen([os.path.join(work, "quorlin")], env=env, cwd=work)
    client = ModbusSerialClient(port=master_end, baudrate=9600, parity="E", timeout=1,
                                strict=False)
    assert client.connect()
    objects = {}
    deadline = time.time() + 30
    reply = None
    while time.time() < deadline:
        reply = read(client, 2, 0)
        if not reply.isError():
            break
    assert reply is not None and not reply.isError(), reply
    objects.update(reply.information)
    # The long model name does not fit the first reply: it follows.
    assert reply.more_follows == 0xFF, reply.more_follows
    reply = read(client, 2, reply.next_object_id)
    objects.update(reply.information)
    assert objects[0] == b"Quorlin Examples", objects
    assert objects[1] == b"QM-3" and objects[2] == b"1.2", objects
    assert objects[5] == b"M" * 230, objects
    one = read(client, 4, 1)
    assert one.information == {1: b"QM-3"}, one.information
    missing = read(client, 4, 3)
    assert missing.isError() and missing.exception_code == 2, missing
    client.close()
    print("device identification read by pymodbus")
finally:
    if program:
        program.send_signal(signal.SIGTERM)
        program.wait(20)
    socat.terminate()
    socat.wait(10)
    shutil.rmtree(work, ignore_errors=True)
