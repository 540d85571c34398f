#!/usr/bin/env python3
"""The power status query done by hand with pyserial, for comparison with
orva-ctl: open the port at 19200 8N1, send "CR0" CR, read up to the CR, print
the decoded power status. Usage: status_pyserial.py DEVICE"""
import sys

import serial

POWER = {"00": "Power ON", "80": "Stand by", "40": "Count down", "20": "Cooling down"}

with serial.Serial(sys.argv[1], 19200, bytesize=8, parity="N", stopbits=1, timeout=0.5) as port:
    port.write(b"CR0\r")
    reply = port.read_until(b"\r")
if not reply.endswith(b"\r"):
    print("no reply", file=sys.stderr)
    sys.exit(2)
print(POWER.get(reply[:-1].decode("ascii", "replace"), reply[:-1].decode("ascii", "replace")))
