using System;
using System.Collections.Generic;

namespace Kmtv1
{
    /// <summary>One listed controller: its 8-character type code and its serial number.</summary>
    public sealed class ControllerInfo
    {
        /// <summary>Creates the entry from a type code and a serial number.</summary>
        public ControllerInfo(string type, string serial)
        {
            Type = type ?? "";
            Serial = serial ?? "";
        }

        /// <summary>The 8-character type code, such as "KMTC0002".</summary>
        public string Type { get; private set; }

        /// <summary>The serial number after the type code.</summary>
        public string Serial { get; private set; }

        /// <summary>The full serial-number string (type code + serial) that opens it.</summary>
        public string FullSerial
        {
            get { return Type + Serial; }
        }

        /// <summary>The full serial-number string.</summary>
        public override string ToString()
        {
            return FullSerial;
        }
    }

    /// <summary>UART_Read's result: the data bytes and the response's last two bytes.</summary>
    public sealed class UartData
    {
        internal UartData(byte[] data, byte trailer1, byte trailer2)
        {
            Data = data;
            Trailer1 = trailer1;
            Trailer2 = trailer2;
        }

        /// <summary>The bytes the controller delivered (possibly fewer than asked for).</summary>
        public byte[] Data { get; private set; }

        /// <summary>The response's second-to-last byte.</summary>
        public byte Trailer1 { get; private set; }

        /// <summary>The response's last byte.</summary>
        public byte Trailer2 { get; private set; }
    }

    /// <summary>WR1_SearchRom's result: the controller's result byte and the 8-byte ROM code.</summary>
    public sealed class RomSearch
    {
        internal RomSearch(byte result, byte[] rom)
        {
            Result = result;
            Rom = rom;
        }

        /// <summary>The controller's result byte.</summary>
        public byte Result { get; private set; }

        /// <summary>The 8-byte ROM code.</summary>
        public byte[] Rom { get; private set; }
    }

    /// <summary>
    /// A block acquisition (AI_Read) in volts, with its time axis. Rows are inputs (in
    /// <see cref="Channels"/> order), columns instants (<see cref="Time"/>).
    /// </summary>
    public sealed class Acquisition
    {
        internal Acquisition(double[] time, double[,] volts, int[] channels, ushort[,] counts, byte trailerByte, uint trailerValue, double duration)
        {
            Time = time;
            Volts = volts;
            this.channels = channels;
            Counts = counts;
            TrailerByte = trailerByte;
            TrailerValue = trailerValue;
            Duration = duration;
        }

        readonly int[] channels;

        /// <summary>Seconds from the first instant, one per instant (sample count + 1), from the library's timing model.</summary>
        public double[] Time { get; private set; }

        /// <summary>Volts, [input index, instant]: counts ÷ 1023 × 5, as the single readings.</summary>
        public double[,] Volts { get; private set; }

        /// <summary>The sampled input numbers (1..4), ascending: the order the controller sends them.</summary>
        public IList<int> Channels
        {
            get { return Array.AsReadOnly(channels); }
        }

        /// <summary>Raw converter counts (1023 counts are 5 V), [input index, instant].</summary>
        public ushort[,] Counts { get; private set; }

        /// <summary>The byte the controller appended.</summary>
        public byte TrailerByte { get; private set; }

        /// <summary>The 32-bit value the controller appended.</summary>
        public uint TrailerValue { get; private set; }

        /// <summary>The library's estimate of the whole acquisition, in seconds.</summary>
        public double Duration { get; private set; }

        /// <summary>The volts of one input (a number of <see cref="Channels"/>) at every instant.</summary>
        /// <exception cref="ArgumentException">The input was not sampled.</exception>
        public double[] VoltsOf(int input)
        {
            int row = Array.IndexOf(channels, input);
            if (row < 0) throw new ArgumentException("input " + input + " was not sampled", "input");
            var column = new double[Time.Length];
            for (int i = 0; i < column.Length; i++) column[i] = Volts[row, i];
            return column;
        }
    }

    /// <summary>A logic scan of digital port 0, lines 0..7 (DIO_ScanPort), with its time axis.</summary>
    public sealed class PortScan
    {
        internal PortScan(double[] time, byte[,] levels, byte[] samples, byte trailerByte, double samplePeriod)
        {
            Time = time;
            Levels = levels;
            Samples = samples;
            TrailerByte = trailerByte;
            SamplePeriod = samplePeriod;
        }

        /// <summary>Seconds from the first instant, one per instant (sample count + 1).</summary>
        public double[] Time { get; private set; }

        /// <summary>Line levels 0 or 1, [line 0..7, instant].</summary>
        public byte[,] Levels { get; private set; }

        /// <summary>The raw port bytes, one per instant.</summary>
        public byte[] Samples { get; private set; }

        /// <summary>The response's last byte (port 1 at the last instant on the reference firmware).</summary>
        public byte TrailerByte { get; private set; }

        /// <summary>The library's estimate of the time per sample, in seconds.</summary>
        public double SamplePeriod { get; private set; }
    }
}
