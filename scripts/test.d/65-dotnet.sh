#!/usr/bin/env bash
echo "== C# binding built with Mono's compiler, NUnit tests under mono"
# The GCC stage's build (configured the same way, so running this stage alone or after it
# leaves that build as it was); only the library and the assembly are needed. The target
# kmtv1-dotnet (dotnet/build.sh) writes Kmtv1.dll, Kmtv1.xml and Kmtv1.dll.config into
# build-gcc/dotnet; the tests and helpers below go beside them.
cmake -S . -B build-gcc -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
      -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build build-gcc -j "$jobs" --target kmtv1 kmtv1-dotnet
out=build-gcc/dotnet
# NUnit 2.6 as Debian packages it (libnunit-cil-dev): the framework assembly the tests
# reference is /usr/lib/cli/nunit.framework-2.6.3/nunit.framework.dll (pkg-config nunit
# lists it with the runner's assemblies, which the tests do not need).
nunit_framework=$(pkg-config --libs nunit | tr ' ' '\n' | sed -n 's/^-r://p' | grep '/nunit\.framework\.dll$')
mcs -noconfig -target:library -nologo -warnaserror -r:System.dll -r:System.Core.dll \
    -r:"$nunit_framework" -r:"$out/Kmtv1.dll" -out:"$out/Kmtv1.Tests.dll" \
    dotnet/tests/*Tests.cs
mcs -noconfig -nologo -warnaserror -r:System.dll -r:"$out/Kmtv1.dll" -out:"$out/AcquireBlock.exe" \
    dotnet/tests/AcquireBlock.cs
mcs -noconfig -nologo -warnaserror -r:System.dll -r:"$out/Kmtv1.dll" -out:"$out/ReadInputs.exe" \
    examples/ReadInputs.cs
# The C side of the block comparison, the C example for the C# example's output, and the
# stand-in for the Windows library's VARIANT strings (beside the tests, where Mono finds it).
for program in dotnet/tests/acquire_reference.c examples/read_inputs.c; do
  cc -Wall -Wextra -Werror -Iinclude "$program" -o "$out/$(basename "$program" .c)" \
     build-gcc/libkmtv1.so.1 -Wl,-rpath,"$PWD/build-gcc"
done
cc -shared -fPIC -Wall -Wextra -Werror -Iinclude dotnet/tests/variant_shim.c \
   -o "$out/libkmtv1_variant_shim.so" build-gcc/libkmtv1.so.1 -Wl,-rpath,"$PWD/build-gcc"

export KMT_DRIVER=sim:clock=virtual KMTV1_LIBRARY=$PWD/build-gcc/libkmtv1.so.1 \
       KMTV1_SOURCE_DIR=$PWD
# The C# example prints what the C example prints (each must succeed on its own).
"$out/read_inputs" > "$out/read_inputs.txt"
mono "$out/ReadInputs.exe" > "$out/ReadInputs.txt"
grep -q ': inputs .* V' "$out/ReadInputs.txt"
diff "$out/read_inputs.txt" "$out/ReadInputs.txt"
# The Python package refuses exactly what the C# binding refuses (the shared table).
PYTHONPATH=python /usr/bin/python3 dotnet/tests/check_refusals.py dotnet/tests/refusals.tsv
# Debian's nunit-console (NUnit 2.6.4, /usr/lib/nunit/nunit-console.exe run by the cli
# alternative, i.e. mono): -nologo quiet banner, -noshadow loads the assemblies where they
# are (beside Kmtv1.dll and its .config), -nothread runs the tests on the main thread,
# -result writes the XML report into the build folder. Exit code: the number of failures.
nunit-console -nologo -noshadow -nothread -result="$out/TestResult.xml" "$out/Kmtv1.Tests.dll"
