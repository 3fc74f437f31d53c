/* Links against the zip's KMTv1dll.lib with an MSVC-compatible toolchain (Clang in MSVC
 * mode and lld-link, no C runtime, no Windows headers), as a Visual C++ program would:
 * the import library must resolve the names such a program refers to (_NAME@N on 32-bit
 * Windows) to the DLL's undecorated exports. Exit code 0 when discovery through the
 * simulated ftd2xx.dll beside the DLL finds one controller and reports no error. */

/* A BSTR: its length in bytes, then the UTF-16 text; the string points past the length. */
static const struct {
  unsigned int bytes;
  unsigned short text[7];
} type_name = {12, {'K', 'M', 'T', 'C', 'V', '1', 0}};

/* VARIANT's layout: the type, three reserved words, then the value (16 bytes on 32-bit
 * Windows, 24 on 64-bit). */
struct variant {
  unsigned short type, reserved1, reserved2, reserved3;
  const void *value;
  const void *value_high;
};
enum { VT_BSTR = 8 };

__declspec(dllimport) void __stdcall KMT_CreateListDevs(struct variant *type_name, int *count,
                                                        int *status);
__declspec(dllimport) void __stdcall KMT_GetDriverVersion(int *major, int *minor, int *build);

int check(void) {
  struct variant name = {VT_BSTR, 0, 0, 0, type_name.text, 0};
  int count = 0, status = -1, major = -1, minor = -1, build = -1;
  KMT_GetDriverVersion(&major, &minor, &build);
  KMT_CreateListDevs(&name, &count, &status);
  if (major < 0) return 20;
  return count == 1 && status == 0 ? 0 : 10 + status;
}
