"""1-Wire: finds every device with the ROM search and reads each temperature sensor
(family 0x28).

    KMT_DRIVER=sim python3 onewire_temperatures.py

wr1_search_rom's result: 0 no device, 1 a device and more remain, 2 the last one.
"""

import kmtv1

MATCH_ROM, CONVERT, READ_SCRATCHPAD = 0x55, 0x44, 0xBE

with kmtv1.Controller() as controller:
    roms = []
    while True:
        found = controller.wr1_search_rom()
        if found.result == 0:
            break
        roms.append(found.rom)
        if found.result == 2:
            break
    for rom in roms:
        line = "device %s" % rom.hex(" ")
        if rom[0] == 0x28:
            controller.wr1_init()
            controller.wr1_write_some(bytes([MATCH_ROM]) + rom + bytes([CONVERT]))
            controller.wr1_init()
            controller.wr1_write_some(bytes([MATCH_ROM]) + rom + bytes([READ_SCRATCHPAD]))
            scratchpad = controller.wr1_read_some(9)
            sixteenths = int.from_bytes(scratchpad[0:2], "little", signed=True)
            line += ": %.4f degrees C" % (sixteenths / 16)
        print(line)
