// The 56 exports of the kmtv1 library, declared exactly as include/kmtv1.h has them.
//
// Marshalling, by parameter kind (all of them blittable except the discovery strings, so
// the runtime passes pointers to the caller's own variables and pins arrays in place):
//   uint32_t *handle          ref uint      (in and out: the open call stores it)
//   int32_t *status           out int
//   uint8_t / uint16_t        byte / ushort (never int: the stack slot is the same on
//                                            x86-64, but the width is part of the contract)
//   int32_t / uint32_t        int / uint
//   double                    double
//   T *value (out)            out byte / out ushort / out uint / out int / out double
//   T *value (in and out)     ref ushort / ref byte (UART_Read's and hc165_Read's counts,
//                                            KMT_SendComm's length)
//   uint8_t *buffer           [In] byte[] where the library only reads, [In, Out] byte[]
//                             where it writes; uint16_t * sample arrays [In, Out] ushort[]
//   discovery strings         Windows: [MarshalAs(UnmanagedType.Struct)] ref object, a
//                             VARIANT holding a BSTR; elsewhere: an LPStr string in and a
//                             byte[] of StringSize bytes out.
// Every export uses CallingConvention.StdCall: __stdcall on 32-bit Windows; on x86-64 and
// ARM there is one convention and the runtime ignores it.
using System;
using System.Runtime.InteropServices;

namespace Kmtv1
{
    /// <summary>
    /// The library's 56 exported functions as platform invoke declarations, for calls the
    /// <see cref="Controller"/> methods do not cover. Each has the C function's name and
    /// parameter widths; every function returns nothing and reports through its pointer
    /// parameters (a status last for device functions; 0 is success).
    /// </summary>
    /// <remarks>
    /// The library is <c>KMTv1dll.dll</c> on Windows and <c>libkmtv1.so.1</c> on Linux; it
    /// is located once, before the first call, by <see cref="NativeLibraryLocator"/>.
    /// The three discovery functions that take strings have two forms:
    /// the <c>ref object</c> form (a VARIANT) is the Windows library's, the
    /// <c>string</c>/<c>byte[]</c> form the Linux library's; <see cref="UsesVariants"/>
    /// says which one applies. Calling the other form is undefined behaviour.
    /// Buffers must have at least the size the header states beside each function.
    /// </remarks>
    public static class NativeMethods
    {
        /// <summary>The name platform invoke resolves; the locator maps it to the file.</summary>
        public const string LibraryName = "KMTv1dll";

        /// <summary>Size of the payload buffer <see cref="KMT_SendComm"/> reads and writes whole.</summary>
        public const int PayloadSize = 16385;

        /// <summary>Size of each string buffer of the Linux form of <see cref="KMT_GetTypeAndSNbyIndex(int, byte[], byte[], out int)"/>.</summary>
        public const int StringSize = 256;

        /// <summary>Device status: success.</summary>
        public const int StatusOk = 0;
        /// <summary>Device status: no device open, or the driver failed the request write.</summary>
        public const int StatusNotOpen = 1;
        /// <summary>Device status: no, short or corrupt response, or the controller refused.</summary>
        public const int StatusBadResponse = 2;
        /// <summary>Discovery status: unknown device type name.</summary>
        public const int StatusUnknownType = 3;
        /// <summary>Device status: an argument the controller cannot take; nothing was sent.</summary>
        public const int StatusOutOfRange = 4;

        static NativeMethods()
        {
            NativeLibraryLocator.TryEnsureLoaded();
        }

        /// <summary>
        /// True where the discovery strings are VARIANTs (Windows): use the <c>ref object</c>
        /// overloads there and the <c>string</c>/<c>byte[]</c> overloads elsewhere.
        /// </summary>
        public static bool UsesVariants
        {
            get { return NativeLibraryLocator.IsWindows; }
        }

        const CallingConvention Convention = CallingConvention.StdCall;

        // ---- Raw exchange -----------------------------------------------------------

        /// <summary>Sends one request frame and waits for the response frame. <paramref name="buffer"/>: <see cref="PayloadSize"/> bytes, request in, response out; <paramref name="length"/>: request length in, response length out.</summary>
        [DllImport(LibraryName, EntryPoint = "KMT_SendComm", CallingConvention = Convention)]
        public static extern void KMT_SendComm(ref uint handle, ushort framePrefix, byte group, byte command, int responseDelayMs, [In, Out] byte[] buffer, ref ushort length, out int status);

        // ---- Discovery and connection -----------------------------------------------

        /// <summary>Windows form: lists the controllers of a public type name (a VARIANT holding a string, such as "KMTCV1").</summary>
        [DllImport(LibraryName, EntryPoint = "KMT_CreateListDevs", CallingConvention = Convention)]
        public static extern void KMT_CreateListDevs([MarshalAs(UnmanagedType.Struct)] ref object typeName, out int count, out int status);

        /// <summary>Linux form: lists the controllers of a public type name (such as "KMTCV1").</summary>
        [DllImport(LibraryName, EntryPoint = "KMT_CreateListDevs", CallingConvention = Convention)]
        public static extern void KMT_CreateListDevs([MarshalAs(UnmanagedType.LPStr)] string typeName, out int count, out int status);

        /// <summary>Windows form: the type code and serial number of listed entry <paramref name="index"/>; each output VARIANT receives a string.</summary>
        [DllImport(LibraryName, EntryPoint = "KMT_GetTypeAndSNbyIndex", CallingConvention = Convention)]
        public static extern void KMT_GetTypeAndSNbyIndex(int index, [MarshalAs(UnmanagedType.Struct)] ref object typeOut, [MarshalAs(UnmanagedType.Struct)] ref object serialOut, out int status);

        /// <summary>Linux form: the type code and serial number of listed entry <paramref name="index"/>, NUL-terminated in buffers of <see cref="StringSize"/> bytes.</summary>
        [DllImport(LibraryName, EntryPoint = "KMT_GetTypeAndSNbyIndex", CallingConvention = Convention)]
        public static extern void KMT_GetTypeAndSNbyIndex(int index, [Out] byte[] typeOut, [Out] byte[] serialOut, out int status);

        /// <summary>Windows form: opens the controller with this full serial-number string (a VARIANT holding a string).</summary>
        [DllImport(LibraryName, EntryPoint = "KMT_InitBySN", CallingConvention = Convention)]
        public static extern void KMT_InitBySN(ref uint handle, [MarshalAs(UnmanagedType.Struct)] ref object serial, out int status);

        /// <summary>Linux form: opens the controller with this full serial-number string.</summary>
        [DllImport(LibraryName, EntryPoint = "KMT_InitBySN", CallingConvention = Convention)]
        public static extern void KMT_InitBySN(ref uint handle, [MarshalAs(UnmanagedType.LPStr)] string serial, out int status);

        /// <summary>Closes the device; the second argument is ignored.</summary>
        [DllImport(LibraryName, EntryPoint = "KMT_Close", CallingConvention = Convention)]
        public static extern void KMT_Close(ref uint handle, uint unused);

        /// <summary>The library version: 1, 0, 43.</summary>
        [DllImport(LibraryName, EntryPoint = "KMT_GetDriverVersion", CallingConvention = Convention)]
        public static extern void KMT_GetDriverVersion(out int major, out int minor, out int build);

        // ---- System and identity ------------------------------------------------------

        /// <summary>Stores the driver type constant 1; needs no open device.</summary>
        [DllImport(LibraryName, EntryPoint = "SYS_GetDriverType", CallingConvention = Convention)]
        public static extern void SYS_GetDriverType(out ushort driverType);

        /// <summary>The four firmware identification words.</summary>
        [DllImport(LibraryName, EntryPoint = "SYS_GetFirmWare", CallingConvention = Convention)]
        public static extern void SYS_GetFirmWare(ref uint handle, out ushort firmware1, out ushort firmware2, out ushort firmware3, out ushort firmware4, out int status);

        /// <summary>Writes the user serial number: 16 bytes.</summary>
        [DllImport(LibraryName, EntryPoint = "SYS_WriteUserSN", CallingConvention = Convention)]
        public static extern void SYS_WriteUserSN(ref uint handle, [In] byte[] userSn, out int status);

        /// <summary>Reads the user serial number: 16 bytes.</summary>
        [DllImport(LibraryName, EntryPoint = "SYS_ReadUserSN", CallingConvention = Convention)]
        public static extern void SYS_ReadUserSN(ref uint handle, [In, Out] byte[] userSn, out int status);

        /// <summary>Writes the user area: 128 bytes.</summary>
        [DllImport(LibraryName, EntryPoint = "SYS_WriteUserArea", CallingConvention = Convention)]
        public static extern void SYS_WriteUserArea(ref uint handle, [In] byte[] userArea, out int status);

        /// <summary>Reads the user area: 128 bytes.</summary>
        [DllImport(LibraryName, EntryPoint = "SYS_ReadUserArea", CallingConvention = Convention)]
        public static extern void SYS_ReadUserArea(ref uint handle, [In, Out] byte[] userArea, out int status);

        /// <summary>Sends the watchdog byte.</summary>
        [DllImport(LibraryName, EntryPoint = "WatchDog", CallingConvention = Convention)]
        public static extern void WatchDog(ref uint handle, byte value, out int status);

        /// <summary>The controller's 32-bit counter.</summary>
        [DllImport(LibraryName, EntryPoint = "SYS_ReadCount", CallingConvention = Convention)]
        public static extern void SYS_ReadCount(ref uint handle, out uint count, out int status);

        // ---- Digital I/O ------------------------------------------------------------------

        /// <summary>Sets one line's mode (lines 0..11, modes 0..2; larger values are clamped by the library).</summary>
        [DllImport(LibraryName, EntryPoint = "DIO_SetBitMode", CallingConvention = Convention)]
        public static extern void DIO_SetBitMode(ref uint handle, byte bit, byte mode, out int status);

        /// <summary>Sets one line's latch.</summary>
        [DllImport(LibraryName, EntryPoint = "DIO_WriteBit", CallingConvention = Convention)]
        public static extern void DIO_WriteBit(ref uint handle, byte bit, byte value, out int status);

        /// <summary>Reads a port's levels.</summary>
        [DllImport(LibraryName, EntryPoint = "DIO_ReadPort", CallingConvention = Convention)]
        public static extern void DIO_ReadPort(ref uint handle, byte port, out byte value, out int status);

        /// <summary>Writes a port's latches.</summary>
        [DllImport(LibraryName, EntryPoint = "DIO_WritePort", CallingConvention = Convention)]
        public static extern void DIO_WritePort(ref uint handle, byte port, byte value, out int status);

        /// <summary>Sets a port's mode.</summary>
        [DllImport(LibraryName, EntryPoint = "DIO_SetPortMode", CallingConvention = Convention)]
        public static extern void DIO_SetPortMode(ref uint handle, byte port, byte mode, out int status);

        /// <summary>Writes all lines at once; <paramref name="lineCodes"/> and <paramref name="lineValues"/>: 16 bytes each.</summary>
        [DllImport(LibraryName, EntryPoint = "DIO_WriteMask", CallingConvention = Convention)]
        public static extern void DIO_WriteMask(ref uint handle, [In] byte[] lineCodes, [In] byte[] lineValues, out int status);

        // ---- Analog I/O -------------------------------------------------------------------

        /// <summary>The four analog inputs in volts.</summary>
        [DllImport(LibraryName, EntryPoint = "AI_SimpleRead", CallingConvention = Convention)]
        public static extern void AI_SimpleRead(ref uint handle, out double volts1, out double volts2, out double volts3, out double volts4, out int status);

        /// <summary>The four analog inputs in volts and the controller's timer.</summary>
        [DllImport(LibraryName, EntryPoint = "AI_SimpleReadTimer", CallingConvention = Convention)]
        public static extern void AI_SimpleReadTimer(ref uint handle, out double volts1, out double volts2, out double volts3, out double volts4, out uint timer, out int status);

        /// <summary>One analog input in volts (channel byte 0..3 reads input 1..4).</summary>
        [DllImport(LibraryName, EntryPoint = "AI_ReadCh4", CallingConvention = Convention)]
        public static extern void AI_ReadCh4(ref uint handle, byte channel, out double volts, out int status);

        /// <summary>One analog input in volts and the controller's timer.</summary>
        [DllImport(LibraryName, EntryPoint = "AI_ReadCh4Timer", CallingConvention = Convention)]
        public static extern void AI_ReadCh4Timer(ref uint handle, byte channel, out double volts, out uint timer, out int status);

        /// <summary>Sets analog output 0 or 1 (any other channel: status 4, nothing sent).</summary>
        [DllImport(LibraryName, EntryPoint = "AO_SimpleWrite", CallingConvention = Convention)]
        public static extern void AO_SimpleWrite(ref uint handle, byte channel, double volts, out int status);

        /// <summary>Sends the DAC divider.</summary>
        [DllImport(LibraryName, EntryPoint = "AO_SetDACDivider", CallingConvention = Convention)]
        public static extern void AO_SetDACDivider(ref uint handle, ushort divider, out int status);

        // ---- I2C and SPI masters ----------------------------------------------------------

        /// <summary>Prepares the I2C master.</summary>
        [DllImport(LibraryName, EntryPoint = "I2C_Init", CallingConvention = Convention)]
        public static extern void I2C_Init(ref uint handle, out int status);

        /// <summary>Sends an I2C start condition.</summary>
        [DllImport(LibraryName, EntryPoint = "I2C_Start", CallingConvention = Convention)]
        public static extern void I2C_Start(ref uint handle, out int status);

        /// <summary>Sends an I2C stop condition.</summary>
        [DllImport(LibraryName, EntryPoint = "I2C_Stop", CallingConvention = Convention)]
        public static extern void I2C_Stop(ref uint handle, out int status);

        /// <summary>Writes one I2C byte; <paramref name="rxByte"/> receives the answer.</summary>
        [DllImport(LibraryName, EntryPoint = "I2C_Write", CallingConvention = Convention)]
        public static extern void I2C_Write(ref uint handle, byte txByte, out byte rxByte, out int status);

        /// <summary>Reads one I2C byte.</summary>
        [DllImport(LibraryName, EntryPoint = "I2C_Read", CallingConvention = Convention)]
        public static extern void I2C_Read(ref uint handle, byte txByte, out byte rxByte, out int status);

        /// <summary>Selects the I2C clock 1..5 (others send clock code 0).</summary>
        [DllImport(LibraryName, EntryPoint = "I2C_SetTimeClock", CallingConvention = Convention)]
        public static extern void I2C_SetTimeClock(ref uint handle, byte clockSelector, out int status);

        /// <summary>Sends the SPI setting byte that <paramref name="setting"/> holds (1 byte, only read).</summary>
        [DllImport(LibraryName, EntryPoint = "SPI_Init", CallingConvention = Convention)]
        public static extern void SPI_Init(ref uint handle, [In] byte[] setting, out int status);

        /// <summary>Exchanges one SPI byte.</summary>
        [DllImport(LibraryName, EntryPoint = "SPI_Byte", CallingConvention = Convention)]
        public static extern void SPI_Byte(ref uint handle, byte txByte, out byte rxByte, out int status);

        /// <summary>Selects the SPI clock 1..7 (others send clock code 0).</summary>
        [DllImport(LibraryName, EntryPoint = "SPI_SetTimeClock", CallingConvention = Convention)]
        public static extern void SPI_SetTimeClock(ref uint handle, byte clockSelector, out int status);

        /// <summary>One SPI bit transfer.</summary>
        [DllImport(LibraryName, EntryPoint = "SPI_Bit", CallingConvention = Convention)]
        public static extern void SPI_Bit(ref uint handle, byte txByte, out byte rxByte, out int status);

        // ---- UART bridge ----------------------------------------------------------------

        /// <summary>Configures and opens the UART bridge.</summary>
        [DllImport(LibraryName, EntryPoint = "UART_Init", CallingConvention = Convention)]
        public static extern void UART_Init(ref uint handle, ushort configWord, byte configByte1, byte configByte2, out int status);

        /// <summary>Sends the UART interrupt setting.</summary>
        [DllImport(LibraryName, EntryPoint = "UART_Interrupt", CallingConvention = Convention)]
        public static extern void UART_Interrupt(ref uint handle, byte interruptSetting, out int status);

        /// <summary>Closes the UART bridge.</summary>
        [DllImport(LibraryName, EntryPoint = "UART_Close", CallingConvention = Convention)]
        public static extern void UART_Close(ref uint handle, out int status);

        /// <summary>Sends the UART read time-out.</summary>
        [DllImport(LibraryName, EntryPoint = "UART_SetTimeOut", CallingConvention = Convention)]
        public static extern void UART_SetTimeOut(ref uint handle, ushort timeOut, out int status);

        /// <summary>Reads UART bytes: <paramref name="count"/> bytes wanted in, delivered out; <paramref name="data"/>: 64 bytes.</summary>
        [DllImport(LibraryName, EntryPoint = "UART_Read", CallingConvention = Convention)]
        public static extern void UART_Read(ref uint handle, ref ushort count, [In, Out] byte[] data, out byte trailerByte1, out byte trailerByte2, out int status);

        /// <summary>Sends min(count, 64) bytes of <paramref name="data"/>.</summary>
        [DllImport(LibraryName, EntryPoint = "UART_Write", CallingConvention = Convention)]
        public static extern void UART_Write(ref uint handle, ushort count, [In] byte[] data, out int status);

        // ---- 1-Wire master ----------------------------------------------------------------

        /// <summary>1-Wire bus initialisation.</summary>
        [DllImport(LibraryName, EntryPoint = "WR1_Init", CallingConvention = Convention)]
        public static extern void WR1_Init(ref uint handle, out byte reply, out int status);

        /// <summary>Reads one 1-Wire byte.</summary>
        [DllImport(LibraryName, EntryPoint = "WR1_Read", CallingConvention = Convention)]
        public static extern void WR1_Read(ref uint handle, out byte value, out int status);

        /// <summary>Writes one 1-Wire byte.</summary>
        [DllImport(LibraryName, EntryPoint = "WR1_Write", CallingConvention = Convention)]
        public static extern void WR1_Write(ref uint handle, byte value, out byte reply, out int status);

        /// <summary>Writes min(count, 64) bytes of <paramref name="data"/>, which then holds the controller's answer.</summary>
        [DllImport(LibraryName, EntryPoint = "WR1_WriteSome", CallingConvention = Convention)]
        public static extern void WR1_WriteSome(ref uint handle, ushort count, [In, Out] byte[] data, out int status);

        /// <summary>One ROM search step; <paramref name="rom"/>: 8 bytes.</summary>
        [DllImport(LibraryName, EntryPoint = "WR1_SearchRom", CallingConvention = Convention)]
        public static extern void WR1_SearchRom(ref uint handle, out byte searchResult, [In, Out] byte[] rom, out int status);

        /// <summary>Reads min(count, 64) bytes into <paramref name="data"/>.</summary>
        [DllImport(LibraryName, EntryPoint = "WR1_ReadSome", CallingConvention = Convention)]
        public static extern void WR1_ReadSome(ref uint handle, ushort count, [In, Out] byte[] data, out int status);

        // ---- Generator, pulse counter and shift-register expansion ------------------------

        /// <summary>Starts the signal generator.</summary>
        [DllImport(LibraryName, EntryPoint = "Gen_Generate", CallingConvention = Convention)]
        public static extern void Gen_Generate(ref uint handle, ushort value1, ushort value2, ushort value3, out int status);

        /// <summary>Prepares the shift-register expansion port.</summary>
        [DllImport(LibraryName, EntryPoint = "exp1_Init", CallingConvention = Convention)]
        public static extern void exp1_Init(ref uint handle, out int status);

        /// <summary>Shifts out min(count, 64) bytes of <paramref name="data"/>.</summary>
        [DllImport(LibraryName, EntryPoint = "hc595_Write", CallingConvention = Convention)]
        public static extern void hc595_Write(ref uint handle, byte count, [In] byte[] data, out int status);

        /// <summary>Shifts in <paramref name="count"/> bytes (limited to 64 in place) into <paramref name="data"/> (64 bytes).</summary>
        [DllImport(LibraryName, EntryPoint = "hc165_Read", CallingConvention = Convention)]
        public static extern void hc165_Read(ref uint handle, ref byte count, [In, Out] byte[] data, out int status);

        /// <summary>Counts pulses over counting window <paramref name="selector"/>.</summary>
        [DllImport(LibraryName, EntryPoint = "CountImp", CallingConvention = Convention)]
        public static extern void CountImp(ref uint handle, ushort selector, out ushort pulseCount, out int status);

        // ---- Block acquisition and waveform output ----------------------------------------

        /// <summary>Block acquisition: the sample arrays hold min(sampleCount, 2000) + 1 words each, for the first <paramref name="channelCount"/> arrays (the others may be null).</summary>
        [DllImport(LibraryName, EntryPoint = "AI_Read", CallingConvention = Convention)]
        public static extern void AI_Read(ref uint handle, byte channelEnable1, byte channelEnable2, byte channelEnable3, byte channelEnable4, byte auxByte1, byte auxByte2, ushort sampleDelay, ushort auxWord1, ushort auxWord2, ushort sampleCount, double threshold, out byte trailerByte, out uint trailerValue, [In, Out] ushort[] samples1, [In, Out] ushort[] samples2, [In, Out] ushort[] samples3, [In, Out] ushort[] samples4, out int channelCount, out double duration, out int status);

        /// <summary>Logic scan of port 0: <paramref name="portSamples"/> holds min(sampleCount, 4000) + 1 bytes.</summary>
        [DllImport(LibraryName, EntryPoint = "DIO_ScanPort", CallingConvention = Convention)]
        public static extern void DIO_ScanPort(ref uint handle, byte auxByte1, byte auxByte2, ushort sampleDelay, ushort auxWord1, ushort auxWord2, ushort sampleCount, out byte trailerByte, [In, Out] byte[] portSamples, out double samplePeriod, out int status);

        /// <summary>Waveform output of min(waveLength, 2000) bytes of <paramref name="waveData"/>.</summary>
        [DllImport(LibraryName, EntryPoint = "DO_WaveOut", CallingConvention = Convention)]
        public static extern void DO_WaveOut(ref uint handle, ushort waveLength, ushort waveMode, [In] byte[] waveData, out int status);
    }
}
