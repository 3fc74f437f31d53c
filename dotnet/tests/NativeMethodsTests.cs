// NativeMethods against the C header: every export declared once per string form, with
// its exact name, StdCall, and each parameter's width and direction.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;
using NUnit.Framework;

namespace Kmtv1.Tests
{
    static class TestPaths
    {
        // The source tree: KMTV1_SOURCE_DIR, else the first folder above the test assembly
        // that holds include/kmtv1.h.
        public static string SourceDir
        {
            get
            {
                string given = Environment.GetEnvironmentVariable("KMTV1_SOURCE_DIR");
                if (!string.IsNullOrEmpty(given)) return given;
                for (string dir = BinDir; dir != null; dir = Path.GetDirectoryName(dir))
                {
                    if (File.Exists(Path.Combine(dir, "include/kmtv1.h"))) return dir;
                }
                throw new InvalidOperationException("set KMTV1_SOURCE_DIR to the source tree");
            }
        }

        // The folder of the test assembly, where the stage also puts its helper programs.
        public static string BinDir
        {
            get { return Path.GetDirectoryName(typeof(TestPaths).Assembly.Location); }
        }
    }

    [TestFixture]
    public class NativeMethodsTests
    {
        // The header's prototypes, as the C compiler sees them on this platform. Codes:
        // u8 u16 u32 i32 f64 by value; a trailing * for a pointer the library may write
        // through; "in" before it for a pointer it only reads; text for a discovery string.
        static readonly Dictionary<string, string> Table = new Dictionary<string, string>
        {
            { "KMT_SendComm", "u32* u16 u8 u8 i32 u8* u16* i32*" },
            { "KMT_CreateListDevs", "text i32* i32*" },
            { "KMT_GetTypeAndSNbyIndex", "i32 text* text* i32*" },
            { "KMT_InitBySN", "u32* text i32*" },
            { "KMT_Close", "u32* u32" },
            { "KMT_GetDriverVersion", "i32* i32* i32*" },
            { "SYS_GetDriverType", "u16*" },
            { "SYS_GetFirmWare", "u32* u16* u16* u16* u16* i32*" },
            { "SYS_WriteUserSN", "u32* inu8* i32*" },
            { "SYS_ReadUserSN", "u32* u8* i32*" },
            { "SYS_WriteUserArea", "u32* inu8* i32*" },
            { "SYS_ReadUserArea", "u32* u8* i32*" },
            { "WatchDog", "u32* u8 i32*" },
            { "SYS_ReadCount", "u32* u32* i32*" },
            { "DIO_SetBitMode", "u32* u8 u8 i32*" },
            { "DIO_WriteBit", "u32* u8 u8 i32*" },
            { "DIO_ReadPort", "u32* u8 u8* i32*" },
            { "DIO_WritePort", "u32* u8 u8 i32*" },
            { "DIO_SetPortMode", "u32* u8 u8 i32*" },
            { "DIO_WriteMask", "u32* inu8* inu8* i32*" },
            { "AI_SimpleRead", "u32* f64* f64* f64* f64* i32*" },
            { "AI_SimpleReadTimer", "u32* f64* f64* f64* f64* u32* i32*" },
            { "AI_ReadCh4", "u32* u8 f64* i32*" },
            { "AI_ReadCh4Timer", "u32* u8 f64* u32* i32*" },
            { "AO_SimpleWrite", "u32* u8 f64 i32*" },
            { "AO_SetDACDivider", "u32* u16 i32*" },
            { "I2C_Init", "u32* i32*" },
            { "I2C_Start", "u32* i32*" },
            { "I2C_Stop", "u32* i32*" },
            { "I2C_Write", "u32* u8 u8* i32*" },
            { "I2C_Read", "u32* u8 u8* i32*" },
            { "I2C_SetTimeClock", "u32* u8 i32*" },
            { "SPI_Init", "u32* inu8* i32*" },
            { "SPI_Byte", "u32* u8 u8* i32*" },
            { "SPI_SetTimeClock", "u32* u8 i32*" },
            { "SPI_Bit", "u32* u8 u8* i32*" },
            { "UART_Init", "u32* u16 u8 u8 i32*" },
            { "UART_Interrupt", "u32* u8 i32*" },
            { "UART_Close", "u32* i32*" },
            { "UART_SetTimeOut", "u32* u16 i32*" },
            { "UART_Read", "u32* u16* u8* u8* u8* i32*" },
            { "UART_Write", "u32* u16 inu8* i32*" },
            { "WR1_Init", "u32* u8* i32*" },
            { "WR1_Read", "u32* u8* i32*" },
            { "WR1_Write", "u32* u8 u8* i32*" },
            { "WR1_WriteSome", "u32* u16 u8* i32*" },
            { "WR1_SearchRom", "u32* u8* u8* i32*" },
            { "WR1_ReadSome", "u32* u16 u8* i32*" },
            { "Gen_Generate", "u32* u16 u16 u16 i32*" },
            { "exp1_Init", "u32* i32*" },
            { "hc595_Write", "u32* u8 inu8* i32*" },
            { "hc165_Read", "u32* u8* u8* i32*" },
            { "CountImp", "u32* u16 u16* i32*" },
            { "AI_Read", "u32* u8 u8 u8 u8 u8 u8 u16 u16 u16 u16 f64 u8* u32* u16* u16* u16* u16* i32* f64* i32*" },
            { "DIO_ScanPort", "u32* u8 u8 u16 u16 u16 u16 u8* u8* f64* i32*" },
            { "DO_WaveOut", "u32* u16 u16 inu8* i32*" },
        };

        static readonly Dictionary<Type, string> Widths = new Dictionary<Type, string>
        {
            { typeof(byte), "u8" }, { typeof(ushort), "u16" }, { typeof(uint), "u32" },
            { typeof(int), "i32" }, { typeof(double), "f64" },
        };

        static readonly Dictionary<string, string> HeaderTypes = new Dictionary<string, string>
        {
            { "uint8_t", "u8" }, { "uint16_t", "u16" }, { "uint32_t", "u32" }, { "int32_t", "i32" },
            { "double", "f64" }, { "kmt_text_in", "text" }, { "kmt_text_out", "text*" },
        };

        static IEnumerable<MethodInfo> Imports()
        {
            return typeof(NativeMethods).GetMethods(BindingFlags.Public | BindingFlags.Static)
                .Where(m => (m.Attributes & MethodAttributes.PinvokeImpl) != 0);
        }

        static DllImportAttribute Import(MethodInfo method)
        {
            return (DllImportAttribute)method.GetCustomAttributes(typeof(DllImportAttribute), false).Single();
        }

        static MarshalAsAttribute MarshalAs(ParameterInfo parameter)
        {
            return (MarshalAsAttribute)parameter.GetCustomAttributes(typeof(MarshalAsAttribute), false).SingleOrDefault();
        }

        // The table's code of one C# parameter; the string forms both read as text.
        static string Code(ParameterInfo parameter)
        {
            Type type = parameter.ParameterType;
            bool byRef = type.IsByRef;
            if (byRef) type = type.GetElementType();
            if (type == typeof(string)) return "text";
            if (type == typeof(object)) return "text"; // ref object: the VARIANT pointer
            if (type.IsArray)
            {
                string element;
                if (!Widths.TryGetValue(type.GetElementType(), out element)) return "?" + type.Name;
                if (parameter.IsOut) return element + "*";
                Assert.IsTrue(parameter.IsIn, parameter.Member.Name + " " + parameter.Name + " has neither [In] nor [Out]");
                return "in" + element + "*";
            }
            string width;
            if (!Widths.TryGetValue(type, out width)) return "?" + type.Name;
            Assert.AreEqual(WidthBytes(width), Marshal.SizeOf(type), type.Name);
            return width + (byRef ? "*" : "");
        }

        static int WidthBytes(string code)
        {
            switch (code)
            {
                case "u8": return 1;
                case "u16": return 2;
                case "f64": return 8;
                default: return 4;
            }
        }

        [Test]
        public void EveryExportIsDeclaredWithItsNameAndStdCall()
        {
            var names = new HashSet<string>();
            foreach (MethodInfo method in Imports())
            {
                DllImportAttribute import = Import(method);
                Assert.AreEqual(method.Name, import.EntryPoint, method.Name);
                Assert.AreEqual(NativeMethods.LibraryName, import.Value, method.Name);
                Assert.AreEqual(CallingConvention.StdCall, import.CallingConvention, method.Name);
                Assert.AreEqual(typeof(void), method.ReturnType, method.Name);
                names.Add(method.Name);
            }
            CollectionAssert.AreEquivalent(Table.Keys, names);
            Assert.AreEqual(56, names.Count);
        }

        [Test]
        public void EveryParameterHasTheHeadersWidth()
        {
            var mismatches = new List<string>();
            foreach (MethodInfo method in Imports())
            {
                string codes = string.Join(" ", method.GetParameters().Select(Code));
                // The Windows form passes a VARIANT pointer for inputs and outputs alike; the
                // Linux form's outputs are byte buffers.
                string expected = Table[method.Name];
                bool variants = method.GetParameters().Any(p => p.ParameterType == typeof(object).MakeByRefType());
                expected = expected.Replace("text*", variants ? "text" : "u8*");
                if (codes != expected) mismatches.Add(method.Name + ": " + codes + ", the header: " + expected);
            }
            Assert.IsEmpty(mismatches, string.Join("\n", mismatches));
        }

        [Test]
        public void TheTableIsTheHeaders()
        {
            string header = File.ReadAllText(Path.Combine(TestPaths.SourceDir, "include/kmtv1.h"));
            var found = new Dictionary<string, string>();
            foreach (Match m in Regex.Matches(header, @"KMT_API void KMT_CALL (\w+)\(([^)]*)\);"))
            {
                var codes = new List<string>();
                foreach (string parameter in m.Groups[2].Value.Split(','))
                {
                    string[] words = parameter.Replace("*", " * ").Split(new[] { ' ', '\n', '\t' }, StringSplitOptions.RemoveEmptyEntries);
                    bool isConst = words[0] == "const";
                    string code = HeaderTypes[words[isConst ? 1 : 0]];
                    if (words.Contains("*")) code = (isConst ? "in" : "") + code + "*";
                    codes.Add(code);
                }
                found[m.Groups[1].Value] = string.Join(" ", codes);
            }
            CollectionAssert.AreEquivalent(Table, found);
        }

        // The three string functions have one overload per platform form: a VARIANT
        // (MarshalAs Struct, by reference) and the char* form (LPStr in, a byte buffer out).
        [Test]
        public void DiscoveryStringsHaveBothForms()
        {
            foreach (string name in new[] { "KMT_CreateListDevs", "KMT_GetTypeAndSNbyIndex", "KMT_InitBySN" })
            {
                MethodInfo[] forms = Imports().Where(m => m.Name == name).ToArray();
                Assert.AreEqual(2, forms.Length, name);
                foreach (MethodInfo form in forms)
                {
                    foreach (ParameterInfo p in form.GetParameters())
                    {
                        Type type = p.ParameterType.IsByRef ? p.ParameterType.GetElementType() : p.ParameterType;
                        if (type == typeof(object))
                        {
                            Assert.IsTrue(p.ParameterType.IsByRef, name);
                            Assert.AreEqual(UnmanagedType.Struct, MarshalAs(p).Value, name);
                        }
                        else if (type == typeof(string))
                        {
                            Assert.AreEqual(UnmanagedType.LPStr, MarshalAs(p).Value, name);
                        }
                    }
                }
                Assert.AreEqual(1, forms.Count(f => f.GetParameters().Any(p => p.ParameterType == typeof(object).MakeByRefType())), name);
            }
        }
    }
}
