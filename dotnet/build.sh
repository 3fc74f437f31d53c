#!/usr/bin/env bash
# Builds the C# binding with Mono's C# compiler (Debian: mono-mcs):
#   dotnet/build.sh OUTDIR [VERSION]
# OUTDIR receives Kmtv1.dll (AnyCPU, references mscorlib alone), its XML documentation
# Kmtv1.xml and Kmtv1.dll.config (read by Mono only: maps the import name to
# libkmtv1.so.1). Warnings are errors, a missing doc comment included. The assembly's
# version is VERSION (CMake passes the project's) or else the one project() in the
# top-level CMakeLists.txt names, with a fourth part 0.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="${1:?usage: dotnet/build.sh OUTDIR [VERSION]}"
version="${2:-$(sed -n 's/^project(kmtv1 VERSION \([0-9.]*\).*/\1/p' "$here/../CMakeLists.txt")}"
[ -n "$version" ] || { echo "dotnet/build.sh: no version found" >&2; exit 1; }
mkdir -p "$out"
printf '// Written by dotnet/build.sh from the project'"'"'s version.\n[assembly: System.Reflection.AssemblyVersion("%s.0")]\n[assembly: System.Reflection.AssemblyFileVersion("%s.0")]\n' \
  "$version" "$version" > "$out/AssemblyVersion.cs"
# -noconfig: no reference beyond mscorlib 4.0.0.0, which .NET Framework 4.5 and later, Mono
# and modern .NET all resolve; -platform:anycpu: the process's own bitness (docs/dotnet.md).
mcs -noconfig -target:library -platform:anycpu -optimize+ -debug- \
    -warn:4 -warnaserror -nologo \
    -out:"$out/Kmtv1.dll" -doc:"$out/Kmtv1.xml" "$here"/Kmtv1/*.cs "$out/AssemblyVersion.cs"
cp "$here/Kmtv1.dll.config" "$out/Kmtv1.dll.config"
