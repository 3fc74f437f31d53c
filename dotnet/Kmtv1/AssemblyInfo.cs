using System.Reflection;
using System.Runtime.InteropServices;
using System.Runtime.Versioning;

[assembly: AssemblyTitle("Kmtv1")]
[assembly: AssemblyDescription("C# binding of the kmtv1 library for the KMTC multi-function USB I/O controller")]
[assembly: AssemblyProduct("kmtv1")]
[assembly: AssemblyVersion("1.0.43.0")]
[assembly: AssemblyFileVersion("1.0.43.0")]
[assembly: ComVisible(false)]
// Built against the .NET Framework 4.5 profile and mscorlib alone, so that .NET Framework
// 4.5 and later, Mono and .NET Core 3 / .NET 5 and later all load it.
[assembly: TargetFramework(".NETFramework,Version=v4.5", FrameworkDisplayName = ".NET Framework 4.5")]
