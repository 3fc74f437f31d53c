// The Windows form of the discovery functions, exercised on Linux: Mono marshals a
// [MarshalAs(UnmanagedType.Struct)] ref object as a VARIANT here as on Windows, and
// variant_shim.c plays the Windows library's part (its VARIANT handling as in
// library/text_windows.cpp, then the real functions). The declarations below must be
// NativeMethods' VARIANT overloads parameter for parameter; only the entry points differ.
using System;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using NUnit.Framework;

namespace Kmtv1.Tests
{
    [TestFixture]
    public class VariantFormTests
    {
        // Beside the test assembly, where Mono looks first.
        const string Shim = "libkmtv1_variant_shim.so";

        [DllImport(Shim, EntryPoint = "shim_KMT_CreateListDevs", CallingConvention = CallingConvention.StdCall)]
        static extern void KMT_CreateListDevs([MarshalAs(UnmanagedType.Struct)] ref object typeName, out int count, out int status);

        [DllImport(Shim, EntryPoint = "shim_KMT_GetTypeAndSNbyIndex", CallingConvention = CallingConvention.StdCall)]
        static extern void KMT_GetTypeAndSNbyIndex(int index, [MarshalAs(UnmanagedType.Struct)] ref object typeOut, [MarshalAs(UnmanagedType.Struct)] ref object serialOut, out int status);

        [DllImport(Shim, EntryPoint = "shim_KMT_InitBySN", CallingConvention = CallingConvention.StdCall)]
        static extern void KMT_InitBySN(ref uint handle, [MarshalAs(UnmanagedType.Struct)] ref object serial, out int status);

        [DllImport(Shim, EntryPoint = "shim_variant_size")]
        static extern int VariantSize();

        static string Signature(MethodInfo method)
        {
            return string.Join(", ", method.GetParameters().Select(p =>
            {
                var marshal = (MarshalAsAttribute)p.GetCustomAttributes(typeof(MarshalAsAttribute), false).SingleOrDefault();
                return p.ParameterType + (p.IsOut ? " out" : "") + (marshal == null ? "" : " " + marshal.Value);
            }));
        }

        [Test]
        public void TheseDeclarationsAreNativeMethodsVariantForms()
        {
            foreach (string name in new[] { "KMT_CreateListDevs", "KMT_GetTypeAndSNbyIndex", "KMT_InitBySN" })
            {
                MethodInfo mine = typeof(VariantFormTests).GetMethod(name, BindingFlags.NonPublic | BindingFlags.Static);
                MethodInfo theirs = typeof(NativeMethods).GetMethods().Single(m => m.Name == name && m.GetParameters().Any(p => p.ParameterType == typeof(object).MakeByRefType()));
                Assert.AreEqual(Signature(theirs), Signature(mine), name);
            }
        }

        [Test]
        public void DiscoveryAndOpenThroughVariants()
        {
            Assert.AreEqual(IntPtr.Size == 8 ? 24 : 16, VariantSize(), "the shim's VARIANT layout");
            int count, status;
            object typeName = "KMTCV1";
            KMT_CreateListDevs(ref typeName, out count, out status);
            Assert.AreEqual(new[] { 1, 0 }, new[] { count, status });
            object unknown = "KMTCV9", empty = null;
            KMT_CreateListDevs(ref unknown, out count, out status);
            Assert.AreEqual(3, status, "unknown name");
            KMT_CreateListDevs(ref empty, out count, out status);
            Assert.AreEqual(3, status, "an empty VARIANT reads as the empty name");

            // Outputs: an empty VARIANT in, a string out; one that held a string is replaced.
            object type = null, serial = "replaced";
            KMT_GetTypeAndSNbyIndex(0, ref type, ref serial, out status);
            Assert.AreEqual("KMTC0002", type);
            Assert.AreEqual("SIM00001", serial);
            object none = 1, alsoNone = null;
            KMT_GetTypeAndSNbyIndex(300, ref none, ref alsoNone, out status);
            Assert.AreEqual(new object[] { "", "" }, new[] { none, alsoNone }, "an index outside 0..255");

            uint handle = 0;
            object full = (string)type + (string)serial;
            KMT_InitBySN(ref handle, ref full, out status);
            Assert.AreEqual(0, status);
            Assert.AreNotEqual(0u, handle);
            lock (Controller.SyncRoot) NativeMethods.KMT_Close(ref handle, 0);
        }
    }
}
