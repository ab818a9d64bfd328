#!/usr/bin/python3
"""The dump as a user would script it with pyserial: the reference Tessaly is measured against.

Usage: reference_dump.py DEVICE DIRECTORY [TIMEOUT]

Same exchange, file and listing as tessaly-dump, with the same exit status: 0 saved and checksum
matched, 1 saved but the checksum did not match, 3 the box did not answer within TIMEOUT seconds
(default 10) for one answer.
"""
import os
import sys

import serial

FLASH_INFO = bytes.fromhex(
    "4B 41 05 16 21 27 82 7F E0 7F F0 7F FE 40 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 4F 4E")
BOX_SILENT = 3


def wait_for(port, token):
    seen = b""
    while token not in seen:
        read = port.read(max(1, port.in_waiting))
        if not read:
            sys.exit(BOX_SILENT)
        seen += read


def listing(data):
    """16 bytes a line, each as two hex digits and a space, a line break before each line."""
    rows = (data[start:start + 16] for start in range(0, len(data), 16))
    return "".join("\n" + "".join(f"{b:02X} " for b in row) for row in rows)


def main():
    device, directory = sys.argv[1], sys.argv[2]
    timeout = float(sys.argv[3]) if len(sys.argv) > 3 else 10
    with serial.Serial(device, 115200, bytesize=8, parity="N", stopbits=1, timeout=timeout) as port:
        port.reset_input_buffer()
        print("sending request...")
        port.write(b"REQUEST_V616\r\nBL_FLASH_INFO\r\n" + FLASH_INFO + b"\r\n\x00BL_FLASH_END\r\n")
        wait_for(port, b"PC___")
        port.write(b"REQUEST_START_BLOCK\r\n")
        wait_for(port, b"0000")
        port.write(b"REQUEST_BLOCK\r\n")
        wait_for(port, b"1984")
        port.write(b"REQUEST_DOWNLOAD\r\n\r\nREQUEST_E2PROM\r\n")
        reply = port.read(1025)
        if len(reply) != 1025:
            sys.exit(BOX_SILENT)
        with open(os.path.join(directory, "EEPROM.bin"), "wb") as image:
            image.write(reply[:1024])
        ok = sum(reply[:1024]) % 256 == reply[1024]
        print(listing(reply[:1024]) + ("" if ok else "CRC Error!!!"))
        port.write(b"E2PROMDOWN_SUCCESS\r\n" if ok else b"E2PROMDOWN_ERROR\r")
        port.flush()
    print("\nSerial port closed.")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
