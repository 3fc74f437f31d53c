// The discovery functions' strings in the platform's form: VARIANTs holding BSTRs on
// Windows (the runtime's marshaller allocates, converts and frees them), NUL-terminated
// 8-bit text elsewhere. Only this file knows the difference.
using System.Runtime.CompilerServices;
using System.Text;

namespace Kmtv1
{
    internal static class DiscoveryText
    {
        // Each method is compiled on its first call only, after the library was located:
        // Mono binds a platform invoke target when it compiles the calling method.
        [MethodImpl(MethodImplOptions.NoInlining)]
        public static void CreateListDevs(string typeName, out int count, out int status)
        {
            if (NativeMethods.UsesVariants)
            {
                object name = typeName;
                NativeMethods.KMT_CreateListDevs(ref name, out count, out status);
            }
            else
            {
                NativeMethods.KMT_CreateListDevs(typeName, out count, out status);
            }
        }

        [MethodImpl(MethodImplOptions.NoInlining)]
        public static ControllerInfo GetTypeAndSNbyIndex(int index)
        {
            int ignored;
            if (NativeMethods.UsesVariants)
            {
                object type = null, serial = null;
                NativeMethods.KMT_GetTypeAndSNbyIndex(index, ref type, ref serial, out ignored);
                return new ControllerInfo(type as string, serial as string);
            }
            var typeOut = new byte[NativeMethods.StringSize];
            var serialOut = new byte[NativeMethods.StringSize];
            NativeMethods.KMT_GetTypeAndSNbyIndex(index, typeOut, serialOut, out ignored);
            return new ControllerInfo(Latin1(typeOut), Latin1(serialOut));
        }

        [MethodImpl(MethodImplOptions.NoInlining)]
        public static void InitBySN(ref uint handle, string serial, out int status)
        {
            if (NativeMethods.UsesVariants)
            {
                object text = serial;
                NativeMethods.KMT_InitBySN(ref handle, ref text, out status);
            }
            else
            {
                NativeMethods.KMT_InitBySN(ref handle, serial, out status);
            }
        }

        // The text up to the first NUL, one character per byte (as the Python package reads it).
        static string Latin1(byte[] buffer)
        {
            var text = new StringBuilder();
            foreach (byte b in buffer)
            {
                if (b == 0) break;
                text.Append((char)b);
            }
            return text.ToString();
        }
    }
}
