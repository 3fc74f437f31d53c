using System;
using System.Collections.Generic;
using System.Globalization;
using System.Runtime.CompilerServices;

namespace Kmtv1
{
    /// <summary>
    /// One open controller. <see cref="Open()"/> opens the first KMTCV1 controller found,
    /// <see cref="Open(string)"/> the one with a full serial-number string; dispose it
    /// (<c>using</c>) or call <see cref="Close"/>.
    /// </summary>
    /// <remarks>
    /// Every method makes the library call(s) named in its documentation and throws a
    /// <see cref="KmtException"/> subclass when a call reports a non-zero status. Arguments
    /// are checked before anything is sent: a value the controller cannot take throws
    /// <see cref="ArgumentOutOfRangeException"/> naming the allowed range (data too long for
    /// one transfer: <see cref="ArgumentException"/>), rather than being clamped or cut by
    /// the library. Methods may be called from any thread; each holds one process-wide lock
    /// (<see cref="SyncRoot"/>) for its calls. The library keeps one "device open" state
    /// for all devices: closing any controller disarms the others until the next open.
    /// After <see cref="Close"/> the methods still reach the library, which answers
    /// status 1 (<see cref="NotOpenException"/>).
    /// </remarks>
    public sealed class Controller : IDisposable
    {
        /// <summary>Digital lines 0..11.</summary>
        public const int Lines = 12;
        /// <summary>Digital ports 0 and 1.</summary>
        public const int Ports = 2;
        /// <summary>Analog inputs 1..4 (channel bytes 0..3).</summary>
        public const int AnalogInputCount = 4;
        /// <summary>Analog outputs 0 and 1.</summary>
        public const int AnalogOutputCount = 2;
        /// <summary>Analog inputs and outputs span 0..5 V.</summary>
        public const double FullScaleVolts = 5.0;
        /// <summary>Most intervals of one block acquisition (<see cref="AiRead"/>).</summary>
        public const int MaxAcquisitionCount = 2000;
        /// <summary>Most intervals of one logic scan (<see cref="ScanPort"/>).</summary>
        public const int MaxScanCount = 4000;
        /// <summary>Most extra microseconds per instant of a block acquisition or scan.</summary>
        public const int MaxSampleDelay = 3000;
        /// <summary>Most bytes of one waveform output.</summary>
        public const int MaxWaveLength = 2000;
        /// <summary>Bytes of one UART, 1-Wire or shift-register transfer.</summary>
        public const int BlockLimit = 64;
        /// <summary>Bytes of the user serial number.</summary>
        public const int UserSNSize = 16;
        /// <summary>Bytes of the user area.</summary>
        public const int UserAreaSize = 128;
        /// <summary>Entries of each of <see cref="WriteMask"/>'s tables.</summary>
        public const int LineTableSize = 16;

        // The library's timing model of a block acquisition, in microseconds: one conversion
        // per selected input, a fixed share per instant, and the delay word sent (delay + 6).
        const double ConversionMicroseconds = 108.7663;
        const double InstantMicroseconds = 19.2327;
        const int DelayOffsetMicroseconds = 6;
        const ushort WaveMode = 7;

        static readonly object Gate = new object();

        uint handle;
        bool closed;

        Controller(string serial)
        {
            Serial = serial;
        }

        /// <summary>
        /// The lock every method holds for its library calls; hold it around raw
        /// <see cref="NativeMethods"/> calls that must not be interleaved with others.
        /// </summary>
        public static object SyncRoot
        {
            get { return Gate; }
        }

        /// <summary>The full serial-number string this controller was opened with.</summary>
        public string Serial { get; private set; }

        /// <summary>The library's handle, for raw <see cref="NativeMethods"/> calls (pass a copy by <c>ref</c>).</summary>
        public uint Handle
        {
            get { return handle; }
        }

        /// <summary>True once <see cref="Close"/> has run.</summary>
        public bool IsClosed
        {
            get { return closed; }
        }

        // ---- discovery and lifetime ---------------------------------------------------

        /// <summary>The library version (KMT_GetDriverVersion): major, minor, build.</summary>
        public static Version GetLibraryVersion()
        {
            NativeLibraryLocator.EnsureLoaded();
            return LibraryVersionNative();
        }

        [MethodImpl(MethodImplOptions.NoInlining)]
        static Version LibraryVersionNative()
        {
            int major, minor, build;
            lock (Gate) NativeMethods.KMT_GetDriverVersion(out major, out minor, out build);
            return new Version(major, minor, build);
        }

        /// <summary>The library's driver type constant (SYS_GetDriverType); needs no device.</summary>
        public static ushort GetDriverType()
        {
            NativeLibraryLocator.EnsureLoaded();
            return DriverTypeNative();
        }

        [MethodImpl(MethodImplOptions.NoInlining)]
        static ushort DriverTypeNative()
        {
            ushort value;
            lock (Gate) NativeMethods.SYS_GetDriverType(out value);
            return value;
        }

        /// <summary>
        /// Lists the controllers of a public type name (KMT_CreateListDevs, then
        /// KMT_GetTypeAndSNbyIndex per entry). Finding none, or having no driver at all,
        /// gives an empty list.
        /// </summary>
        /// <exception cref="UnknownTypeException">The type name is not known (status 3).</exception>
        /// <exception cref="KmtException">Another driver failure with nothing found; carries the driver's status.</exception>
        /// <exception cref="LibraryNotFoundException">The native library could not be loaded.</exception>
        public static IList<ControllerInfo> List(string typeName = "KMTCV1")
        {
            if (typeName == null) throw new ArgumentNullException("typeName");
            NativeLibraryLocator.EnsureLoaded();
            var found = new List<ControllerInfo>();
            int count, status;
            lock (Gate)
            {
                DiscoveryText.CreateListDevs(typeName, out count, out status);
                if (status == NativeMethods.StatusUnknownType && count == 0)
                {
                    throw KmtException.ForStatus("KMT_CreateListDevs", status, "unknown device type name '" + typeName + "'");
                }
                for (int index = 0; index < count; index++) found.Add(DiscoveryText.GetTypeAndSNbyIndex(index));
            }
            // Driver status 2 is "device not found": the ordinary state without a controller.
            if (found.Count == 0 && status != NativeMethods.StatusOk && status != 2)
            {
                throw KmtException.ForStatus("KMT_CreateListDevs", status);
            }
            return found;
        }

        /// <summary>Opens the first KMTCV1 controller found.</summary>
        /// <exception cref="NotOpenException">None was found, or it could not be opened.</exception>
        public static Controller Open()
        {
            IList<ControllerInfo> listed = List();
            if (listed.Count == 0) throw new NotOpenException("KMT_CreateListDevs", "no KMTCV1 controller found");
            return Open(listed[0]);
        }

        /// <summary>Opens a listed controller.</summary>
        public static Controller Open(ControllerInfo controller)
        {
            if (controller == null) throw new ArgumentNullException("controller");
            return Open(controller.FullSerial);
        }

        /// <summary>Opens the controller with this full serial-number string (type code + serial) (KMT_InitBySN).</summary>
        /// <exception cref="NotOpenException">It could not be opened (status 1).</exception>
        public static Controller Open(string fullSerial)
        {
            if (fullSerial == null) throw new ArgumentNullException("fullSerial");
            NativeLibraryLocator.EnsureLoaded();
            var controller = new Controller(fullSerial);
            int status;
            lock (Gate) DiscoveryText.InitBySN(ref controller.handle, fullSerial, out status);
            if (status != NativeMethods.StatusOk)
            {
                controller.closed = true;
                throw KmtException.ForStatus("KMT_InitBySN", status, "cannot open '" + fullSerial + "'");
            }
            return controller;
        }

        /// <summary>
        /// Closes the device (KMT_Close). Closing twice does nothing. Closing any controller
        /// disarms the others until the next controller is opened.
        /// </summary>
        public void Close()
        {
            lock (Gate)
            {
                if (closed) return;
                NativeMethods.KMT_Close(ref handle, 0);
                closed = true;
            }
        }

        /// <summary>Closes the device, as <see cref="Close"/>.</summary>
        public void Dispose()
        {
            Close();
        }

        /// <summary>The serial-number string, and whether it is closed.</summary>
        public override string ToString()
        {
            return "Kmtv1.Controller " + Serial + (closed ? " (closed)" : "");
        }

        // ---- checks -------------------------------------------------------------------

        static void Check(string function, int status)
        {
            if (status != NativeMethods.StatusOk) throw KmtException.ForStatus(function, status);
        }

        static int CheckInt(string name, int value, int low, int high, string unit = "")
        {
            if (value < low || value > high)
            {
                throw new ArgumentOutOfRangeException(name, value, string.Format(CultureInfo.InvariantCulture, "{0} must be in {1}..{2}{3}, got {4}", name, low, high, unit, value));
            }
            return value;
        }

        static byte U8(string name, int value)
        {
            return (byte)CheckInt(name, value, 0, byte.MaxValue);
        }

        static ushort U16(string name, int value)
        {
            return (ushort)CheckInt(name, value, 0, ushort.MaxValue);
        }

        // Refuses NaN, infinities and levels outside 0..5 V: the library would send a
        // wrapped code, so -0.001 V would mean full scale.
        static double Volts(string name, double value)
        {
            if (double.IsNaN(value) || value < 0.0 || value > FullScaleVolts)
            {
                throw new ArgumentOutOfRangeException(name, value, string.Format(CultureInfo.InvariantCulture, "{0} must be in 0..5 V, got {1}", name, value));
            }
            return value;
        }

        static byte[] LimitLength(string name, byte[] data, int limit)
        {
            if (data == null) throw new ArgumentNullException(name);
            if (data.Length > limit)
            {
                throw new ArgumentException(string.Format(CultureInfo.InvariantCulture, "{0} holds {1} bytes; at most {2} go in one transfer", name, data.Length, limit), name);
            }
            return data;
        }

        static byte[] Padded(byte[] data, int size)
        {
            var block = new byte[size];
            Array.Copy(data, block, data.Length);
            return block;
        }

        // ---- raw exchange ---------------------------------------------------------------

        /// <summary>
        /// One raw request/response exchange (KMT_SendComm); returns the response payload.
        /// Group 8 sends the three-byte short request. <paramref name="delayMs"/>: pause
        /// between request and response (0 or less: none).
        /// </summary>
        public byte[] Send(int group, int command, byte[] payload = null, int delayMs = 0, int framePrefix = 0x0010)
        {
            payload = payload ?? new byte[0];
            if (payload.Length > NativeMethods.PayloadSize)
            {
                throw new ArgumentException(string.Format(CultureInfo.InvariantCulture, "payload of {0} bytes exceeds {1}", payload.Length, NativeMethods.PayloadSize), "payload");
            }
            ushort prefix = U16("framePrefix", framePrefix);
            byte groupByte = U8("group", group);
            byte commandByte = U8("command", command);
            byte[] buffer = Padded(payload, NativeMethods.PayloadSize);
            var length = (ushort)payload.Length;
            int status;
            lock (Gate) NativeMethods.KMT_SendComm(ref handle, prefix, groupByte, commandByte, delayMs, buffer, ref length, out status);
            Check("KMT_SendComm", status);
            var response = new byte[length];
            Array.Copy(buffer, response, length);
            return response;
        }

        // ---- system and identity --------------------------------------------------------

        /// <summary>The four firmware identification words (SYS_GetFirmWare).</summary>
        public ushort[] Firmware()
        {
            ushort w1, w2, w3, w4;
            int status;
            lock (Gate) NativeMethods.SYS_GetFirmWare(ref handle, out w1, out w2, out w3, out w4, out status);
            Check("SYS_GetFirmWare", status);
            return new[] { w1, w2, w3, w4 };
        }

        /// <summary>Stores the 16-byte user serial number (SYS_WriteUserSN); shorter data is padded with zero bytes.</summary>
        public void WriteUserSN(byte[] data)
        {
            byte[] block = Padded(LimitLength("data", data, UserSNSize), UserSNSize);
            int status;
            lock (Gate) NativeMethods.SYS_WriteUserSN(ref handle, block, out status);
            Check("SYS_WriteUserSN", status);
        }

        /// <summary>The 16-byte user serial number (SYS_ReadUserSN).</summary>
        public byte[] ReadUserSN()
        {
            var block = new byte[UserSNSize];
            int status;
            lock (Gate) NativeMethods.SYS_ReadUserSN(ref handle, block, out status);
            Check("SYS_ReadUserSN", status);
            return block;
        }

        /// <summary>Stores the 128-byte user area (SYS_WriteUserArea); shorter data is padded with zero bytes.</summary>
        public void WriteUserArea(byte[] data)
        {
            byte[] block = Padded(LimitLength("data", data, UserAreaSize), UserAreaSize);
            int status;
            lock (Gate) NativeMethods.SYS_WriteUserArea(ref handle, block, out status);
            Check("SYS_WriteUserArea", status);
        }

        /// <summary>The 128-byte user area (SYS_ReadUserArea).</summary>
        public byte[] ReadUserArea()
        {
            var block = new byte[UserAreaSize];
            int status;
            lock (Gate) NativeMethods.SYS_ReadUserArea(ref handle, block, out status);
            Check("SYS_ReadUserArea", status);
            return block;
        }

        /// <summary>Sends the watchdog byte 0..255 (WatchDog).</summary>
        public void Watchdog(int value)
        {
            byte v = U8("value", value);
            int status;
            lock (Gate) NativeMethods.WatchDog(ref handle, v, out status);
            Check("WatchDog", status);
        }

        /// <summary>The controller's 32-bit counter (SYS_ReadCount).</summary>
        public uint ReadCount()
        {
            uint count;
            int status;
            lock (Gate) NativeMethods.SYS_ReadCount(ref handle, out count, out status);
            Check("SYS_ReadCount", status);
            return count;
        }

        // ---- digital I/O ------------------------------------------------------------------

        /// <summary>Sets the mode byte 0..255 of line 0..11 (DIO_SetBitMode); 1 makes it an output.</summary>
        public void SetBitMode(int line, int mode)
        {
            byte l = (byte)CheckInt("line", line, 0, Lines - 1);
            byte m = U8("mode", mode);
            int status;
            lock (Gate) NativeMethods.DIO_SetBitMode(ref handle, l, m, out status);
            Check("DIO_SetBitMode", status);
        }

        /// <summary>Sets line 0..11 low (false) or high (true) (DIO_WriteBit).</summary>
        public void WriteBit(int line, bool level)
        {
            byte l = (byte)CheckInt("line", line, 0, Lines - 1);
            int status;
            lock (Gate) NativeMethods.DIO_WriteBit(ref handle, l, level ? (byte)1 : (byte)0, out status);
            Check("DIO_WriteBit", status);
        }

        /// <summary>Reads port 0 (lines 0..7) or 1 (lines 8..11 in bits 0..3) (DIO_ReadPort).</summary>
        public byte ReadPort(int port)
        {
            byte p = (byte)CheckInt("port", port, 0, Ports - 1);
            byte value;
            int status;
            lock (Gate) NativeMethods.DIO_ReadPort(ref handle, p, out value, out status);
            Check("DIO_ReadPort", status);
            return value;
        }

        /// <summary>Writes port 0 or 1, one bit per line, value 0..255 (DIO_WritePort).</summary>
        public void WritePort(int port, int value)
        {
            byte p = (byte)CheckInt("port", port, 0, Ports - 1);
            byte v = U8("value", value);
            int status;
            lock (Gate) NativeMethods.DIO_WritePort(ref handle, p, v, out status);
            Check("DIO_WritePort", status);
        }

        /// <summary>Sets the mode byte 0..255 of port 0 or 1 (DIO_SetPortMode); 1 makes it outputs.</summary>
        public void SetPortMode(int port, int mode)
        {
            byte p = (byte)CheckInt("port", port, 0, Ports - 1);
            byte m = U8("mode", mode);
            int status;
            lock (Gate) NativeMethods.DIO_SetPortMode(ref handle, p, m, out status);
            Check("DIO_SetPortMode", status);
        }

        /// <summary>
        /// Writes all twelve lines at once (DIO_WriteMask). codes[i] for line i: 0 sends
        /// 0x00, 1 sends 0xFF, 2 sends values[i]. Both may be shorter than 12 (at most 16
        /// entries, each 0..255); missing entries are 0.
        /// </summary>
        public void WriteMask(int[] codes, int[] values = null)
        {
            byte[] codeTable = LineTable("codes", codes);
            byte[] valueTable = LineTable("values", values ?? new int[0]);
            int status;
            lock (Gate) NativeMethods.DIO_WriteMask(ref handle, codeTable, valueTable, out status);
            Check("DIO_WriteMask", status);
        }

        static byte[] LineTable(string name, int[] entries)
        {
            if (entries == null) throw new ArgumentNullException(name);
            var table = new byte[LineTableSize];
            for (int i = 0; i < entries.Length; i++)
            {
                byte value = U8(name + "[" + i + "]", entries[i]);
                if (i < LineTableSize) table[i] = value;
            }
            if (entries.Length > LineTableSize)
            {
                throw new ArgumentException(string.Format(CultureInfo.InvariantCulture, "{0} has {1} entries; there are 12 lines", name, entries.Length), name);
            }
            return table;
        }

        // ---- analog I/O -------------------------------------------------------------------

        /// <summary>The four analog inputs in volts (AI_SimpleRead).</summary>
        public double[] AnalogInputs()
        {
            double v1, v2, v3, v4;
            int status;
            lock (Gate) NativeMethods.AI_SimpleRead(ref handle, out v1, out v2, out v3, out v4, out status);
            Check("AI_SimpleRead", status);
            return new[] { v1, v2, v3, v4 };
        }

        /// <summary>The four analog inputs in volts and the controller's timer value (AI_SimpleReadTimer).</summary>
        public double[] AnalogInputsTimed(out uint timer)
        {
            double v1, v2, v3, v4;
            int status;
            lock (Gate) NativeMethods.AI_SimpleReadTimer(ref handle, out v1, out v2, out v3, out v4, out timer, out status);
            Check("AI_SimpleReadTimer", status);
            return new[] { v1, v2, v3, v4 };
        }

        /// <summary>One analog input in volts (AI_ReadCh4); channel 0..3 reads input 1..4.</summary>
        public double ReadChannel(int channel)
        {
            byte c = (byte)CheckInt("channel", channel, 0, AnalogInputCount - 1);
            double volts;
            int status;
            lock (Gate) NativeMethods.AI_ReadCh4(ref handle, c, out volts, out status);
            Check("AI_ReadCh4", status);
            return volts;
        }

        /// <summary>One analog input in volts and the timer value (AI_ReadCh4Timer); channel 0..3 reads input 1..4.</summary>
        public double ReadChannelTimed(int channel, out uint timer)
        {
            byte c = (byte)CheckInt("channel", channel, 0, AnalogInputCount - 1);
            double volts;
            int status;
            lock (Gate) NativeMethods.AI_ReadCh4Timer(ref handle, c, out volts, out timer, out status);
            Check("AI_ReadCh4Timer", status);
            return volts;
        }

        /// <summary>
        /// Sets analog output 0 or 1 to 0..5 V (AO_SimpleWrite). Levels outside the range
        /// and NaN are refused: the library would send a wrapped code.
        /// </summary>
        public void WriteAnalog(int output, double volts)
        {
            byte o = (byte)CheckInt("output", output, 0, AnalogOutputCount - 1);
            double v = Volts("volts", volts);
            int status;
            lock (Gate) NativeMethods.AO_SimpleWrite(ref handle, o, v, out status);
            Check("AO_SimpleWrite", status);
        }

        /// <summary>Sends the DAC divider 0..65535 (AO_SetDACDivider).</summary>
        public void SetDacDivider(int divider)
        {
            ushort d = U16("divider", divider);
            int status;
            lock (Gate) NativeMethods.AO_SetDACDivider(ref handle, d, out status);
            Check("AO_SetDACDivider", status);
        }

        // ---- I2C and SPI masters ------------------------------------------------------------

        /// <summary>Prepares the I2C master (I2C_Init).</summary>
        public void I2cInit()
        {
            int status;
            lock (Gate) NativeMethods.I2C_Init(ref handle, out status);
            Check("I2C_Init", status);
        }

        /// <summary>Sends an I2C start condition (I2C_Start).</summary>
        public void I2cStart()
        {
            int status;
            lock (Gate) NativeMethods.I2C_Start(ref handle, out status);
            Check("I2C_Start", status);
        }

        /// <summary>Sends an I2C stop condition (I2C_Stop).</summary>
        public void I2cStop()
        {
            int status;
            lock (Gate) NativeMethods.I2C_Stop(ref handle, out status);
            Check("I2C_Stop", status);
        }

        /// <summary>Writes one byte 0..255 on the I2C bus; returns the controller's answer byte (I2C_Write).</summary>
        public byte I2cWrite(int value)
        {
            byte tx = U8("value", value);
            byte rx;
            int status;
            lock (Gate) NativeMethods.I2C_Write(ref handle, tx, out rx, out status);
            Check("I2C_Write", status);
            return rx;
        }

        /// <summary>Reads one byte from the I2C bus; <paramref name="value"/> (0..255) travels with the request (I2C_Read).</summary>
        public byte I2cRead(int value = 0)
        {
            byte tx = U8("value", value);
            byte rx;
            int status;
            lock (Gate) NativeMethods.I2C_Read(ref handle, tx, out rx, out status);
            Check("I2C_Read", status);
            return rx;
        }

        /// <summary>Selects the I2C clock 1..5; any other selector 0..255 sends clock code 0 (I2C_SetTimeClock).</summary>
        public void I2cSetClock(int selector)
        {
            byte s = U8("selector", selector);
            int status;
            lock (Gate) NativeMethods.I2C_SetTimeClock(ref handle, s, out status);
            Check("I2C_SetTimeClock", status);
        }

        /// <summary>Sends the SPI setting byte 0..255 (SPI_Init).</summary>
        public void SpiInit(int setting)
        {
            var block = new[] { U8("setting", setting) };
            int status;
            lock (Gate) NativeMethods.SPI_Init(ref handle, block, out status);
            Check("SPI_Init", status);
        }

        /// <summary>Exchanges one byte 0..255 on the SPI bus; returns the byte received (SPI_Byte).</summary>
        public byte SpiByte(int value)
        {
            byte tx = U8("value", value);
            byte rx;
            int status;
            lock (Gate) NativeMethods.SPI_Byte(ref handle, tx, out rx, out status);
            Check("SPI_Byte", status);
            return rx;
        }

        /// <summary>Exchanges each byte of <paramref name="data"/> in turn (SPI_Byte per byte); returns the bytes received.</summary>
        public byte[] SpiTransfer(byte[] data)
        {
            if (data == null) throw new ArgumentNullException("data");
            var received = new byte[data.Length];
            lock (Gate)
            {
                for (int i = 0; i < data.Length; i++) received[i] = SpiByte(data[i]);
            }
            return received;
        }

        /// <summary>One SPI bit transfer of a byte 0..255; returns the controller's answer byte (SPI_Bit).</summary>
        public byte SpiBit(int value)
        {
            byte tx = U8("value", value);
            byte rx;
            int status;
            lock (Gate) NativeMethods.SPI_Bit(ref handle, tx, out rx, out status);
            Check("SPI_Bit", status);
            return rx;
        }

        /// <summary>Selects the SPI clock 1..7; any other selector 0..255 sends clock code 0 (SPI_SetTimeClock).</summary>
        public void SpiSetClock(int selector)
        {
            byte s = U8("selector", selector);
            int status;
            lock (Gate) NativeMethods.SPI_SetTimeClock(ref handle, s, out status);
            Check("SPI_SetTimeClock", status);
        }

        // ---- UART bridge ------------------------------------------------------------------

        /// <summary>Configures and opens the UART bridge (UART_Init); the values (0..65535, 0..255, 0..255) pass unchanged.</summary>
        public void UartInit(int configWord, int configByte1, int configByte2)
        {
            ushort word = U16("configWord", configWord);
            byte b1 = U8("configByte1", configByte1);
            byte b2 = U8("configByte2", configByte2);
            int status;
            lock (Gate) NativeMethods.UART_Init(ref handle, word, b1, b2, out status);
            Check("UART_Init", status);
        }

        /// <summary>Sends the UART interrupt setting byte 0..255 (UART_Interrupt).</summary>
        public void UartInterrupt(int setting)
        {
            byte s = U8("setting", setting);
            int status;
            lock (Gate) NativeMethods.UART_Interrupt(ref handle, s, out status);
            Check("UART_Interrupt", status);
        }

        /// <summary>Closes the UART bridge (UART_Close).</summary>
        public void UartClose()
        {
            int status;
            lock (Gate) NativeMethods.UART_Close(ref handle, out status);
            Check("UART_Close", status);
        }

        /// <summary>Sends the UART read time-out word 0..65535 (UART_SetTimeOut).</summary>
        public void UartSetTimeout(int timeout)
        {
            ushort t = U16("timeout", timeout);
            int status;
            lock (Gate) NativeMethods.UART_SetTimeOut(ref handle, t, out status);
            Check("UART_SetTimeOut", status);
        }

        /// <summary>
        /// Reads up to min(count, 64) bytes, count 0..65535 (UART_Read). How many bytes come
        /// back is the controller's answer, not <paramref name="count"/>.
        /// </summary>
        public UartData UartRead(int count = BlockLimit)
        {
            ushort wanted = U16("count", count);
            var block = new byte[BlockLimit];
            byte trailer1, trailer2;
            int status;
            lock (Gate) NativeMethods.UART_Read(ref handle, ref wanted, block, out trailer1, out trailer2, out status);
            Check("UART_Read", status);
            var data = new byte[wanted];
            Array.Copy(block, data, wanted);
            return new UartData(data, trailer1, trailer2);
        }

        /// <summary>
        /// Sends <paramref name="data"/> (UART_Write), in blocks of 64 bytes when it is
        /// longer; stops at the first block that fails. Empty data sends one empty write.
        /// </summary>
        public void UartWrite(byte[] data)
        {
            if (data == null) throw new ArgumentNullException("data");
            lock (Gate)
            {
                int start = 0;
                do
                {
                    int length = Math.Min(BlockLimit, data.Length - start);
                    var block = new byte[Math.Max(length, 1)];
                    Array.Copy(data, start, block, 0, length);
                    int status;
                    NativeMethods.UART_Write(ref handle, (ushort)length, block, out status);
                    Check("UART_Write", status);
                    start += BlockLimit;
                } while (start < data.Length);
            }
        }

        // ---- 1-Wire master ------------------------------------------------------------------

        /// <summary>1-Wire bus initialisation (WR1_Init); returns the controller's reply byte.</summary>
        public byte Wr1Init()
        {
            byte reply;
            int status;
            lock (Gate) NativeMethods.WR1_Init(ref handle, out reply, out status);
            Check("WR1_Init", status);
            return reply;
        }

        /// <summary>Reads one byte from the 1-Wire bus (WR1_Read).</summary>
        public byte Wr1Read()
        {
            byte value;
            int status;
            lock (Gate) NativeMethods.WR1_Read(ref handle, out value, out status);
            Check("WR1_Read", status);
            return value;
        }

        /// <summary>Writes one byte 0..255 to the 1-Wire bus (WR1_Write); returns the controller's reply byte.</summary>
        public byte Wr1Write(int value)
        {
            byte v = U8("value", value);
            byte reply;
            int status;
            lock (Gate) NativeMethods.WR1_Write(ref handle, v, out reply, out status);
            Check("WR1_Write", status);
            return reply;
        }

        /// <summary>Writes up to 64 bytes (WR1_WriteSome); returns the controller's answer, as many bytes as were written.</summary>
        public byte[] Wr1WriteSome(byte[] data)
        {
            byte[] block = Padded(LimitLength("data", data, BlockLimit), BlockLimit);
            int status;
            lock (Gate) NativeMethods.WR1_WriteSome(ref handle, (ushort)data.Length, block, out status);
            Check("WR1_WriteSome", status);
            var answer = new byte[data.Length];
            Array.Copy(block, answer, data.Length);
            return answer;
        }

        /// <summary>Reads min(count, 64) bytes from the 1-Wire bus, count 0..65535 (WR1_ReadSome).</summary>
        public byte[] Wr1ReadSome(int count)
        {
            ushort wanted = U16("count", count);
            var block = new byte[BlockLimit];
            int status;
            lock (Gate) NativeMethods.WR1_ReadSome(ref handle, wanted, block, out status);
            Check("WR1_ReadSome", status);
            var data = new byte[Math.Min((int)wanted, BlockLimit)];
            Array.Copy(block, data, data.Length);
            return data;
        }

        /// <summary>One ROM search step (WR1_SearchRom): the result byte and the 8-byte ROM code.</summary>
        public RomSearch Wr1SearchRom()
        {
            byte result;
            var rom = new byte[8];
            int status;
            lock (Gate) NativeMethods.WR1_SearchRom(ref handle, out result, rom, out status);
            Check("WR1_SearchRom", status);
            return new RomSearch(result, rom);
        }

        // ---- generator, pulse counter and shift-register expansion ----------------------------

        /// <summary>
        /// Starts the signal generator (Gen_Generate): value1 and value2 in 6..10000, value3
        /// in 0..1000 (the library would clamp them; here they are refused).
        /// </summary>
        public void Generate(int value1, int value2, int value3)
        {
            var v1 = (ushort)CheckInt("value1", value1, 6, 10000);
            var v2 = (ushort)CheckInt("value2", value2, 6, 10000);
            var v3 = (ushort)CheckInt("value3", value3, 0, 1000);
            int status;
            lock (Gate) NativeMethods.Gen_Generate(ref handle, v1, v2, v3, out status);
            Check("Gen_Generate", status);
        }

        /// <summary>Counts pulses over counting window 0..17 (CountImp); returns the 16-bit result.</summary>
        public ushort CountPulses(int selector)
        {
            var s = (ushort)CheckInt("selector", selector, 0, 17);
            ushort pulses;
            int status;
            lock (Gate) NativeMethods.CountImp(ref handle, s, out pulses, out status);
            Check("CountImp", status);
            return pulses;
        }

        /// <summary>Prepares the shift-register expansion port (exp1_Init).</summary>
        public void Exp1Init()
        {
            int status;
            lock (Gate) NativeMethods.exp1_Init(ref handle, out status);
            Check("exp1_Init", status);
        }

        /// <summary>Shifts out up to 64 bytes (hc595_Write).</summary>
        public void Hc595Write(byte[] data)
        {
            byte[] block = Padded(LimitLength("data", data, BlockLimit), Math.Max(data.Length, 1));
            int status;
            lock (Gate) NativeMethods.hc595_Write(ref handle, (byte)data.Length, block, out status);
            Check("hc595_Write", status);
        }

        /// <summary>Shifts in min(count, 64) bytes, count 0..255 (hc165_Read).</summary>
        public byte[] Hc165Read(int count)
        {
            byte wanted = U8("count", count);
            var block = new byte[BlockLimit];
            int status;
            lock (Gate) NativeMethods.hc165_Read(ref handle, ref wanted, block, out status);
            Check("hc165_Read", status);
            var data = new byte[wanted];
            Array.Copy(block, data, wanted);
            return data;
        }

        // ---- block acquisition and waveform output ------------------------------------------

        /// <summary>
        /// Samples the analog inputs <paramref name="channels"/> (numbers 1..4) at
        /// sampleCount + 1 instants in one exchange (AI_Read); returns the block in volts
        /// with its time axis.
        /// </summary>
        /// <param name="channels">One to four of the inputs 1..4, in any order; the result has them ascending.</param>
        /// <param name="sampleCount">0..2000 intervals.</param>
        /// <param name="sampleDelay">0..3000 extra microseconds per instant.</param>
        /// <param name="threshold">A level of 0..5 V handed to the controller.</param>
        /// <param name="auxByte1">0..255, passed to the firmware.</param>
        /// <param name="auxByte2">0..255, passed to the firmware.</param>
        /// <param name="auxWord1">10..3000, passed to the firmware.</param>
        /// <param name="auxWord2">0..3000, passed to the firmware.</param>
        public Acquisition AiRead(int[] channels, int sampleCount = 100, int sampleDelay = 0, double threshold = 0.0, int auxByte1 = 0, int auxByte2 = 0, int auxWord1 = 10, int auxWord2 = 0)
        {
            if (channels == null) throw new ArgumentNullException("channels");
            var selected = new List<int>();
            foreach (int input in channels)
            {
                if (input < 1 || input > AnalogInputCount)
                {
                    throw new ArgumentOutOfRangeException("channels", input, "channels must name one to four of the inputs 1..4, got " + input);
                }
                if (!selected.Contains(input)) selected.Add(input);
            }
            if (selected.Count == 0) throw new ArgumentException("channels must name one to four of the inputs 1..4, got none", "channels");
            selected.Sort();
            var count = (ushort)CheckInt("sampleCount", sampleCount, 0, MaxAcquisitionCount);
            var delay = (ushort)CheckInt("sampleDelay", sampleDelay, 0, MaxSampleDelay, " microseconds");
            double level = Volts("threshold", threshold);
            byte aux1 = U8("auxByte1", auxByte1);
            byte aux2 = U8("auxByte2", auxByte2);
            var word1 = (ushort)CheckInt("auxWord1", auxWord1, 10, 3000);
            var word2 = (ushort)CheckInt("auxWord2", auxWord2, 0, 3000);

            var enables = new byte[4];
            foreach (int input in selected) enables[input - 1] = 1;
            // Every array gets count + 1 words, whichever inputs are selected: the library
            // fills the first channel-count arrays in input order.
            var arrays = new ushort[4][];
            for (int i = 0; i < 4; i++) arrays[i] = new ushort[count + 1];
            byte trailerByte;
            uint trailerValue;
            int channelCount, status;
            double duration;
            lock (Gate)
            {
                NativeMethods.AI_Read(ref handle, enables[0], enables[1], enables[2], enables[3], aux1, aux2, delay, word1, word2, count, level, out trailerByte, out trailerValue, arrays[0], arrays[1], arrays[2], arrays[3], out channelCount, out duration, out status);
            }
            Check("AI_Read", status);

            double intervalMicroseconds = selected.Count * ConversionMicroseconds + InstantMicroseconds + (delay + DelayOffsetMicroseconds);
            double step = intervalMicroseconds / 1e6;
            var time = new double[count + 1];
            for (int i = 0; i <= count; i++) time[i] = i * step;
            var counts = new ushort[selected.Count, count + 1];
            var volts = new double[selected.Count, count + 1];
            for (int row = 0; row < selected.Count; row++)
            {
                for (int i = 0; i <= count; i++)
                {
                    counts[row, i] = arrays[row][i];
                    volts[row, i] = arrays[row][i] / 1023.0 * FullScaleVolts;
                }
            }
            return new Acquisition(time, volts, selected.ToArray(), counts, trailerByte, trailerValue, duration);
        }

        /// <summary>
        /// Samples digital port 0 (lines 0..7) at sampleCount + 1 instants in one exchange
        /// (DIO_ScanPort); returns the line levels with their time axis.
        /// </summary>
        /// <param name="sampleCount">0..4000 intervals.</param>
        /// <param name="sampleDelay">0..3000 extra microseconds per sample.</param>
        /// <param name="auxByte1">0..255, passed to the firmware.</param>
        /// <param name="auxByte2">0..255, passed to the firmware.</param>
        /// <param name="auxWord1">10..3000, passed to the firmware.</param>
        /// <param name="auxWord2">0..3000, passed to the firmware.</param>
        public PortScan ScanPort(int sampleCount = 100, int sampleDelay = 0, int auxByte1 = 0, int auxByte2 = 0, int auxWord1 = 10, int auxWord2 = 0)
        {
            var count = (ushort)CheckInt("sampleCount", sampleCount, 0, MaxScanCount);
            var delay = (ushort)CheckInt("sampleDelay", sampleDelay, 0, MaxSampleDelay, " microseconds");
            byte aux1 = U8("auxByte1", auxByte1);
            byte aux2 = U8("auxByte2", auxByte2);
            var word1 = (ushort)CheckInt("auxWord1", auxWord1, 10, 3000);
            var word2 = (ushort)CheckInt("auxWord2", auxWord2, 0, 3000);
            var samples = new byte[count + 1];
            byte trailerByte;
            double period;
            int status;
            lock (Gate) NativeMethods.DIO_ScanPort(ref handle, aux1, aux2, delay, word1, word2, count, out trailerByte, samples, out period, out status);
            Check("DIO_ScanPort", status);
            var time = new double[samples.Length];
            var levels = new byte[8, samples.Length];
            for (int i = 0; i < samples.Length; i++)
            {
                time[i] = i * period;
                for (int line = 0; line < 8; line++) levels[line, i] = (byte)((samples[i] >> line) & 1);
            }
            return new PortScan(time, levels, samples, trailerByte, period);
        }

        /// <summary>Outputs up to 2000 bytes on the digital port (DO_WaveOut); empty data sends nothing.</summary>
        public void WaveOut(byte[] data)
        {
            byte[] block = Padded(LimitLength("data", data, MaxWaveLength), Math.Max(data.Length, 1));
            int status;
            lock (Gate) NativeMethods.DO_WaveOut(ref handle, (ushort)data.Length, WaveMode, block, out status);
            Check("DO_WaveOut", status);
        }
    }
}
