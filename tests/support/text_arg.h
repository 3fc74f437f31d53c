// Discovery strings in the platform's string type, for tests that call the exported
// functions: NUL-terminated text here, VARIANTs holding BSTRs on Windows.
//   KMT_CreateListDevs(TextIn("KMTCV1"), ...);  TextOut type; ... type.str()
#pragma once

#include <string>

#include "kmtv1.h"

#if defined(_WIN32)
#include <windows.h>
// windows.h first: the OLE headers rely on its definitions.
#include <oleauto.h>
#endif

namespace kmt::testing {

#if defined(_WIN32)

class TextIn {
 public:
  explicit TextIn(const std::string &text) {
    ::VariantInit(&value_);
    std::wstring wide(text.begin(), text.end());  // the tests' strings are ASCII
    V_VT(&value_) = VT_BSTR;
    V_BSTR(&value_) = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  ~TextIn() { ::VariantClear(&value_); }
  TextIn(const TextIn &) = delete;
  TextIn &operator=(const TextIn &) = delete;
  operator kmt_text_in() { return &value_; }

 private:
  VARIANT value_;
};

class TextOut {
 public:
  TextOut() { ::VariantInit(&value_); }
  ~TextOut() { ::VariantClear(&value_); }
  TextOut(const TextOut &) = delete;
  TextOut &operator=(const TextOut &) = delete;
  operator kmt_text_out() { return &value_; }
  // The text received; "<not a string>" when the VARIANT holds something else.
  std::string str() const {
    if (V_VT(&value_) != VT_BSTR) return "<not a string>";
    std::wstring wide(V_BSTR(&value_), ::SysStringLen(V_BSTR(&value_)));
    return std::string(wide.begin(), wide.end());
  }

 private:
  VARIANT value_;
};

#else

class TextIn {
 public:
  explicit TextIn(std::string text) : text_(std::move(text)) {}
  operator kmt_text_in() const { return text_.c_str(); }

 private:
  std::string text_;
};

class TextOut {
 public:
  operator kmt_text_out() { return buffer_; }
  std::string str() const { return buffer_; }

 private:
  char buffer_[KMT_STRING_SIZE] = "";
};

#endif

}  // namespace kmt::testing
