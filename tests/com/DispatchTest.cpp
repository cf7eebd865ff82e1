#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/ConnectionPoints.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Enumerators.h"

namespace {

using reel::Variant;

REEL_DEFINE_GUID(DIID_SampleEvents, 0x6A0C1E30, 0x1111, 0x4A2B, 0x9C, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0x80);

enum Shape : short { kSquare = 0, kCircle = 1 };

// An object with members of every automation type a control uses.
class Sample : public reel::ComObject<IDispatch, IConnectionPointContainer> {
 public:
  Sample() : ComObject(nullptr), events_(GetOwner(), {DIID_SampleEvents}) {}
  DECLARE_DISPATCH_TABLE(Sample)

  // IConnectionPointContainer, answered by the embedded event source.
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override { return events_.EnumConnectionPoints(points); }
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    return events_.FindConnectionPoint(riid, point);
  }

  short GetHeight() { return height_; }
  void SetHeight(short value) { height_ = value; }
  HRESULT SetNotSupported(IDispatch*) { return CTL_E_SETNOTSUPPORTED; }
  reel::ComPtr<IDispatch> GetSelf() { return reel::ComPtr<IDispatch>(static_cast<IDispatch*>(this)); }
  std::string Describe(const std::string& prefix, short count, double scale) {
    return prefix + ":" + std::to_string(count) + ":" + std::to_string(scale);
  }
  BOOL Save(const std::string& fileName, BOOL overwrite) {
    savedName_ = fileName;
    overwrite_ = overwrite;
    return fileName.empty() ? FALSE : TRUE;
  }
  void Touch() { ++touched_; }
  double Scale(double value, const VARIANT& factor) {
    return factor.vt == VT_ERROR ? value : value * (factor.vt == VT_R8 ? factor.dblVal : 1);
  }
  void Swap(SHORT* a, BSTR* text) {
    *a = static_cast<SHORT>(-*a);
    SysReAllocString(text, u"swapped");
  }
  LONG Item(const std::string& name) const { return static_cast<LONG>(name.size()); }
  void FireProgress(LONG percent) { events_.Fire(1, percent, reel::Variant::Bool(percent == 100), "step"); }

  short height_ = 240;
  LONG bitrate_ = 224000;
  float frameRate_ = 15.0f;
  double start_ = 0;
  BOOL audio_ = TRUE;
  std::string name_;
  COLORREF colour_ = 0;
  Shape shape_ = kSquare;
  std::string savedName_;
  BOOL overwrite_ = FALSE;
  int touched_ = 0;
  reel::EventSource events_;
};

const reel::DispatchTable<Sample>& Sample::DispatchMap() {
  static const auto table = reel::DispatchTable<Sample>()
                                .Property(1, "Height", &Sample::GetHeight, &Sample::SetHeight)
                                .Property(2, "Bitrate", &Sample::bitrate_)
                                .Property(3, "FrameRate", &Sample::frameRate_)
                                .Property(4, "Start", &Sample::start_)
                                .Property(5, "OutputAudio", &Sample::audio_, VT_BOOL)
                                .Property(6, "Name", &Sample::name_)
                                .Property(7, "BorderColor", &Sample::colour_, VT_I4)
                                .Property(8, "Shape", &Sample::shape_)
                                .Property(9, "Self", &Sample::GetSelf, &Sample::SetNotSupported)
                                .Property(10, "ReadOnlyHeight", &Sample::GetHeight)
                                .Method(20, "Describe", &Sample::Describe, {.names = {"Prefix", "Count", "Scale"}})
                                .Method(21, "Save", &Sample::Save,
                                        {.result = VT_BOOL, .parameters = {VT_EMPTY, VT_BOOL},
                                         .names = {"FileName", "Overwrite"}, .optional = 1})
                                .Method(22, "Touch", &Sample::Touch)
                                .Method(23, "Scale", &Sample::Scale, {.optional = 1})
                                .Method(24, "Swap", &Sample::Swap)
                                .Property(DISPID_VALUE, "Item", &Sample::Item);
  return table;
}

// Calls by dispatch id; arguments given in natural order.
struct Call {
  HRESULT result;
  Variant value;
  UINT argumentError;
  EXCEPINFO exception;
};

Call InvokeOn(IDispatch* object, DISPID id, WORD flags, std::vector<Variant> arguments,
              std::vector<DISPID> named = {}) {
  std::vector<Variant> reversed(arguments.rbegin(), arguments.rend());
  DISPPARAMS parameters{reversed.empty() ? nullptr : static_cast<VARIANT*>(reversed.data()),
                        named.empty() ? nullptr : named.data(), static_cast<UINT>(reversed.size()),
                        static_cast<UINT>(named.size())};
  Call call{};
  call.argumentError = 999;
  call.result = object->Invoke(id, IID_NULL, 0, flags, &parameters, &call.value, &call.exception, &call.argumentError);
  return call;
}

Call Put(IDispatch* object, DISPID id, Variant value) {
  return InvokeOn(object, id, DISPATCH_PROPERTYPUT, {std::move(value)}, {DISPID_PROPERTYPUT});
}
Call Get(IDispatch* object, DISPID id) { return InvokeOn(object, id, DISPATCH_PROPERTYGET, {}); }

class DispatchTest : public testing::Test {
 protected:
  reel::ComPtr<Sample> sample = reel::MakeComObject<Sample>();
  IDispatch* object = static_cast<IDispatch*>(sample.Get());
};

TEST_F(DispatchTest, PropertiesOfEveryTypeRoundTripWithTheirAutomationTypes) {
  struct Case {
    DISPID id;
    Variant put;
    VARTYPE type;  // what a get answers
    Variant expected;
  };
  const Case cases[] = {
      {1, Variant::I2(480), VT_I2, Variant::I2(480)},
      {1, Variant::I4(360), VT_I2, Variant::I2(360)},  // a VT_I4 given for a short
      {2, Variant::String("128000"), VT_I4, Variant::I4(128000)},
      {3, Variant::R8(29.97), VT_R4, Variant::R4(29.97f)},
      {4, Variant::String("12.25"), VT_R8, Variant::R8(12.25)},  // a numeric string for a double
      {5, Variant::I4(7), VT_BOOL, Variant::Bool(true)},         // non-zero is true
      {5, Variant::Bool(false), VT_BOOL, Variant::Bool(false)},
      {6, Variant::String("clip \xC3\xA9"), VT_BSTR, Variant::String("clip \xC3\xA9")},
      {6, Variant::I4(42), VT_BSTR, Variant::String("42")},
      {7, Variant::I4(0x00FF8040), VT_I4, Variant::I4(0x00FF8040)},
      {8, Variant::I2(kCircle), VT_I2, Variant::I2(kCircle)},
  };
  for (const Case& c : cases) {
    Call put = Put(object, c.id, c.put);
    ASSERT_EQ(put.result, S_OK) << "put " << c.id;
    Call get = Get(object, c.id);
    ASSERT_EQ(get.result, S_OK) << "get " << c.id;
    EXPECT_EQ(get.value.vt, c.type) << c.id << " " << reel::VariantToUtf8(get.value);
    EXPECT_EQ(reel::VariantToUtf8(get.value), reel::VariantToUtf8(c.expected)) << c.id;
  }
  EXPECT_EQ(sample->height_, 360);
  EXPECT_EQ(sample->audio_, FALSE);
  EXPECT_EQ(sample->name_, "42");
  EXPECT_EQ(sample->colour_, 0x00FF8040u);
  EXPECT_EQ(sample->shape_, kCircle);
  Put(object, 5, Variant::Bool(true));
  EXPECT_EQ(sample->audio_, 1);  // stored as a C++ TRUE, not -1
}

TEST_F(DispatchTest, FailedCoercionsAndWrongCallsGiveTheirErrors) {
  EXPECT_EQ(Put(object, 1, Variant::I4(70000)).result, DISP_E_OVERFLOW);  // too large for a short
  EXPECT_EQ(sample->height_, 240);
  Call mismatch = Put(object, 4, Variant::String("twelve"));
  EXPECT_EQ(mismatch.result, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(mismatch.argumentError, 0u);
  EXPECT_EQ(Get(object, 99).result, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Put(object, 10, Variant::I2(1)).result, DISP_E_MEMBERNOTFOUND);  // no setter
  EXPECT_EQ(InvokeOn(object, 22, DISPATCH_PROPERTYPUT, {Variant::I2(1)}, {DISPID_PROPERTYPUT}).result,
            DISP_E_MEMBERNOTFOUND);  // a method cannot be assigned
  EXPECT_EQ(InvokeOn(object, 20, DISPATCH_METHOD, {Variant::String("a"), Variant::I2(1)}).result,
            DISP_E_BADPARAMCOUNT);  // one too few
  EXPECT_EQ(InvokeOn(object, 22, DISPATCH_METHOD, {Variant::I2(1)}).result, DISP_E_BADPARAMCOUNT);
  Call third = InvokeOn(object, 20, DISPATCH_METHOD, {Variant::String("a"), Variant::I2(1), Variant::String("x")});
  EXPECT_EQ(third.result, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(third.argumentError, 0u);  // the last argument is rgvarg[0]
  Call first = InvokeOn(object, 20, DISPATCH_METHOD, {Variant::Error(E_FAIL), Variant::I2(1), Variant::R8(1)});
  EXPECT_EQ(first.result, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(first.argumentError, 2u);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  Variant result;
  EXPECT_EQ(object->Invoke(1, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

TEST_F(DispatchTest, ASetterReturningAFailureRaisesAnAutomationError) {
  Call put = InvokeOn(object, 9, DISPATCH_PROPERTYPUTREF, {Variant::Dispatch(object)}, {DISPID_PROPERTYPUT});
  EXPECT_EQ(put.result, DISP_E_EXCEPTION);
  EXPECT_EQ(put.exception.scode, CTL_E_SETNOTSUPPORTED);
  EXPECT_EQ(reel::Utf8FromBstr(put.exception.bstrSource), "Self");
  reel::ClearExcepInfo(&put.exception);
  Call get = Get(object, 9);
  ASSERT_EQ(get.result, S_OK);
  ASSERT_EQ(get.value.vt, VT_DISPATCH);
  EXPECT_EQ(get.value.pdispVal, object);
}

TEST_F(DispatchTest, MethodsTakePositionalNamedAndOptionalArguments) {
  Call positional = InvokeOn(object, 20, DISPATCH_METHOD, {Variant::String("p"), Variant::String("3"), Variant::I4(2)});
  ASSERT_EQ(positional.result, S_OK);
  EXPECT_EQ(reel::VariantToUtf8(positional.value), "p:3:2.000000");

  // Named: Scale=1.5 and Count=4 after the positional Prefix.
  Call named = InvokeOn(object, 20, DISPATCH_METHOD, {Variant::String("n"), Variant::I2(4), Variant::R8(1.5)}, {2, 1});
  ASSERT_EQ(named.result, S_OK);
  EXPECT_EQ(reel::VariantToUtf8(named.value), "n:4:1.500000");
  EXPECT_EQ(InvokeOn(object, 20, DISPATCH_METHOD, {Variant::String("n"), Variant::R8(1), Variant::I2(4)}, {2, 7}).result,
            DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(InvokeOn(object, 20, DISPATCH_METHOD, {Variant::String("n"), Variant::R8(1)}, {2}).result,
            DISP_E_PARAMNOTOPTIONAL);  // Count left out
  EXPECT_EQ(InvokeOn(object, 23, DISPATCH_METHOD, {Variant::R8(2), Variant::I2(4)}, {1}).result, DISP_E_NONAMEDARGS);

  Call saved = InvokeOn(object, 21, DISPATCH_METHOD, {Variant::String("out.avi"), Variant::Bool(true)});
  ASSERT_EQ(saved.result, S_OK);
  EXPECT_EQ(saved.value.vt, VT_BOOL);
  EXPECT_EQ(saved.value.boolVal, VARIANT_TRUE);
  EXPECT_EQ(sample->savedName_, "out.avi");
  EXPECT_EQ(sample->overwrite_, TRUE);
  Call optional = InvokeOn(object, 21, DISPATCH_METHOD, {Variant::String("")});  // Overwrite left out
  ASSERT_EQ(optional.result, S_OK);
  EXPECT_EQ(optional.value.boolVal, VARIANT_FALSE);
  EXPECT_EQ(sample->overwrite_, FALSE);

  // An omitted optional VARIANT arrives as the omission marker.
  Call scaled = InvokeOn(object, 23, DISPATCH_METHOD, {Variant::I4(3)});
  ASSERT_EQ(scaled.result, S_OK);
  EXPECT_EQ(scaled.value.dblVal, 3.0);
  scaled = InvokeOn(object, 23, DISPATCH_METHOD, {Variant::I4(3), Variant::R8(2)});
  EXPECT_EQ(scaled.value.dblVal, 6.0);

  Call touched = InvokeOn(object, 22, DISPATCH_METHOD, {});
  ASSERT_EQ(touched.result, S_OK);
  EXPECT_EQ(touched.value.vt, VT_EMPTY);
  EXPECT_EQ(sample->touched_, 1);
}

TEST_F(DispatchTest, ByReferenceArgumentsAreWrittenBack) {
  SHORT number = 5;
  BSTR text = SysAllocString(u"before");
  Variant first, second;
  first.vt = VT_BYREF | VT_I2;
  first.piVal = &number;
  second.vt = VT_BYREF | VT_BSTR;
  second.pbstrVal = &text;
  Call swapped = InvokeOn(object, 24, DISPATCH_METHOD, {first, second});
  ASSERT_EQ(swapped.result, S_OK);
  EXPECT_EQ(number, -5);
  EXPECT_EQ(std::u16string(text), u"swapped");
  SysFreeString(text);
  EXPECT_EQ(InvokeOn(object, 24, DISPATCH_METHOD, {Variant::I2(1), second}).result, DISP_E_TYPEMISMATCH);
}

TEST_F(DispatchTest, NamesResolveCaseInsensitivelyWithTheirParameters) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"describe"), const_cast<LPOLESTR>(u"SCALE"),
                      const_cast<LPOLESTR>(u"prefix")};
  DISPID ids[3];
  ASSERT_EQ(object->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 20);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(ids[2], 0);
  LPOLESTR unknownParameter[] = {const_cast<LPOLESTR>(u"Describe"), const_cast<LPOLESTR>(u"Width")};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, unknownParameter, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 20);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"NoSuchMember")};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, unknown, 1, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  LPOLESTR height[] = {const_cast<LPOLESTR>(u"outputaudio")};
  ASSERT_EQ(object->GetIDsOfNames(IID_NULL, height, 1, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 5);
  UINT count = 7;
  EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
}

TEST_F(DispatchTest, ValuePropertyMakesTheObjectConvertible) {
  // DISPID_VALUE with an index parameter, reached as a call or a get.
  Call item = InvokeOn(object, DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {Variant::String("four")});
  ASSERT_EQ(item.result, S_OK);
  EXPECT_EQ(item.value.lVal, 4);
}

// A sink recording the events it receives, which may unadvise itself.
class Sink : public reel::ComObject<IDispatch> {
 public:
  HRESULT GetTypeInfoCount(UINT* count) override { return reel::DispatchTypeInfoCount(count); }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*, UINT*) override {
    std::string record = std::to_string(id) + (flags == DISPATCH_METHOD ? "" : "?");
    for (UINT index = parameters->cArgs; index-- > 0;) {
      record += " " + std::to_string(parameters->rgvarg[index].vt) + "=" + reel::VariantToUtf8(parameters->rgvarg[index]);
    }
    received.push_back(record);
    if (unadviseFrom) {
      unadviseFrom->Unadvise(cookie);
      unadviseFrom = nullptr;
    }
    return S_OK;
  }
  std::vector<std::string> received;
  IConnectionPoint* unadviseFrom = nullptr;
  DWORD cookie = 0;
};

TEST_F(DispatchTest, EventsReachAdvisedSinksWithTheirArguments) {
  reel::ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(sample.As(&container), S_OK);
  reel::ComPtr<IConnectionPoint> point;
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(container->FindConnectionPoint(DIID_SampleEvents, &point), S_OK);
  IID iid{};
  point->GetConnectionInterface(&iid);
  EXPECT_EQ(iid, DIID_SampleEvents);
  reel::ComPtr<IConnectionPointContainer> back;
  ASSERT_EQ(point->GetConnectionPointContainer(&back), S_OK);
  EXPECT_TRUE(reel::IsSameObject(back.Get(), object));

  auto first = reel::MakeComObject<Sink>();
  auto second = reel::MakeComObject<Sink>();
  DWORD firstCookie = 0, secondCookie = 0;
  ASSERT_EQ(point->Advise(static_cast<IDispatch*>(first.Get()), &firstCookie), S_OK);
  ASSERT_EQ(point->Advise(static_cast<IDispatch*>(second.Get()), &secondCookie), S_OK);
  EXPECT_NE(firstCookie, secondCookie);

  // The first sink unadvises itself while the event is being delivered.
  first->unadviseFrom = point.Get();
  first->cookie = firstCookie;
  sample->FireProgress(100);
  sample->FireProgress(50);
  const std::vector<std::string> once = {"1 3=100 11=True 8=step"};
  const std::vector<std::string> twice = {"1 3=100 11=True 8=step", "1 3=50 11=False 8=step"};
  EXPECT_EQ(first->received, once);
  EXPECT_EQ(second->received, twice);
  EXPECT_EQ(point->Unadvise(firstCookie), CONNECT_E_NOCONNECTION);  // already gone
  EXPECT_EQ(point->Unadvise(12345), CONNECT_E_NOCONNECTION);

  reel::ComPtr<IEnumConnections> connections;
  ASSERT_EQ(point->EnumConnections(&connections), S_OK);
  CONNECTDATA data[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(2, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(data[0].dwCookie, secondCookie);
  EXPECT_TRUE(reel::IsSameObject(data[0].pUnk, second.Get()));
  data[0].pUnk->Release();
  EXPECT_EQ(point->Unadvise(secondCookie), S_OK);

  // A sink without IDispatch cannot connect.
  reel::ComPtr<IEnumConnections> notASink = connections;
  DWORD cookie = 77;
  EXPECT_EQ(point->Advise(notASink.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
}

TEST(Enumerator, FollowsTheIEnumVariantContract) {
  std::vector<Variant> items = {Variant::I4(1), Variant::String("two"), Variant::R8(3)};
  reel::ComPtr<IEnumVARIANT> enumerator;
  ASSERT_EQ(reel::CreateVariantEnumerator(items, &enumerator), S_OK);
  VARIANT out[4];
  ULONG fetched = 9;
  EXPECT_EQ(enumerator->Next(2, out, nullptr), E_INVALIDARG);  // more than one needs a count
  ASSERT_EQ(enumerator->Next(1, out, nullptr), S_OK);
  EXPECT_EQ(out[0].lVal, 1);
  VariantClear(&out[0]);

  reel::ComPtr<IEnumVARIANT> clone;
  ASSERT_EQ(enumerator->Clone(&clone), S_OK);  // keeps the position
  ASSERT_EQ(clone->Next(4, out, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(reel::VariantToUtf8(out[0]), "two");
  EXPECT_EQ(out[1].dblVal, 3.0);
  for (ULONG index = 0; index < fetched; ++index) VariantClear(&out[index]);
  EXPECT_EQ(clone->Next(1, out, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);

  EXPECT_EQ(enumerator->Skip(2), S_OK);
  EXPECT_EQ(enumerator->Skip(1), S_FALSE);
  EXPECT_EQ(enumerator->Reset(), S_OK);
  EXPECT_EQ(enumerator->Skip(3), S_OK);
  ASSERT_EQ(enumerator->Reset(), S_OK);
  ASSERT_EQ(enumerator->Next(3, out, &fetched), S_OK);
  EXPECT_EQ(fetched, 3u);
  for (ULONG index = 0; index < fetched; ++index) VariantClear(&out[index]);
}

TEST(Enumerator, LiveSourceFailuresAreReported) {
  std::vector<int> values = {10, 20};
  reel::VariantSource source;
  source.count = [&] { return static_cast<ULONG>(values.size()); };
  source.item = [&](ULONG index, VARIANT* item) -> HRESULT {
    if (values[index] < 0) return E_UNEXPECTED;
    item->vt = VT_I4;
    item->lVal = values[index];
    return S_OK;
  };
  reel::ComPtr<IEnumVARIANT> enumerator;
  ASSERT_EQ(reel::CreateVariantEnumerator(std::move(source), &enumerator), S_OK);
  values.push_back(-1);  // the source is read live
  VARIANT out[3];
  ULONG fetched = 0;
  EXPECT_EQ(enumerator->Next(3, out, &fetched), E_UNEXPECTED);
  EXPECT_EQ(fetched, 0u);
}

}  // namespace

namespace {

// A catalogue-style collection: Count, Item by 1-based number or exact name,
// and _NewEnum over live entries.
class Names : public reel::ComObject<IDispatch> {
 public:
  explicit Names(std::vector<std::string> entries) : entries_(std::move(entries)) {}
  DECLARE_DISPATCH_TABLE(Names)

  short Count() const { return static_cast<short>(entries_.size()); }
  reel::Variant Item(const VARIANT& key) const {
    if (key.vt == VT_BSTR) {
      for (const std::string& entry : entries_)
        if (entry == reel::Utf8FromBstr(key.bstrVal)) return reel::Variant::String(entry);
      return {};
    }
    reel::Variant number;
    if (FAILED(VariantChangeType(&number, &key, 0, VT_I4)) || number.lVal < 1 ||
        static_cast<std::size_t>(number.lVal) > entries_.size())
      return {};
    return reel::Variant::String(entries_[number.lVal - 1]);
  }
  reel::ComPtr<IUnknown> NewEnum() {
    reel::VariantSource source;
    source.count = [this] { return static_cast<ULONG>(entries_.size()); };
    source.item = [this](ULONG index, VARIANT* item) {
      reel::Variant::String(entries_[index]).Detach(item);
      return S_OK;
    };
    source.owner = static_cast<IDispatch*>(this);  // the enumerator keeps the collection alive
    reel::ComPtr<IEnumVARIANT> enumerator;
    if (FAILED(reel::CreateVariantEnumerator(std::move(source), &enumerator))) return {};
    return reel::ComPtr<IUnknown>(enumerator.Get());
  }

  std::vector<std::string> entries_;
};

const reel::DispatchTable<Names>& Names::DispatchMap() {
  static const auto table = reel::DispatchTable<Names>()
                                .Property(1, "Count", &Names::Count)
                                .Method(4, "Item", &Names::Item, {.names = {"Key"}})
                                .NewEnum(&Names::NewEnum);
  return table;
}

TEST(Collection, CountItemAndNewEnumThroughDispatch) {
  auto names = reel::MakeComObject<Names>(std::vector<std::string>{"Cinepak", "DV Video Encoder"});
  IDispatch* object = static_cast<IDispatch*>(names.Get());
  EXPECT_EQ(Get(object, 1).value.iVal, 2);
  EXPECT_EQ(reel::VariantToUtf8(InvokeOn(object, 4, DISPATCH_METHOD, {Variant::I4(2)}).value), "DV Video Encoder");
  EXPECT_EQ(reel::VariantToUtf8(InvokeOn(object, 4, DISPATCH_METHOD, {Variant::String("1")}).value), "");
  EXPECT_EQ(reel::VariantToUtf8(InvokeOn(object, 4, DISPATCH_METHOD, {Variant::String("Cinepak")}).value), "Cinepak");
  EXPECT_EQ(InvokeOn(object, 4, DISPATCH_METHOD, {Variant::I4(0)}).value.vt, VT_EMPTY);

  Call newEnum = InvokeOn(object, DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {});
  ASSERT_EQ(newEnum.result, S_OK);
  ASSERT_EQ(newEnum.value.vt, VT_UNKNOWN);
  reel::ComPtr<IEnumVARIANT> enumerator;
  ASSERT_EQ(newEnum.value.punkVal->QueryInterface(IID_PPV_ARGS(&enumerator)), S_OK);
  newEnum.value.Clear();
  names.Reset();  // the enumerator holds the collection
  VARIANT out[3];
  ULONG fetched = 0;
  EXPECT_EQ(enumerator->Next(3, out, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(reel::VariantToUtf8(out[0]), "Cinepak");
  EXPECT_EQ(reel::VariantToUtf8(out[1]), "DV Video Encoder");
  VariantClear(&out[0]);
  VariantClear(&out[1]);
}

}  // namespace
