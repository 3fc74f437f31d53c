// Discovery strings as VARIANTs, in-process against a scripted driver: what each kind
// of input becomes on its way to the driver, and how outputs replace what the caller's
// VARIANTs held.
#include <windows.h>
// windows.h first: the OLE headers rely on its definitions.
#include <gtest/gtest.h>
#include <oleauto.h>

#include <functional>
#include <string>

#include "kmtv1.h"
#include "library/abi.h"
#include "tests/support/library_fixture.h"
#include "tests/support/scripted_driver.h"

namespace kmt::testing {
namespace {

using VariantStrings = ExportsFixture;

// An object whose Release a test can count: VariantClear must call it.
class CountedObject final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  ULONG references = 1;
};

TEST_F(VariantStrings, InputsConvertAsHostsConvertThem) {
  BSTR referenced = ::SysAllocString(L"KMTC0002BYREF");
  LONG referenced_number = 4711;
  struct Row {
    const char *kind;
    std::function<void(VARIANT *)> fill;
    std::string reaches_driver;
  } rows[] = {
      {"string",
       [](VARIANT *v) {
         V_VT(v) = VT_BSTR;
         V_BSTR(v) = ::SysAllocString(L"KMTC0002TEST01");
       },
       "KMTC0002TEST01"},
      {"32-bit integer",
       [](VARIANT *v) {
         V_VT(v) = VT_I4;
         V_I4(v) = 20240607;
       },
       "20240607"},
      {"negative 16-bit integer",
       [](VARIANT *v) {
         V_VT(v) = VT_I2;
         V_I2(v) = -12;
       },
       "-12"},
      {"reference to a string",
       [&](VARIANT *v) {
         V_VT(v) = VT_BSTR | VT_BYREF;
         V_BSTRREF(v) = &referenced;
       },
       "KMTC0002BYREF"},
      {"reference to an integer",
       [&](VARIANT *v) {
         V_VT(v) = VT_I4 | VT_BYREF;
         V_I4REF(v) = &referenced_number;
       },
       "4711"},
      {"empty", [](VARIANT *v) { V_VT(v) = VT_EMPTY; }, ""},
      {"null (does not convert)", [](VARIANT *v) { V_VT(v) = VT_NULL; }, ""},
      {"unknown type (does not convert)", [](VARIANT *v) { V_VT(v) = 0x7F; }, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.kind);
    VARIANT serial;
    ::VariantInit(&serial);
    row.fill(&serial);
    std::uint32_t handle = 0;
    std::int32_t status = -1;
    driver.calls.clear();
    KMT_InitBySN(&handle, &serial, &status);
    ASSERT_FALSE(driver.calls.empty());
    EXPECT_EQ(driver.calls.front(), "OpenEx " + row.reaches_driver);
    if (V_VT(&serial) & VT_BYREF) V_VT(&serial) = VT_EMPTY;  // the referent is freed below
    ::VariantClear(&serial);
  }
  ::SysFreeString(referenced);
}

TEST_F(VariantStrings, OutputsReleaseWhatTheyHeldAndReceiveFreshStrings) {
  driver.serials = {"KMTC0002A1B2"};
  std::int32_t count = -1, status = -1;
  VARIANT name;
  ::VariantInit(&name);
  V_VT(&name) = VT_BSTR;
  V_BSTR(&name) = ::SysAllocString(L"kmtcv1");
  KMT_CreateListDevs(&name, &count, &status);
  ::VariantClear(&name);
  ASSERT_EQ(count, 1);

  CountedObject object;
  VARIANT type, serial;
  ::VariantInit(&type);
  ::VariantInit(&serial);
  V_VT(&type) = VT_UNKNOWN;
  V_UNKNOWN(&type) = &object;
  V_VT(&serial) = VT_BSTR;
  V_BSTR(&serial) = ::SysAllocString(L"previous");
  KMT_GetTypeAndSNbyIndex(0, &type, &serial, &status);
  EXPECT_EQ(object.references, 0u) << "the object the type VARIANT held was released";
  ASSERT_EQ(V_VT(&type), VT_BSTR);
  ASSERT_EQ(V_VT(&serial), VT_BSTR);
  EXPECT_EQ(std::wstring(V_BSTR(&type)), L"KMTC0002");
  EXPECT_EQ(std::wstring(V_BSTR(&serial)), L"A1B2");

  // An index past the table gives empty strings, still fresh BSTRs.
  KMT_GetTypeAndSNbyIndex(300, &type, &serial, &status);
  ASSERT_EQ(V_VT(&type), VT_BSTR);
  EXPECT_EQ(::SysStringLen(V_BSTR(&type)), 0u);
  ::VariantClear(&type);
  ::VariantClear(&serial);
}

TEST_F(VariantStrings, AnOutputThatCannotBeReleasedIsNotOverwritten) {
  SAFEARRAY *array = ::SafeArrayCreateVector(VT_UI1, 0, 4);
  ASSERT_NE(array, nullptr);
  ASSERT_EQ(::SafeArrayLock(array), S_OK);
  VARIANT type, serial;
  ::VariantInit(&type);
  ::VariantInit(&serial);
  V_VT(&type) = VT_ARRAY | VT_UI1;
  V_ARRAY(&type) = array;
  std::int32_t status = -1;
  KMT_GetTypeAndSNbyIndex(0, &type, &serial, &status);
  // Windows leaves such a VARIANT as it was; Wine's VariantClear empties it even so.
  EXPECT_NE(V_VT(&type), VT_BSTR) << "not overwritten: what it held would leak";
  EXPECT_EQ(V_VT(&serial), VT_BSTR) << "the other output is still written";
  ::SafeArrayUnlock(array);
  ::SafeArrayDestroy(array);
  ::VariantClear(&serial);
}

}  // namespace
}  // namespace kmt::testing
