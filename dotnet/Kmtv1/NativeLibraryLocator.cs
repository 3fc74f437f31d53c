// Finds and loads the native library once, before the first platform invoke call, and
// makes the import name KMTv1dll reach it on every runtime without Mono- or
// .NET-specific APIs at compile time:
//   .NET Core 3 and later (any OS): NativeLibrary.TryLoad and SetDllImportResolver,
//     looked up by reflection (they do not exist on .NET Framework or Mono);
//   .NET Framework (Windows): LoadLibraryW; a later LoadLibrary("KMTv1dll.dll") by
//     platform invoke finds the module already loaded under that base name;
//   Mono elsewhere: dlopen; Kmtv1.dll.config maps KMTv1dll to libkmtv1.so.1, and the
//     dynamic loader answers that name with the object already loaded under that SONAME.
using System;
using System.Collections.Generic;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text;

namespace Kmtv1
{
    /// <summary>One place the native library was looked for, and why it was not taken.</summary>
    public sealed class LibraryCandidate
    {
        internal LibraryCandidate(string source, string target, bool required)
        {
            Source = source;
            Target = target;
            Required = required;
        }

        /// <summary>Where the candidate comes from ("KMTV1_LIBRARY", "beside the assembly", "loader search").</summary>
        public string Source { get; private set; }

        /// <summary>A path, or a bare file name for the operating system's own search.</summary>
        public string Target { get; private set; }

        /// <summary>True when a failure here ends the search (an explicit path is never silently replaced).</summary>
        public bool Required { get; private set; }

        /// <summary>Source and target.</summary>
        public override string ToString()
        {
            return Source + ": " + Target;
        }
    }

    /// <summary>The native library could not be loaded; <see cref="Tried"/> lists each place and why.</summary>
    [Serializable]
    public class LibraryNotFoundException : DllNotFoundException
    {
        /// <summary>Creates the exception from the places tried, each with the reason it failed.</summary>
        public LibraryNotFoundException(IList<string> tried)
            : base(Describe(tried))
        {
            Tried = new List<string>(tried).AsReadOnly();
        }

        /// <summary>Each place tried, with the reason it failed.</summary>
        public IList<string> Tried { get; private set; }

        static string Describe(IList<string> tried)
        {
            var text = new StringBuilder("the kmtv1 native library could not be loaded; tried:");
            foreach (string line in tried) text.Append("\n  ").Append(line);
            return text.ToString();
        }
    }

    /// <summary>
    /// Locates the native library (<c>KMTv1dll.dll</c> on Windows, <c>libkmtv1.so.1</c> on
    /// Linux) for <see cref="NativeMethods"/>. Search order: the path in the environment
    /// variable <c>KMTV1_LIBRARY</c> alone when it is set (a wrong path is an error, never
    /// a fallback to another copy); else the file beside <c>Kmtv1.dll</c>; else the
    /// operating system's own search (Windows: the program's folder, the system folders,
    /// <c>PATH</c>; Linux: <c>LD_LIBRARY_PATH</c>, the <c>ldconfig</c> cache).
    /// </summary>
    public static class NativeLibraryLocator
    {
        /// <summary>The environment variable that names the library file outright.</summary>
        public const string EnvironmentVariable = "KMTV1_LIBRARY";

        static readonly object Gate = new object();
        static bool loaded;
        static bool loading;
        static LibraryNotFoundException failure;
        static string loadedFrom;

        /// <summary>True on Windows, where the library is <c>KMTv1dll.dll</c> and discovery strings are VARIANTs.</summary>
        public static bool IsWindows
        {
            get
            {
                switch (Environment.OSVersion.Platform)
                {
                    case PlatformID.Win32NT:
                    case PlatformID.Win32Windows:
                    case PlatformID.Win32S:
                    case PlatformID.WinCE:
                        return true;
                    default:
                        return false;
                }
            }
        }

        /// <summary>The library's file names on this platform, the preferred one first.</summary>
        public static IList<string> FileNames
        {
            get
            {
                return IsWindows ? new[] { "KMTv1dll.dll" } : new[] { "libkmtv1.so.1", "libkmtv1.so" };
            }
        }

        /// <summary>The path or name the library was loaded from; null before it is loaded.</summary>
        public static string LoadedFrom
        {
            get
            {
                lock (Gate) return loadedFrom;
            }
        }

        /// <summary>
        /// The places tried, in order, for an explicit path (null or empty: none) and the
        /// folder of <c>Kmtv1.dll</c> (null: not known).
        /// </summary>
        public static IList<LibraryCandidate> Candidates(string explicitPath, string assemblyDirectory)
        {
            var found = new List<LibraryCandidate>();
            if (!string.IsNullOrEmpty(explicitPath))
            {
                found.Add(new LibraryCandidate(EnvironmentVariable, explicitPath, true));
                return found;
            }
            if (!string.IsNullOrEmpty(assemblyDirectory))
            {
                foreach (string name in FileNames)
                {
                    found.Add(new LibraryCandidate("beside the assembly", Path.Combine(assemblyDirectory, name), false));
                }
            }
            foreach (string name in FileNames)
            {
                found.Add(new LibraryCandidate("loader search", name, false));
            }
            return found;
        }

        /// <summary>
        /// Loads the library now, if it is not loaded yet. <see cref="Controller"/> calls it
        /// before its first call; call it before using <see cref="NativeMethods"/> directly
        /// to get <see cref="LibraryNotFoundException"/> with the places tried rather than
        /// the runtime's bare <see cref="DllNotFoundException"/>.
        /// </summary>
        /// <exception cref="LibraryNotFoundException">No candidate could be loaded.</exception>
        public static void EnsureLoaded()
        {
            lock (Gate)
            {
                if (loaded || loading) return;
                if (failure != null) throw failure;
                loading = true;
                try
                {
                    Load();
                    Verify();
                    loaded = true;
                }
                catch (LibraryNotFoundException error)
                {
                    failure = error;
                    throw;
                }
                finally
                {
                    loading = false;
                }
            }
        }

        // Loads without throwing: NativeMethods' type initialiser must not fail, or the
        // type would be unusable for the rest of the process; the call that follows then
        // reports the runtime's own DllNotFoundException.
        internal static void TryEnsureLoaded()
        {
            try
            {
                EnsureLoaded();
            }
            catch (LibraryNotFoundException)
            {
            }
        }

        static string AssemblyDirectory()
        {
            try
            {
                string location = typeof(NativeLibraryLocator).Assembly.Location;
                return string.IsNullOrEmpty(location) ? null : Path.GetDirectoryName(location);
            }
            catch (NotSupportedException)
            {
                return null;
            }
        }

        static void Load()
        {
            var tried = new List<string>();
            if (!IsWindows && IntPtr.Size == 4 && ElfMachine("/proc/self/exe") == ElfMachineX86)
            {
                // There the library's functions use the C calling convention, not the
                // StdCall these declarations state; a call would unbalance the stack.
                tried.Add("none: 32-bit x86 outside Windows is not supported (the declarations are StdCall, the library there is cdecl)");
                throw new LibraryNotFoundException(tried);
            }
            string explicitPath = Environment.GetEnvironmentVariable(EnvironmentVariable);
            foreach (LibraryCandidate candidate in Candidates(explicitPath, AssemblyDirectory()))
            {
                string reason = TryLoad(candidate.Target);
                if (reason == null)
                {
                    loadedFrom = candidate.Target;
                    return;
                }
                tried.Add(candidate + ": " + reason);
                if (candidate.Required) break;
            }
            throw new LibraryNotFoundException(tried);
        }

        // Under Mono on POSIX systems the import name reaches the loaded file only through
        // the dllmap in Kmtv1.dll.config; without that file every call would fail later with
        // a bare DllNotFoundException, so one harmless call is made now.
        static void Verify()
        {
            if (CoreLoader.Available || IsWindows) return;
            try
            {
                int major, minor, build;
                NativeMethods.KMT_GetDriverVersion(out major, out minor, out build);
            }
            catch (DllNotFoundException error)
            {
                throw new LibraryNotFoundException(new[] {
                    "loaded " + loadedFrom + ", but the import name " + NativeMethods.LibraryName +
                    " does not reach it: Kmtv1.dll.config (a dllmap to libkmtv1.so.1) must lie beside Kmtv1.dll (" +
                    error.Message + ")" });
            }
        }

        const int ElfMachineX86 = 3;

        // The e_machine field of an ELF file's header; -1 when it cannot be read.
        static int ElfMachine(string path)
        {
            try
            {
                using (FileStream file = File.OpenRead(path))
                {
                    var header = new byte[20];
                    if (file.Read(header, 0, header.Length) != header.Length) return -1;
                    if (header[0] != 0x7F || header[1] != (byte)'E' || header[2] != (byte)'L' || header[3] != (byte)'F') return -1;
                    return header[5] == 1 ? header[18] | header[19] << 8 : header[18] << 8 | header[19];
                }
            }
            catch (IOException)
            {
                return -1;
            }
            catch (UnauthorizedAccessException)
            {
                return -1;
            }
        }

        static bool IsPath(string target)
        {
            return target.IndexOf(Path.DirectorySeparatorChar) >= 0 || target.IndexOf(Path.AltDirectorySeparatorChar) >= 0;
        }

        // Null on success, else why the target could not be used.
        static string TryLoad(string target)
        {
            if (IsPath(target) && !File.Exists(target)) return "no such file";
            // The module is never unloaded: its handle is not kept.
            IntPtr handle;
            if (CoreLoader.Available) return CoreLoader.Load(target, out handle);
            if (IsWindows) return WindowsLoader.Load(target, out handle);
            return PosixLoader.Load(target, out handle);
        }

        // .NET Core 3 and later: the runtime's own loader and a resolver for the import name.
        static class CoreLoader
        {
            static readonly Type NativeLibrary = Type.GetType("System.Runtime.InteropServices.NativeLibrary", false);
            static bool resolverSet;
            static IntPtr resolved;

            public static bool Available
            {
                get { return NativeLibrary != null; }
            }

            public static string Load(string target, out IntPtr handle)
            {
                handle = IntPtr.Zero;
                MethodInfo tryLoad = NativeLibrary.GetMethod("TryLoad", new[] { typeof(string), typeof(IntPtr).MakeByRefType() });
                var args = new object[] { target, IntPtr.Zero };
                if (!(bool)tryLoad.Invoke(null, args)) return "the runtime could not load it";
                handle = (IntPtr)args[1];
                resolved = handle;
                if (!resolverSet)
                {
                    Type resolverType = Type.GetType("System.Runtime.InteropServices.DllImportResolver", true);
                    MethodInfo resolve = typeof(CoreLoader).GetMethod("Resolve", BindingFlags.Static | BindingFlags.NonPublic);
                    Delegate resolver = Delegate.CreateDelegate(resolverType, resolve);
                    MethodInfo setResolver = NativeLibrary.GetMethod("SetDllImportResolver");
                    setResolver.Invoke(null, new object[] { typeof(NativeMethods).Assembly, resolver });
                    resolverSet = true;
                }
                return null;
            }

            static IntPtr Resolve(string libraryName, Assembly assembly, DllImportSearchPath? searchPath)
            {
                return libraryName == NativeMethods.LibraryName ? resolved : IntPtr.Zero;
            }
        }

        // .NET Framework on Windows: the module stays loaded for the process; platform
        // invoke's LoadLibrary of the bare name KMTv1dll.dll then finds it by base name.
        static class WindowsLoader
        {
            [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true)]
            static extern IntPtr LoadLibraryW(string fileName);

            public static string Load(string target, out IntPtr handle)
            {
                handle = IntPtr.Zero;
                if (!string.Equals(Path.GetFileName(target), "KMTv1dll.dll", StringComparison.OrdinalIgnoreCase))
                {
                    return "the file must be named KMTv1dll.dll on this runtime";
                }
                handle = LoadLibraryW(target);
                if (handle == IntPtr.Zero) return "LoadLibrary failed with error " + Marshal.GetLastWin32Error();
                return null;
            }
        }

        // Mono on Linux (and other POSIX systems): dlopen, then make sure the import name's
        // mapping (libkmtv1.so.1, through Kmtv1.dll.config) reaches this very object.
        static class PosixLoader
        {
            const int RtldNow = 2;
            const int RtldNoload = 4;
            const int RtldGlobal = 0x100;

            [DllImport("libdl.so.2", EntryPoint = "dlopen")]
            static extern IntPtr DlOpenDl(string fileName, int flags);

            [DllImport("libdl.so.2", EntryPoint = "dlerror")]
            static extern IntPtr DlErrorDl();

            [DllImport("libc.so.6", EntryPoint = "dlopen")]
            static extern IntPtr DlOpenC(string fileName, int flags);

            [DllImport("libc.so.6", EntryPoint = "dlerror")]
            static extern IntPtr DlErrorC();

            static bool useLibc;

            static IntPtr DlOpen(string fileName, int flags)
            {
                if (!useLibc)
                {
                    try
                    {
                        return DlOpenDl(fileName, flags);
                    }
                    catch (DllNotFoundException)
                    {
                        useLibc = true; // C libraries that hold dlopen themselves
                    }
                }
                return DlOpenC(fileName, flags);
            }

            static string DlError()
            {
                IntPtr text = useLibc ? DlErrorC() : DlErrorDl();
                return text == IntPtr.Zero ? "dlopen failed" : Marshal.PtrToStringAnsi(text);
            }

            public static string Load(string target, out IntPtr handle)
            {
                handle = DlOpen(target, RtldNow | RtldGlobal);
                if (handle == IntPtr.Zero) return DlError();
                IntPtr byName = DlOpen("libkmtv1.so.1", RtldNow | RtldNoload);
                if (byName != handle)
                {
                    return "loaded, but its SONAME is not libkmtv1.so.1, the name Kmtv1.dll.config maps the import to";
                }
                return null;
            }
        }
    }
}
