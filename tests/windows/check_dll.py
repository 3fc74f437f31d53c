#!/usr/bin/env python3
"""Checks a Windows DLL without running it.

  check_dll.py OBJDUMP DLL DEF [NM OBJECT]

- the export directory's name is the LIBRARY name of the module definition file DEF;
- the exports are exactly the names of DEF, undecorated;
- only system DLLs are imported;
- with NM and OBJECT (32-bit builds): every export is defined in OBJECT as a __stdcall
  function NAME@N, and N, the bytes the function removes from the stack, is the size of
  its argument list in the table below. A wrong prototype or .def entry shows up here.
"""
import re
import subprocess
import sys

# Argument lists, one letter per argument: p pointer, l 32-bit, w 16-bit, b 8-bit (each
# one 4-byte slot), d double (two slots).
ARGUMENTS = {
    "KMT_SendComm": "pwbblppp", "KMT_CreateListDevs": "ppp", "KMT_GetTypeAndSNbyIndex": "lppp",
    "KMT_InitBySN": "ppp", "KMT_Close": "pl", "KMT_GetDriverVersion": "ppp",
    "SYS_GetDriverType": "p", "SYS_GetFirmWare": "pppppp", "SYS_WriteUserSN": "ppp",
    "SYS_ReadUserSN": "ppp", "SYS_WriteUserArea": "ppp", "SYS_ReadUserArea": "ppp",
    "WatchDog": "pbp", "SYS_ReadCount": "ppp",
    "DIO_SetBitMode": "pbbp", "DIO_WriteBit": "pbbp", "DIO_ReadPort": "pbpp",
    "DIO_WritePort": "pbbp", "DIO_SetPortMode": "pbbp", "DIO_WriteMask": "pppp",
    "AI_SimpleRead": "pppppp", "AI_SimpleReadTimer": "ppppppp", "AI_ReadCh4": "pbpp",
    "AI_ReadCh4Timer": "pbppp", "AO_SimpleWrite": "pbdp", "AO_SetDACDivider": "pwp",
    "I2C_Init": "pp", "I2C_Start": "pp", "I2C_Stop": "pp", "I2C_Write": "pbpp",
    "I2C_Read": "pbpp", "I2C_SetTimeClock": "pbp",
    "SPI_Init": "ppp", "SPI_Byte": "pbpp", "SPI_SetTimeClock": "pbp", "SPI_Bit": "pbpp",
    "UART_Init": "pwbbp", "UART_Interrupt": "pbp", "UART_Close": "pp", "UART_SetTimeOut": "pwp",
    "UART_Read": "pppppp", "UART_Write": "pwpp",
    "WR1_Init": "ppp", "WR1_Read": "ppp", "WR1_Write": "pbpp", "WR1_WriteSome": "pwpp",
    "WR1_SearchRom": "pppp", "WR1_ReadSome": "pwpp",
    "Gen_Generate": "pwwwp", "exp1_Init": "pp", "hc595_Write": "pbpp", "hc165_Read": "pppp",
    "CountImp": "pwpp",
    "AI_Read": "pbbbbbbwwwwd" + "p" * 9, "DIO_ScanPort": "pbbwwwwpppp", "DO_WaveOut": "pwwpp",
    # The simulated controller's drop-in driver library.
    "FT_ListDevices": "ppl", "FT_OpenEx": "plp", "FT_Close": "p", "FT_ResetDevice": "p",
    "FT_Purge": "pl", "FT_SetBaudRate": "pl", "FT_SetDataCharacteristics": "pbbb",
    "FT_SetFlowControl": "pwbb", "FT_SetTimeouts": "pll", "FT_Write": "pplp", "FT_Read": "pplp",
    "kmt_sim_d2xx_call_count": "",
}
SLOT_BYTES = {"p": 4, "l": 4, "w": 4, "b": 4, "d": 8}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "oleaut32.dll", "ole32.dll", "advapi32.dll",
               "msvcrt.dll", "ntdll.dll", "ws2_32.dll"}


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def main(objdump, dll, definition, nm=None, obj=None):
    failures = []
    with open(definition) as f:
        text = f.read()
    module = re.search(r"^LIBRARY\s+(\S+)", text, re.M).group(1)
    module = module if module.lower().endswith(".dll") else module + ".dll"
    names = re.findall(r"^  ([A-Za-z_]\w*)\s*$", text, re.M)

    dump = run(objdump, "-p", dll)
    exports_at = dump.find("[Ordinal/Name Pointer] Table")
    exported = re.findall(r"^\s+\[\s*\d+\] (\S+)$", dump[exports_at:], re.M)
    directory = re.search(r"^Name\s+[0-9a-fA-F]+ (\S+)$", dump, re.M)
    if directory is None or directory.group(1) != module:
        failures.append(f"export directory name {directory and directory.group(1)}, not {module}")
    if sorted(exported) != sorted(names):
        failures.append(f"exports differ from {definition}: extra "
                        f"{sorted(set(exported) - set(names))}, missing "
                        f"{sorted(set(names) - set(exported))}, {len(exported)} in all")
    imports = re.findall(r"DLL Name: (\S+)", dump)
    foreign = [name for name in imports if name.lower() not in SYSTEM_DLLS]
    if foreign:
        failures.append(f"imports DLLs that are not the system's: {foreign}")

    if obj is not None:
        symbols = run(nm, "--defined-only", obj)
        decorated = dict(re.findall(r" T _(\w+)@(\d+)$", symbols, re.M))
        for name in names:
            expected = sum(SLOT_BYTES[kind] for kind in ARGUMENTS[name])
            found = decorated.get(name)
            if found is None:
                failures.append(f"{name}: no __stdcall definition in {obj}")
            elif int(found) != expected:
                failures.append(f"{name}@{found}: its arguments take {expected} bytes")

    for failure in failures:
        print(f"{dll}: {failure}")
    checked = "names, imports" + (", stdcall argument sizes" if obj else "")
    print(f"{dll}: {len(exported)} exports as {module}; imports {', '.join(imports)}; "
          f"{checked}: {'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
