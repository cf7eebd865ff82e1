#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/com/Dispatch.h"
#include "platform/com/ComObject.h"

namespace {

using reel::Variant;

struct Conversion {
  const char* label;
  Variant source;
  VARTYPE target;
  HRESULT expected;
  Variant result;  // compared when expected is S_OK
};

bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_EMPTY: case VT_NULL: return true;
    case VT_I2: return a.iVal == b.iVal;
    case VT_I4: return a.lVal == b.lVal;
    case VT_R4: return a.fltVal == b.fltVal;
    case VT_R8: return a.dblVal == b.dblVal;
    case VT_BOOL: return a.boolVal == b.boolVal;
    case VT_ERROR: return a.scode == b.scode;
    case VT_BSTR: return reel::Utf8FromBstr(a.bstrVal) == reel::Utf8FromBstr(b.bstrVal);
    default: return false;
  }
}

std::string Describe(const VARIANT& v) { return "vt=" + std::to_string(v.vt) + " \"" + reel::VariantToUtf8(v) + "\""; }

TEST(Variant, ChangeTypeFollowsAutomationRules) {
  const Conversion table[] = {
      // Integers narrow with an overflow check.
      {"I4 to I2", Variant::I4(32767), VT_I2, S_OK, Variant::I2(32767)},
      {"I4 past I2", Variant::I4(32768), VT_I2, DISP_E_OVERFLOW, {}},
      {"I4 below I2", Variant::I4(-32769), VT_I2, DISP_E_OVERFLOW, {}},
      // Reals round half to even.
      {"2.5 to I4", Variant::R8(2.5), VT_I4, S_OK, Variant::I4(2)},
      {"3.5 to I4", Variant::R8(3.5), VT_I4, S_OK, Variant::I4(4)},
      {"-2.5 to I2", Variant::R8(-2.5), VT_I2, S_OK, Variant::I2(-2)},
      {"2.51 to I2", Variant::R4(2.51f), VT_I2, S_OK, Variant::I2(3)},
      {"1e10 to I4", Variant::R8(1e10), VT_I4, DISP_E_OVERFLOW, {}},
      {"NaN to I4", Variant::R8(std::nan("")), VT_I4, DISP_E_OVERFLOW, {}},
      {"1e39 to R4", Variant::R8(1e39), VT_R4, DISP_E_OVERFLOW, {}},
      // Booleans: true is -1, any non-zero number is true.
      {"true to I4", Variant::Bool(true), VT_I4, S_OK, Variant::I4(-1)},
      {"0.25 to BOOL", Variant::R8(0.25), VT_BOOL, S_OK, Variant::Bool(true)},
      {"0 to BOOL", Variant::I2(0), VT_BOOL, S_OK, Variant::Bool(false)},
      // Strings are read in the C locale.
      {"\"12.5\" to R8", Variant::String(" 12.5 "), VT_R8, S_OK, Variant::R8(12.5)},
      {"\"-3e2\" to I2", Variant::String("-3e2"), VT_I2, S_OK, Variant::I2(-300)},
      {"\"+7\" to I4", Variant::String("+7"), VT_I4, S_OK, Variant::I4(7)},
      {"\"12,5\" to R8", Variant::String("12,5"), VT_R8, DISP_E_TYPEMISMATCH, {}},
      {"\"abc\" to I4", Variant::String("abc"), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"\"\" to I4", Variant::String(""), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"\"inf\" to R8", Variant::String("inf"), VT_R8, DISP_E_TYPEMISMATCH, {}},
      {"\"70000\" to I2", Variant::String("70000"), VT_I2, DISP_E_OVERFLOW, {}},
      {"\"True\" to BOOL", Variant::String("True"), VT_BOOL, S_OK, Variant::Bool(true)},
      {"\"false\" to BOOL", Variant::String("false"), VT_BOOL, S_OK, Variant::Bool(false)},
      {"\"2\" to BOOL", Variant::String("2"), VT_BOOL, S_OK, Variant::Bool(true)},
      // Numbers to strings.
      {"I4 to BSTR", Variant::I4(-42), VT_BSTR, S_OK, Variant::String("-42")},
      {"R8 to BSTR", Variant::R8(0.1), VT_BSTR, S_OK, Variant::String("0.1")},
      {"R4 to BSTR", Variant::R4(15.0f), VT_BSTR, S_OK, Variant::String("15")},
      {"BOOL to BSTR", Variant::Bool(true), VT_BSTR, S_OK, Variant::String("-1")},
      // EMPTY is 0, "" and FALSE.
      {"EMPTY to I2", Variant(), VT_I2, S_OK, Variant::I2(0)},
      {"EMPTY to BSTR", Variant(), VT_BSTR, S_OK, Variant::String("")},
      {"EMPTY to BOOL", Variant(), VT_BOOL, S_OK, Variant::Bool(false)},
      {"EMPTY to DISPATCH", Variant(), VT_DISPATCH, DISP_E_TYPEMISMATCH, {}},
      // ERROR converts only to itself and to I4, and back from I4.
      {"ERROR to I4", Variant::Error(E_FAIL), VT_I4, S_OK, Variant::I4(E_FAIL)},
      {"ERROR to R8", Variant::Error(E_FAIL), VT_R8, DISP_E_TYPEMISMATCH, {}},
      {"ERROR to BSTR", Variant::Error(E_FAIL), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
      {"I4 to ERROR", Variant::I4(5), VT_ERROR, S_OK, Variant::Error(5)},
      {"R8 to ERROR", Variant::R8(5), VT_ERROR, DISP_E_TYPEMISMATCH, {}},
      // Numbers are not objects.
      {"I4 to UNKNOWN", Variant::I4(1), VT_UNKNOWN, DISP_E_TYPEMISMATCH, {}},
      {"BSTR to DISPATCH", Variant::String("x"), VT_DISPATCH, DISP_E_TYPEMISMATCH, {}},
  };
  for (const Conversion& c : table) {
    Variant out;
    const HRESULT result = VariantChangeType(&out, &c.source, 0, c.target);
    EXPECT_EQ(result, c.expected) << c.label;
    if (c.expected == S_OK && result == S_OK) {
      EXPECT_TRUE(SameValue(out, c.result)) << c.label << ": got " << Describe(out);
    } else {
      EXPECT_EQ(out.vt, VT_EMPTY) << c.label << ": a failed conversion leaves the destination alone";
    }
  }
}

TEST(Variant, ChangeTypeInPlaceAndThroughReferences) {
  Variant text = Variant::String("17");
  ASSERT_EQ(text.ChangeType(VT_I2), S_OK);  // the string is released, not leaked
  EXPECT_EQ(text.vt, VT_I2);
  EXPECT_EQ(text.iVal, 17);
  // A failed in-place conversion keeps the original.
  Variant kept = Variant::String("seventeen");
  EXPECT_EQ(kept.ChangeType(VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(reel::Utf8FromBstr(kept.bstrVal), "seventeen");

  SHORT stored = 99;
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_BYREF | VT_I2;
  reference.piVal = &stored;
  Variant converted;
  ASSERT_EQ(VariantChangeType(&converted, &reference, 0, VT_BSTR), S_OK);
  EXPECT_EQ(reel::Utf8FromBstr(converted.bstrVal), "99");
  Variant copied;
  ASSERT_EQ(VariantCopyInd(&copied, &reference), S_OK);
  EXPECT_EQ(copied.vt, VT_I2);
  EXPECT_EQ(copied.iVal, 99);
  EXPECT_EQ(VariantChangeType(&converted, &reference, 0, VT_BYREF | VT_I4), DISP_E_TYPEMISMATCH);
}

TEST(Variant, ClearAndCopyManageOwnership) {
  Variant original = Variant::String("owned");
  Variant copy = original;
  EXPECT_NE(copy.bstrVal, original.bstrVal);
  EXPECT_EQ(reel::Utf8FromBstr(copy.bstrVal), "owned");
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 0x0FFF;
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  Variant target;
  EXPECT_EQ(VariantCopy(&target, &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&target, &original, 0, 0x0FFF), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

// A dispatch object whose value property is a number.
REEL_DEFINE_GUID(IID_IValueObject, 0x6A0C1E20, 0x1111, 0x4A2B, 0x9C, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0x70);
struct ValueObject : reel::ComObject<IDispatch> {
  explicit ValueObject(double value) : value_(value) {}
  HRESULT GetTypeInfoCount(UINT* count) override { return reel::DispatchTypeInfoCount(count); }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
    if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_R8;
    result->dblVal = value_;
    return S_OK;
  }
  double value_;
};

TEST(Variant, ObjectsConvertThroughValueAndQueryInterface) {
  auto object = reel::MakeComObject<ValueObject>(2.5);
  Variant dispatch = Variant::Dispatch(object.Get());
  Variant number;
  ASSERT_EQ(VariantChangeType(&number, &dispatch, 0, VT_I2), S_OK);
  EXPECT_EQ(number.iVal, 2);  // 2.5 rounds to even
  EXPECT_EQ(VariantChangeType(&number, &dispatch, VARIANT_NOVALUEPROP, VT_I2), DISP_E_TYPEMISMATCH);

  Variant unknown;
  ASSERT_EQ(VariantChangeType(&unknown, &dispatch, 0, VT_UNKNOWN), S_OK);
  EXPECT_TRUE(reel::IsSameObject(unknown.punkVal, object.Get()));
  Variant back;
  ASSERT_EQ(VariantChangeType(&back, &unknown, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(back.pdispVal, static_cast<IDispatch*>(object.Get()));
  back.Clear();
  unknown.Clear();
  dispatch.Clear();
  // Every conversion released what it took: only our reference is left.
  object->AddRef();
  EXPECT_EQ(object->Release(), 1u);
}

}  // namespace
