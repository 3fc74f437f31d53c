// The idiomatic layer against the simulated controller (KMT_DRIVER=sim:clock=virtual):
// discovery, opening and closing, each function family once, the refusals table shared
// with the Python package, and a block acquisition against the C library's own values.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Globalization;
using System.IO;
using System.Linq;
using System.Text;
using NUnit.Framework;

namespace Kmtv1.Tests
{
    [TestFixture]
    public class DiscoveryTests
    {
        const string SimSerial = "KMTC0002SIM00001";

        [Test]
        public void LibraryVersionAndDriverType()
        {
            Assert.AreEqual(new Version(1, 0, 43), Controller.GetLibraryVersion());
            Assert.AreEqual(1, Controller.GetDriverType());
            Assert.IsNotNull(NativeLibraryLocator.LoadedFrom);
        }

        [Test]
        public void ListFindsTheSimulatedController()
        {
            foreach (string typeName in new[] { "KMTCV1", "kmtcv1" })
            {
                IList<ControllerInfo> listed = Controller.List(typeName);
                Assert.AreEqual(1, listed.Count, typeName);
                Assert.AreEqual("KMTC0002", listed[0].Type);
                Assert.AreEqual("SIM00001", listed[0].Serial);
                Assert.AreEqual(SimSerial, listed[0].FullSerial);
            }
        }

        [Test]
        public void UnknownTypeNameThrowsStatus3()
        {
            var error = Assert.Throws<UnknownTypeException>(() => Controller.List("KMTCV9"));
            Assert.AreEqual(3, error.Status);
            Assert.AreEqual("KMT_CreateListDevs", error.Function);
        }

        [Test]
        public void OpenEachWay()
        {
            var opens = new Func<Controller>[] {
                () => Controller.Open(), () => Controller.Open(SimSerial), () => Controller.Open(Controller.List()[0]),
            };
            foreach (Func<Controller> open in opens)
            {
                Controller controller;
                using (controller = open())
                {
                    Assert.AreEqual(SimSerial, controller.Serial);
                    Assert.AreNotEqual(0u, controller.Handle);
                    Assert.IsFalse(controller.IsClosed);
                }
                Assert.IsTrue(controller.IsClosed);
            }
        }

        [Test]
        public void UnknownSerialDoesNotOpen()
        {
            var error = Assert.Throws<NotOpenException>(() => Controller.Open("KMTC0002NOSUCH"));
            Assert.AreEqual("KMT_InitBySN", error.Function);
            Assert.AreEqual(1, error.Status);
            StringAssert.Contains("KMTC0002NOSUCH", error.Message);
        }

        // The simulated bridge refuses a second open of a device that is open, so opening
        // again proves that leaving the block closed it, by exception as well.
        [Test]
        public void UsingClosesTheController()
        {
            Controller kept = null;
            Assert.Throws<InvalidOperationException>(() =>
            {
                using (Controller controller = Controller.Open())
                {
                    kept = controller;
                    throw new InvalidOperationException("leaving the block");
                }
            });
            Assert.IsTrue(kept.IsClosed);
            var error = Assert.Throws<NotOpenException>(() => kept.Firmware());
            Assert.AreEqual("SYS_GetFirmWare", error.Function);
            using (Controller again = Controller.Open())
            {
                Assert.AreEqual(4, again.Firmware().Length);
                again.Close();
                again.Close(); // a second close does nothing
            }
        }

        [Test]
        public void StatusesMapToTheirExceptions()
        {
            var table = new[]
            {
                Tuple.Create("DIO_ReadPort", 1, typeof(NotOpenException)),
                Tuple.Create("DIO_ReadPort", 2, typeof(NoResponseException)),
                Tuple.Create("DIO_ReadPort", 3, typeof(UnknownTypeException)),
                Tuple.Create("AO_SimpleWrite", 4, typeof(OutOfRangeException)),
                Tuple.Create("DIO_ReadPort", 9, typeof(KmtException)),
                Tuple.Create("KMT_CreateListDevs", 3, typeof(UnknownTypeException)),
                Tuple.Create("KMT_CreateListDevs", 1, typeof(KmtException)),
                Tuple.Create("KMT_CreateListDevs", 4, typeof(KmtException)),
            };
            foreach (var row in table)
            {
                KmtException error = KmtException.ForStatus(row.Item1, row.Item2);
                Assert.AreEqual(row.Item3, error.GetType(), row.ToString());
                Assert.AreEqual(row.Item1, error.Function);
                Assert.AreEqual(row.Item2, error.Status);
                StringAssert.StartsWith(row.Item1 + " failed with status " + row.Item2, error.Message);
            }
        }
    }

    [TestFixture]
    public class FamilyTests
    {
        Controller c;

        [SetUp]
        public void Open()
        {
            c = Controller.Open();
        }

        [TearDown]
        public void Close()
        {
            c.Dispose();
        }

        [Test]
        public void RawExchangeAndFirmware()
        {
            byte[] raw = c.Send(1, 0);
            Assert.AreEqual(new byte[] { 1, 0, 0, 0, 43, 0, 2, 0 }, raw);
            Assert.AreEqual(new ushort[] { 1, 0, 43, 2 }, c.Firmware());
            Assert.AreEqual(new byte[0], c.Send(8, 0)); // short request: no payload back
            var error = Assert.Throws<NoResponseException>(() => c.Send(99, 0));
            Assert.AreEqual("KMT_SendComm", error.Function);
        }

        [Test]
        public void SystemMemoryAndCounter()
        {
            c.WriteUserSN(Encoding.ASCII.GetBytes("dotnet"));
            Assert.AreEqual(Encoding.ASCII.GetBytes("dotnet").Concat(new byte[10]).ToArray(), c.ReadUserSN());
            byte[] area = Enumerable.Range(0, 128).Select(i => (byte)(255 - i)).ToArray();
            c.WriteUserArea(area);
            Assert.AreEqual(area, c.ReadUserArea());
            c.Watchdog(0);
            uint first = c.ReadCount();
            Assert.GreaterOrEqual(c.ReadCount(), first);
        }

        [Test]
        public void DigitalPortsAndLines()
        {
            c.SetPortMode(0, 1);
            c.WritePort(0, 0xA5);
            Assert.AreEqual(0xA5, c.ReadPort(0));
            c.SetBitMode(9, 1);
            c.WriteBit(9, true);
            Assert.AreEqual(0x02, c.ReadPort(1) & 0x02);
            c.WriteBit(9, false);
            Assert.AreEqual(0, c.ReadPort(1) & 0x02);
            c.WriteMask(new[] { 1, 0, 2, 0, 0, 0, 0, 0 }, new[] { 0, 0, 0xFF });
            Assert.AreEqual(0x05, c.ReadPort(0));
        }

        [Test]
        public void AnalogOutputLoopsToInput3()
        {
            c.WriteAnalog(0, 2.5);
            double[] inputs = c.AnalogInputs();
            Assert.AreEqual(4, inputs.Length);
            Assert.AreEqual(2.5, inputs[2], 2.5 / 1023);
            Assert.AreEqual(inputs[2], c.ReadChannel(2));
            uint timer;
            Assert.AreEqual(inputs[2], c.AnalogInputsTimed(out timer)[2]);
            uint later;
            Assert.AreEqual(inputs[2], c.ReadChannelTimed(2, out later));
            Assert.Greater(later, timer);
            c.SetDacDivider(1);
        }

        [Test]
        public void BusesAndExpansion()
        {
            // SPI: a shift register from MOSI to MISO, each byte returns one transfer later.
            c.SpiSetClock(3);
            c.SpiInit(0);
            Assert.AreEqual(new byte[] { 0x00, 0x11, 0x22 }, c.SpiTransfer(new byte[] { 0x11, 0x22, 0x33 }));
            c.SpiBit(0);
            // I2C: an EEPROM at address 0x50; writes answer 0 for an acknowledge.
            c.I2cSetClock(1);
            c.I2cInit();
            c.I2cStart();
            Assert.AreEqual(new byte[] { 0, 0, 0 }, new[] { 0xA0, 0x10, 0x5A }.Select(b => c.I2cWrite(b)).ToArray());
            c.I2cStop();
            c.I2cStart();
            c.I2cWrite(0xA0);
            c.I2cWrite(0x10);
            c.I2cStart();
            c.I2cWrite(0xA1);
            Assert.AreEqual(0x5A, c.I2cRead(1));
            c.I2cStop();
            // Shift registers: a chain of eight reads back what was shifted out.
            c.Exp1Init();
            c.Hc595Write(Encoding.ASCII.GetBytes("ABCDEFGH"));
            Assert.AreEqual(Encoding.ASCII.GetBytes("ABCDEFGH\0\0"), c.Hc165Read(10));
        }

        [Test]
        public void UartLoop()
        {
            c.UartInit(9600, 0, 0);
            c.UartInterrupt(0);
            c.UartSetTimeout(10);
            byte[] message = Enumerable.Range(0, 100).Select(i => (byte)i).ToArray();
            c.UartWrite(message); // two writes: 64 + 36 bytes
            UartData first = c.UartRead(64);
            Assert.AreEqual(message.Take(64).ToArray(), first.Data);
            Assert.AreEqual(36, first.Trailer1); // bytes still waiting
            Assert.AreEqual(message.Skip(64).ToArray(), c.UartRead().Data);
            c.UartClose();
            Assert.Throws<NoResponseException>(() => c.UartRead());
        }

        [Test]
        public void OneWireSearch()
        {
            Assert.AreEqual(1, c.Wr1Init()); // presence pulse
            RomSearch[] steps = Enumerable.Range(0, 3).Select(i => c.Wr1SearchRom()).ToArray();
            Assert.AreEqual(new byte[] { 1, 1, 2 }, steps.Select(s => s.Result).ToArray());
            Assert.AreEqual(new byte[] { 0x01, 0x28, 0x28 }, steps.Select(s => s.Rom[0]).OrderBy(b => b).ToArray());
            c.Wr1Init();
            c.Wr1Write(0xCC);
            Assert.AreEqual(2, c.Wr1WriteSome(new byte[] { 0x44, 0x00 }).Length);
            Assert.AreEqual(9, c.Wr1ReadSome(9).Length);
            c.Wr1Read();
        }

        [Test]
        public void GeneratorCounted()
        {
            c.Generate(100, 10, 500); // 1 MHz / (100 x 10) = 1 kHz
            CollectionAssert.Contains(new ushort[] { 999, 1000, 1001 }, c.CountPulses(8)); // a 1 s window
        }

        [Test]
        public void BlockAcquisitionScanAndWave()
        {
            c.WriteAnalog(0, 1.5);
            Acquisition block = c.AiRead(new[] { 3, 1 }, 20, 50);
            CollectionAssert.AreEqual(new[] { 1, 3 }, block.Channels);
            Assert.AreEqual(21, block.Time.Length);
            Assert.AreEqual(new[] { 2, 21 }, new[] { block.Volts.GetLength(0), block.Volts.GetLength(1) });
            double step = (2 * 108.7663 + 19.2327 + (50 + 6)) / 1e6;
            Assert.AreEqual(20 * step, block.Time[20], 1e-12);
            Assert.AreEqual(20 * step + 4e-6, block.Duration, 1e-12);
            Assert.IsTrue(block.VoltsOf(3).All(v => Math.Abs(v - 1.5) <= 2.5 / 1023), "input 3 follows output 0");
            Assert.AreEqual(0x05, block.TrailerByte); // the inputs sampled, one bit each
            Assert.Throws<ArgumentException>(() => block.VoltsOf(2));

            c.SetPortMode(0, 1);
            c.WritePort(0, 0x3C);
            PortScan scan = c.ScanPort(10);
            Assert.AreEqual(Enumerable.Repeat((byte)0x3C, 11).ToArray(), scan.Samples);
            Assert.AreEqual(new byte[] { 0, 0, 1, 1, 1, 1, 0, 0 }, Enumerable.Range(0, 8).Select(line => scan.Levels[line, 10]).ToArray());
            Assert.AreEqual(10 * scan.SamplePeriod, scan.Time[10]);
            c.WaveOut(new byte[] { 1, 2, 3 });
            c.WaveOut(new byte[0]);
        }
    }

    [TestFixture]
    public class LocatorTests
    {
        [Test]
        public void SearchOrder()
        {
            var explicitOnly = NativeLibraryLocator.Candidates("/opt/kmtv1/libkmtv1.so.1", "/app");
            Assert.AreEqual(new[] { "KMTV1_LIBRARY: /opt/kmtv1/libkmtv1.so.1" }, explicitOnly.Select(c => c.ToString()).ToArray());
            Assert.IsTrue(explicitOnly[0].Required);
            var searched = NativeLibraryLocator.Candidates("", "/app");
            Assert.AreEqual(new[] { "/app/libkmtv1.so.1", "/app/libkmtv1.so", "libkmtv1.so.1", "libkmtv1.so" }, searched.Select(c => c.Target).ToArray());
            Assert.IsFalse(searched.Any(c => c.Required));
        }

        // A program started with a wrong KMTV1_LIBRARY stops there and says what it tried.
        [Test]
        public void NamedLibraryThatIsMissingIsReported()
        {
            var start = new ProcessStartInfo("mono", "\"" + Path.Combine(TestPaths.BinDir, "ReadInputs.exe") + "\"")
            {
                UseShellExecute = false,
                RedirectStandardError = true,
                RedirectStandardOutput = true,
            };
            start.EnvironmentVariables[NativeLibraryLocator.EnvironmentVariable] = "/nonexistent/libkmtv1.so.1";
            using (Process process = Process.Start(start))
            {
                string errors = process.StandardError.ReadToEnd();
                process.WaitForExit();
                Assert.AreEqual(1, process.ExitCode);
                StringAssert.Contains("KMTV1_LIBRARY: /nonexistent/libkmtv1.so.1: no such file", errors);
            }
        }
    }

    // Both layers read refusals.tsv; the stage checks the Python package against it too.
    [TestFixture]
    public class RefusalTests
    {
        static readonly Dictionary<string, Action<Controller, object>> Calls = new Dictionary<string, Action<Controller, object>>
        {
            { "SetBitMode(line)", (c, v) => c.SetBitMode((int)v, 0) },
            { "SetBitMode(mode)", (c, v) => c.SetBitMode(0, (int)v) },
            { "WriteBit(line)", (c, v) => c.WriteBit((int)v, true) },
            { "ReadPort(port)", (c, v) => c.ReadPort((int)v) },
            { "WritePort(port)", (c, v) => c.WritePort((int)v, 0) },
            { "WritePort(value)", (c, v) => c.WritePort(0, (int)v) },
            { "SetPortMode(port)", (c, v) => c.SetPortMode((int)v, 0) },
            { "SetPortMode(mode)", (c, v) => c.SetPortMode(0, (int)v) },
            { "WriteMask(codes)", (c, v) => c.WriteMask(new[] { (int)v }) },
            { "WriteMask(values)", (c, v) => c.WriteMask(new[] { 2 }, new[] { (int)v }) },
            { "WriteMask(codes length)", (c, v) => c.WriteMask(new int[(int)v]) },
            { "ReadChannel(channel)", (c, v) => c.ReadChannel((int)v) },
            { "ReadChannelTimed(channel)", (c, v) => { uint t; c.ReadChannelTimed((int)v, out t); } },
            { "WriteAnalog(output)", (c, v) => c.WriteAnalog((int)v, 1.0) },
            { "WriteAnalog(volts)", (c, v) => c.WriteAnalog(0, (double)v) },
            { "SetDacDivider(divider)", (c, v) => c.SetDacDivider((int)v) },
            { "Watchdog(value)", (c, v) => c.Watchdog((int)v) },
            { "WriteUserSN(data)", (c, v) => c.WriteUserSN(new byte[(int)v]) },
            { "WriteUserArea(data)", (c, v) => c.WriteUserArea(new byte[(int)v]) },
            { "Send(group)", (c, v) => c.Send((int)v, 0) },
            { "Send(command)", (c, v) => c.Send(1, (int)v) },
            { "Send(framePrefix)", (c, v) => c.Send(1, 0, null, 0, (int)v) },
            { "Send(payload)", (c, v) => c.Send(1, 0, new byte[(int)v]) },
            { "I2cWrite(value)", (c, v) => c.I2cWrite((int)v) },
            { "I2cRead(value)", (c, v) => c.I2cRead((int)v) },
            { "I2cSetClock(selector)", (c, v) => c.I2cSetClock((int)v) },
            { "SpiInit(setting)", (c, v) => c.SpiInit((int)v) },
            { "SpiByte(value)", (c, v) => c.SpiByte((int)v) },
            { "SpiBit(value)", (c, v) => c.SpiBit((int)v) },
            { "SpiSetClock(selector)", (c, v) => c.SpiSetClock((int)v) },
            { "UartInit(configWord)", (c, v) => c.UartInit((int)v, 0, 0) },
            { "UartInit(configByte1)", (c, v) => c.UartInit(9600, (int)v, 0) },
            { "UartInit(configByte2)", (c, v) => c.UartInit(9600, 0, (int)v) },
            { "UartInterrupt(setting)", (c, v) => c.UartInterrupt((int)v) },
            { "UartSetTimeout(timeout)", (c, v) => c.UartSetTimeout((int)v) },
            { "UartRead(count)", (c, v) => c.UartRead((int)v) },
            { "Wr1Write(value)", (c, v) => c.Wr1Write((int)v) },
            { "Wr1WriteSome(data)", (c, v) => c.Wr1WriteSome(new byte[(int)v]) },
            { "Wr1ReadSome(count)", (c, v) => c.Wr1ReadSome((int)v) },
            { "Generate(value1)", (c, v) => c.Generate((int)v, 10, 0) },
            { "Generate(value2)", (c, v) => c.Generate(10, (int)v, 0) },
            { "Generate(value3)", (c, v) => c.Generate(10, 10, (int)v) },
            { "CountPulses(selector)", (c, v) => c.CountPulses((int)v) },
            { "Hc595Write(data)", (c, v) => c.Hc595Write(new byte[(int)v]) },
            { "Hc165Read(count)", (c, v) => c.Hc165Read((int)v) },
            { "AiRead(channels)", (c, v) => c.AiRead(new[] { (int)v }, 2) },
            { "AiRead(sampleCount)", (c, v) => c.AiRead(new[] { 1 }, (int)v) },
            { "AiRead(sampleDelay)", (c, v) => c.AiRead(new[] { 1 }, 2, (int)v) },
            { "AiRead(threshold)", (c, v) => c.AiRead(new[] { 1 }, 2, 0, (double)v) },
            { "AiRead(auxByte1)", (c, v) => c.AiRead(new[] { 1 }, 2, auxByte1: (int)v) },
            { "AiRead(auxByte2)", (c, v) => c.AiRead(new[] { 1 }, 2, auxByte2: (int)v) },
            { "AiRead(auxWord1)", (c, v) => c.AiRead(new[] { 1 }, 2, auxWord1: (int)v) },
            { "AiRead(auxWord2)", (c, v) => c.AiRead(new[] { 1 }, 2, auxWord2: (int)v) },
            { "ScanPort(sampleCount)", (c, v) => c.ScanPort((int)v) },
            { "ScanPort(sampleDelay)", (c, v) => c.ScanPort(2, (int)v) },
            { "ScanPort(auxByte1)", (c, v) => c.ScanPort(2, auxByte1: (int)v) },
            { "ScanPort(auxByte2)", (c, v) => c.ScanPort(2, auxByte2: (int)v) },
            { "ScanPort(auxWord1)", (c, v) => c.ScanPort(2, auxWord1: (int)v) },
            { "ScanPort(auxWord2)", (c, v) => c.ScanPort(2, auxWord2: (int)v) },
            { "WaveOut(data)", (c, v) => c.WaveOut(new byte[(int)v]) },
        };

        sealed class Row
        {
            public string Call, Parameter, Kind;
            public int Low, High;
        }

        static List<Row> Rows()
        {
            return File.ReadAllLines(Path.Combine(TestPaths.SourceDir, "dotnet/tests/refusals.tsv"))
                .Where(line => line.Trim().Length > 0 && !line.StartsWith("#"))
                .Select(line => line.Split('\t'))
                .Select(f => new Row { Call = f[0], Parameter = f[1], Kind = f[2], Low = int.Parse(f[3], CultureInfo.InvariantCulture), High = int.Parse(f[4], CultureInfo.InvariantCulture) })
                .ToList();
        }

        // Null when the call took the value (a status from the library is fine: the value
        // was sent), else the refusal.
        static ArgumentException Refusal(Controller c, Action<Controller, object> call, object value)
        {
            try
            {
                call(c, value);
            }
            catch (KmtException)
            {
            }
            catch (ArgumentException error)
            {
                return error;
            }
            return null;
        }

        [Test]
        public void EveryMethodRefusesWhatThePythonPackageRefuses()
        {
            List<Row> rows = Rows();
            CollectionAssert.AreEquivalent(Calls.Keys, rows.Select(r => r.Call));
            var failures = new List<string>();
            using (Controller c = Controller.Open())
            {
                foreach (Row row in rows)
                {
                    Action<Controller, object> call = Calls[row.Call];
                    object[] bad, good;
                    string words;
                    if (row.Kind == "int")
                    {
                        bad = new object[] { row.Low - 1, row.High + 1 };
                        good = new object[] { row.Low, row.High };
                        words = row.Low + ".." + row.High;
                    }
                    else if (row.Kind == "volts")
                    {
                        bad = new object[] { -0.001, 5.001, double.NaN, double.PositiveInfinity };
                        good = new object[] { (double)row.Low, (double)row.High };
                        words = row.Low + ".." + row.High + " V";
                    }
                    else
                    {
                        bad = new object[] { row.High + 1 };
                        good = new object[] { row.High };
                        words = (row.High + 1).ToString(CultureInfo.InvariantCulture);
                    }
                    foreach (object value in bad)
                    {
                        ArgumentException error = Refusal(c, call, value);
                        bool rightKind = row.Kind == "length" ? error != null && !(error is ArgumentOutOfRangeException) : error is ArgumentOutOfRangeException;
                        if (!rightKind || error.ParamName != row.Parameter || !error.Message.Contains(words))
                        {
                            failures.Add(row.Call + ": " + value + " not refused as expected: " + (error == null ? "taken" : error.GetType().Name + " " + error.ParamName + " " + error.Message));
                        }
                    }
                    foreach (object value in good)
                    {
                        ArgumentException error = Refusal(c, call, value);
                        if (error != null) failures.Add(row.Call + ": " + value + " refused: " + error.Message);
                    }
                }
            }
            Assert.IsEmpty(failures, string.Join("\n", failures));
        }

        [Test]
        public void MissingArgumentsAreRefused()
        {
            using (Controller c = Controller.Open())
            {
                Assert.Throws<ArgumentNullException>(() => c.UartWrite(null));
                Assert.Throws<ArgumentNullException>(() => c.AiRead(null));
                Assert.Throws<ArgumentNullException>(() => c.WriteMask(null));
                var none = Assert.Throws<ArgumentException>(() => c.AiRead(new int[0]));
                Assert.AreEqual("channels", none.ParamName);
            }
            Assert.Throws<ArgumentNullException>(() => Controller.Open((string)null));
        }
    }

    // The same calls in two fresh processes, one through the C library directly
    // (acquire_reference) and one through this binding (AcquireBlock.exe): both meet the
    // simulated controller in the same state, so every count and volt must agree exactly.
    [TestFixture]
    public class BlockAgainstCTests
    {
        static string Run(string program, string arguments)
        {
            var start = new ProcessStartInfo(program, arguments)
            {
                UseShellExecute = false,
                RedirectStandardOutput = true,
                RedirectStandardError = true,
            };
            using (Process process = Process.Start(start))
            {
                string output = process.StandardOutput.ReadToEnd();
                string errors = process.StandardError.ReadToEnd();
                Assert.IsTrue(process.WaitForExit(60000), program + " did not finish");
                Assert.AreEqual(0, process.ExitCode, program + " " + arguments + ": " + errors);
                return output;
            }
        }

        static double[][] Parse(string output, out double duration, out string trailer)
        {
            string[] lines = output.Split(new[] { '\n' }, StringSplitOptions.RemoveEmptyEntries);
            duration = double.Parse(lines[0].Split(' ')[1], CultureInfo.InvariantCulture);
            trailer = lines[1];
            StringAssert.StartsWith("channels ", lines[2]);
            return lines.Skip(3).Select(line => line.Split(new[] { ' ' }, StringSplitOptions.RemoveEmptyEntries)
                .Select(x => double.Parse(x, CultureInfo.InvariantCulture)).ToArray()).ToArray();
        }

        [Test]
        public void AcquisitionMatchesTheCLibrary()
        {
            string reference = Path.Combine(TestPaths.BinDir, "acquire_reference");
            string binding = Path.Combine(TestPaths.BinDir, "AcquireBlock.exe");
            foreach (string arguments in new[] { "1 1 0 1 200 50", "0 0 1 0 0 0", "1 1 1 1 2000 0" })
            {
                double cDuration, netDuration;
                string cTrailer, netTrailer;
                double[][] expected = Parse(Run(reference, arguments), out cDuration, out cTrailer);
                double[][] got = Parse(Run("mono", "\"" + binding + "\" " + arguments), out netDuration, out netTrailer);
                Assert.AreEqual(cDuration, netDuration, arguments);
                Assert.AreEqual(cTrailer, netTrailer, arguments);
                Assert.AreEqual(expected.Length, got.Length, arguments);
                for (int i = 0; i < expected.Length; i++)
                {
                    Assert.AreEqual(expected[i], got[i], arguments + ", instant " + i);
                }
                if (arguments.StartsWith("1")) Assert.IsTrue(expected.Any(row => row[0] != expected[0][0]), "input 1 varies over time");
            }
        }
    }
}
