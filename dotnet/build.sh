#!/usr/bin/env bash
# Builds the C# binding with Mono's C# compiler (Debian: mono-mcs):
#   dotnet/build.sh OUTDIR
# OUTDIR receives Kmtv1.dll (AnyCPU, references mscorlib alone), its XML documentation
# Kmtv1.xml and Kmtv1.dll.config (read by Mono only: maps the import name to
# libkmtv1.so.1). Warnings are errors, a missing doc comment included.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="${1:?usage: dotnet/build.sh OUTDIR}"
mkdir -p "$out"
# -noconfig: no reference beyond mscorlib 4.0.0.0, which .NET Framework 4.5 and later, Mono
# and modern .NET all resolve; -platform:anycpu: the process's own bitness (docs/dotnet.md).
mcs -noconfig -target:library -platform:anycpu -optimize+ -debug- \
    -warn:4 -warnaserror -nologo \
    -out:"$out/Kmtv1.dll" -doc:"$out/Kmtv1.xml" "$here"/Kmtv1/*.cs
cp "$here/Kmtv1.dll.config" "$out/Kmtv1.dll.config"
