#!/usr/bin/env python3
"""A serial peer on a pseudo-terminal: prints the slave path on its first
line, then records every byte the program sends into the output file until
it is stopped."""
import os
import pty
import select
import sys
import termios
import tty

out_path = sys.argv[1]
master, slave = pty.openpty()
tty.setraw(slave)
attrs = termios.tcgetattr(slave)
attrs[3] &= ~termios.ECHO
termios.tcsetattr(slave, termios.TCSANOW, attrs)
print(os.ttyname(slave), flush=True)
with open(out_path, "wb", buffering=0) as out:
    while True:
        ready, _, _ = select.select([master], [], [], 0.5)
        if ready:
            try:
                data = os.read(master, 4096)
            except OSError:
                continue
            out.write(data)
