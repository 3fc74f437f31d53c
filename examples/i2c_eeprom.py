"""I2C: writes four bytes into the EEPROM at address 0x50 and reads them back.

    KMT_DRIVER=sim python3 i2c_eeprom.py

After a start, the first byte is the 7-bit address shifted left with the read bit:
0xA0 writes to 0x50, 0xA1 reads from it. i2c_write returns 0 when acknowledged.
"""

import kmtv1

ADDRESS = 0x50
MEMORY_AT = 0x10


def acknowledged(controller, byte):
    if controller.i2c_write(byte) != 0:
        raise SystemExit("no acknowledge for byte 0x%02X" % byte)


with kmtv1.Controller() as controller:
    controller.i2c_init()
    controller.i2c_start()
    for byte in (ADDRESS << 1, MEMORY_AT, 0xCA, 0xFE, 0x12, 0x34):
        acknowledged(controller, byte)
    controller.i2c_stop()  # the EEPROM writes its page now

    controller.i2c_start()
    acknowledged(controller, ADDRESS << 1)
    acknowledged(controller, MEMORY_AT)
    controller.i2c_start()  # repeated start, now reading
    acknowledged(controller, ADDRESS << 1 | 1)
    # 0 asks for more; non-zero on the last byte ends the read.
    data = [controller.i2c_read(0 if i < 3 else 1) for i in range(4)]
    controller.i2c_stop()
    print("EEPROM 0x%02X at 0x%02X: %s" % (ADDRESS, MEMORY_AT, " ".join("%02X" % b for b in data)))
