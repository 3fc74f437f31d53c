"""System area: firmware words, the millisecond counter, and the 16-byte user serial
number written into non-volatile memory and read back.

    KMT_DRIVER=sim python3 system_info.py
"""

import kmtv1

with kmtv1.Controller() as controller:
    print("firmware words: %d %d %d %d" % controller.firmware())
    print("controller time: %d ms" % controller.read_count())
    controller.write_user_sn(b"bench-rig-0042\x00\x00")
    print("user serial number: %r" % controller.read_user_sn().rstrip(b"\x00").decode())
