#!/usr/bin/env python3
"""Checks a Windows DLL without running it.

  check_dll.py [--version=X.Y.Z] OBJDUMP DLL DEF [NM OBJECT]

- the export directory's name is the LIBRARY name of the module definition file DEF;
- the exports are exactly the names of DEF, undecorated;
- only system DLLs are imported;
- with NM and OBJECT (32-bit builds): every export is defined in OBJECT as a __stdcall
  function NAME@N, and N, the bytes the function removes from the stack, is the size of
  its argument list in the table below. A wrong prototype or .def entry shows up here;
- with --version: the DLL's version resource gives X.Y.Z.0 as its fixed file and product
  versions, X.Y.Z as its FileVersion and ProductVersion strings, and a FileDescription.
"""
import re
import struct
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


def version_resource(dll):
    """(file version, product version, {key: text}) of the DLL's VERSIONINFO, or None.

    VS_FIXEDFILEINFO starts with its signature 0xFEEF04BD; each String of the
    StringFileInfo block is wLength, wValueLength (in UTF-16 units, NUL included), wType,
    the key, padding to 4 bytes, the value. Resource data are 4-byte aligned in the file.
    """
    with open(dll, "rb") as f:
        data = f.read()
    fixed = data.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        return None
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", data, fixed + 8)
    versions = [(ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
                for ms, ls in ((file_ms, file_ls), (product_ms, product_ls))]
    strings = {}
    for key in ("CompanyName", "FileDescription", "FileVersion", "ProductName",
                "ProductVersion"):
        at = data.find((key + "\0").encode("utf-16-le"), fixed)
        if at < 6 or (at - 6) % 4:
            continue
        units = struct.unpack_from("<H", data, at - 4)[0]
        value_at = (at + 2 * (len(key) + 1) + 3) & ~3
        strings[key] = data[value_at:value_at + 2 * units].decode("utf-16-le").rstrip("\0")
    return versions[0], versions[1], strings


def check_version(dll, version):
    """Failures of the DLL's version resource against the project's version X.Y.Z."""
    found = version_resource(dll)
    if found is None:
        return ["no version resource"]
    file_version, product_version, strings = found
    numbers = tuple(int(part) for part in version.split(".")) + (0,)
    failures = [f"{name} {'.'.join(map(str, got))}, not {'.'.join(map(str, numbers))}"
                for name, got in (("fixed file version", file_version),
                                  ("fixed product version", product_version))
                if got != numbers]
    failures += [f"{key} {strings.get(key)!r}, not {version!r}"
                 for key in ("FileVersion", "ProductVersion") if strings.get(key) != version]
    if not strings.get("FileDescription"):
        failures.append("no FileDescription")
    return failures


def main(objdump, dll, definition, nm=None, obj=None, version=None):
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

    if version is not None:
        failures += check_version(dll, version)

    for failure in failures:
        print(f"{dll}: {failure}")
    checked = ("names, imports" + (", stdcall argument sizes" if obj else "")
               + (f", version resource {version}" if version else ""))
    print(f"{dll}: {len(exported)} exports as {module}; imports {', '.join(imports)}; "
          f"{checked}: {'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


if __name__ == "__main__":
    arguments = sys.argv[1:]
    version = None
    if arguments and arguments[0].startswith("--version="):
        version = arguments.pop(0).split("=", 1)[1]
    sys.exit(main(*arguments, version=version))
