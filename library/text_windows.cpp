// Discovery strings as OLE Automation VARIANTs.
//
// In: the VARIANT is converted to a BSTR by VariantChangeType, which is how hosts
// themselves turn a VARIANT into text: strings pass unchanged, numbers, dates and
// booleans convert in the user's locale, a VT_BYREF value is followed to what it refers
// to. What does not convert (VT_NULL, an array, an object without a default value) is the
// empty string. The UTF-16 text becomes the system's ANSI code page, which is what the
// bridge's driver takes.
//
// Out: the caller's VARIANT is cleared (VariantClear releases whatever it held) and
// then receives a freshly allocated BSTR, owned by the caller from then on. The new
// string is allocated before anything is released, so a failure leaves the caller's
// VARIANT as it was and allocates nothing.
#include <windows.h>
// windows.h first: the OLE headers rely on its definitions.
#include <oleauto.h>

#include <string>

#include "library/text.h"

namespace kmt::abi {
namespace {

// A VARIANT that is cleared when it goes out of scope.
struct ScopedVariant {
  VARIANT value;
  ScopedVariant() { ::VariantInit(&value); }
  ~ScopedVariant() { ::VariantClear(&value); }
  ScopedVariant(const ScopedVariant &) = delete;
  ScopedVariant &operator=(const ScopedVariant &) = delete;
};

std::string narrow(const wchar_t *text, int length) {
  if (length <= 0) return std::string();
  int size = ::WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string result(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, length, result.data(), size, nullptr, nullptr);
  return result;
}

// A new BSTR holding text, or null when it cannot be allocated.
BSTR widen(const std::string &text) {
  if (text.empty()) return ::SysAllocStringLen(L"", 0);
  int length =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return nullptr;
  BSTR result = ::SysAllocStringLen(nullptr, static_cast<UINT>(length));
  if (result == nullptr) return nullptr;
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result, length);
  return result;
}

}  // namespace

std::string text_in(kmt_text_in text) {
  if (text == nullptr) return std::string();
  ScopedVariant converted;
  if (FAILED(::VariantChangeType(&converted.value, text, 0, VT_BSTR))) return std::string();
  if (V_VT(&converted.value) != VT_BSTR || V_BSTR(&converted.value) == nullptr) {
    return std::string();
  }
  BSTR bstr = V_BSTR(&converted.value);
  return narrow(bstr, static_cast<int>(::SysStringLen(bstr)));
}

void text_out(const std::string &text, kmt_text_out out) {
  BSTR fresh = widen(text);
  if (fresh == nullptr) return;
  if (FAILED(::VariantClear(out))) {
    // A VARIANT that cannot be released (a locked array) is not overwritten: that would
    // leak what it holds.
    ::SysFreeString(fresh);
    return;
  }
  V_VT(out) = VT_BSTR;
  V_BSTR(out) = fresh;
}

}  // namespace kmt::abi
