// The IDispatch side of the server's objects: flat, case-insensitive name tables and
// access to the arguments of one Invoke, with the coercions the objects accept.
#pragma once

#include "platform/com.h"

#include <cstddef>
#include <string>

namespace kestrelon {

struct DispatchName {
  const char* name;
  DISPID id;
};

// Looks every name up, ignoring case, in one flat table (members and parameter names
// alike). Unknown names get DISPID_UNKNOWN and the result DISP_E_UNKNOWNNAME.
HRESULT LookUpNames(const DispatchName* table, size_t tableSize, LPOLESTR* names, UINT count, DISPID* ids);

template <size_t N>
HRESULT LookUpNames(const DispatchName (&table)[N], LPOLESTR* names, UINT count, DISPID* ids) {
  return LookUpNames(table, N, names, count, ids);
}

// What Invoke hands back for a member's result `hr`: a failure becomes DISP_E_EXCEPTION
// with the caller's exception information filled in.
HRESULT InvokeResult(HRESULT hr, EXCEPINFO* exception);

// One Invoke's arguments, addressed by parameter position (0 = first declared). Each
// accessor returns S_OK or the dispatch error to hand back, and records the failing
// argument in the caller's argError.
class DispatchCall {
 public:
  DispatchCall(WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argError);

  bool IsMethodOrGet() const { return (flags_ & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) != 0; }
  bool IsPut() const { return (flags_ & DISPATCH_PROPERTYPUT) != 0; }

  // Checks that exactly `count` arguments came, not counting a property's new value.
  HRESULT Expect(UINT count);

  HRESULT Long(UINT position, LONG& value);
  HRESULT Bool(UINT position, VARIANT_BOOL& value);
  HRESULT Float(UINT position, float& value);
  // A BSTR argument as passed (not copied); a missing BSTR is null.
  HRESULT Bstr(UINT position, BSTR& value);
  // A string argument as 8-bit text the callee may overwrite: a byte reference is used
  // in place, a BSTR is converted into `storage`.
  HRESULT Bytes(UINT position, std::string& storage, char*& value);
  // An [out] or [in, out] argument passed by reference: to the value itself (VT_BYREF |
  // VT_I4, VT_BYREF | VT_R4), or, as scripting clients pass their variables, to a VARIANT
  // (VT_BYREF | VT_VARIANT). The callee writes through `value`; WriteBack then stores what
  // it wrote into such a VARIANT. FloatRef also takes a number by value, whose result
  // then goes nowhere.
  HRESULT LongRef(UINT position, LONG*& value);
  HRESULT FloatRef(UINT position, float*& value);
  // Hands the results of by-reference VARIANT arguments back to the caller; called once
  // the member has run, whatever it returned.
  void WriteBack();

  // The new value of a property put.
  HRESULT PutLong(LONG& value);

  void ReturnLong(LONG value);
  void ReturnBool(VARIANT_BOOL value);
  void ReturnFloat(float value);
  void ReturnLongLong(LONGLONG value);

 private:
  VARIANT* Find(UINT position);
  VARIANT* Deref(VARIANT* v) const;
  HRESULT Mismatch(UINT position);

  // A result kept here until WriteBack; `target` is the caller's VARIANT, if any.
  struct Slot {
    VARIANT* target = nullptr;
    VARTYPE type = VT_EMPTY;
    LONG longValue = 0;
    float floatValue = 0;
  };
  static constexpr UINT kMaxSlots = 2;  // no member has more [out] arguments
  Slot* NewSlot(VARIANT* target, VARTYPE type);

  WORD flags_;
  DISPPARAMS* params_;
  VARIANT* result_;
  UINT* argError_;
  DISPPARAMS empty_{};
  Slot slots_[kMaxSlots];
  UINT slotCount_ = 0;
};

}  // namespace kestrelon
