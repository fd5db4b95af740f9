#include "Lexisift/server/dispatch.h"

namespace kestrelon {

namespace {

bool SameNameIgnoringCase(const char* ascii, const OLECHAR* wide) {
  for (;; ++ascii, ++wide) {
    OLECHAR a = static_cast<unsigned char>(*ascii);
    OLECHAR w = *wide;
    if (a >= 'A' && a <= 'Z') a = static_cast<OLECHAR>(a + 32);
    if (w >= 'A' && w <= 'Z') w = static_cast<OLECHAR>(w + 32);
    if (a != w) return false;
    if (a == 0) return true;
  }
}

}  // namespace

HRESULT LookUpNames(const DispatchName* table, size_t tableSize, LPOLESTR* names, UINT count, DISPID* ids) {
  if (!names || !ids) return E_POINTER;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    for (size_t t = 0; names[i] && t < tableSize; ++t)
      if (SameNameIgnoringCase(table[t].name, names[i])) {
        ids[i] = table[t].id;
        break;
      }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT InvokeResult(HRESULT hr, EXCEPINFO* exception) {
  if (!FAILED(hr)) return hr;
  if (exception) {
    *exception = EXCEPINFO{};
    exception->scode = hr;
  }
  return DISP_E_EXCEPTION;
}

DispatchCall::DispatchCall(WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argError)
    : flags_(flags), params_(params ? params : &empty_), result_(result), argError_(argError) {}

HRESULT DispatchCall::Expect(UINT count) {
  UINT valueArgs = IsPut() ? 1 : 0;
  if (params_->cArgs != count + valueArgs) return DISP_E_BADPARAMCOUNT;
  if (params_->cArgs > 0 && !params_->rgvarg) return E_INVALIDARG;
  if (params_->cNamedArgs > params_->cArgs || (params_->cNamedArgs > 0 && !params_->rgdispidNamedArgs))
    return E_INVALIDARG;
  for (UINT k = 0; k < params_->cNamedArgs; ++k) {
    DISPID named = params_->rgdispidNamedArgs[k];
    if (named == DISPID_PROPERTYPUT && IsPut()) continue;
    if (named < 0 || static_cast<UINT>(named) >= count) return DISP_E_PARAMNOTFOUND;
  }
  return S_OK;
}

VARIANT* DispatchCall::Find(UINT position) {
  // Named arguments first; positional ones fill the remaining places from the last one.
  for (UINT k = 0; k < params_->cNamedArgs; ++k)
    if (params_->rgdispidNamedArgs[k] == static_cast<DISPID>(position)) return &params_->rgvarg[k];
  UINT positional = params_->cArgs - params_->cNamedArgs;
  if (position >= positional) return nullptr;
  return &params_->rgvarg[params_->cArgs - 1 - position];
}

VARIANT* DispatchCall::Deref(VARIANT* v) const {
  if (v && v->vt == (VT_BYREF | VT_VARIANT)) return v->pvarVal;
  return v;
}

HRESULT DispatchCall::Mismatch(UINT position) {
  if (argError_) *argError_ = params_->cArgs - 1 - position;
  return DISP_E_TYPEMISMATCH;
}

namespace {

// Whole-number VARIANTs (by value or by reference) as a 64-bit value.
bool IntegerOf(const VARIANT& v, LONGLONG& out) {
  switch (v.vt) {
    case VT_I1: out = static_cast<signed char>(v.cVal); return true;
    case VT_UI1: out = v.bVal; return true;
    case VT_I2: out = v.iVal; return true;
    case VT_UI2: out = v.uiVal; return true;
    case VT_I4: out = v.lVal; return true;
    case VT_UI4: out = v.ulVal; return true;
    case VT_INT: out = v.intVal; return true;
    case VT_UINT: out = v.uintVal; return true;
    case VT_I8: out = v.llVal; return true;
    case VT_BOOL: out = v.boolVal; return true;
    case VT_BYREF | VT_I4: out = v.plVal ? *v.plVal : 0; return v.plVal != nullptr;
    case VT_BYREF | VT_BOOL: out = v.pboolVal ? *v.pboolVal : 0; return v.pboolVal != nullptr;
    default: return false;
  }
}

}  // namespace

HRESULT DispatchCall::Long(UINT position, LONG& value) {
  VARIANT* v = Deref(Find(position));
  LONGLONG n = 0;
  if (!v || !IntegerOf(*v, n) || n < INT32_MIN || n > UINT32_MAX) return Mismatch(position);
  value = static_cast<LONG>(n);
  return S_OK;
}

HRESULT DispatchCall::Bool(UINT position, VARIANT_BOOL& value) {
  VARIANT* v = Deref(Find(position));
  if (!v) return Mismatch(position);
  if (v->vt == VT_BOOL) {  // passed on as it is: only VARIANT_TRUE counts as true
    value = v->boolVal;
    return S_OK;
  }
  LONGLONG n = 0;
  if (!IntegerOf(*v, n)) return Mismatch(position);
  value = n ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT DispatchCall::Float(UINT position, float& value) {
  VARIANT* v = Deref(Find(position));
  LONGLONG n = 0;
  if (v && v->vt == VT_R4) value = v->fltVal;
  else if (v && v->vt == VT_R8) value = static_cast<float>(v->dblVal);
  else if (v && v->vt == (VT_BYREF | VT_R4) && v->pfltVal) value = *v->pfltVal;
  else if (v && IntegerOf(*v, n)) value = static_cast<float>(n);
  else return Mismatch(position);
  return S_OK;
}

HRESULT DispatchCall::Bstr(UINT position, BSTR& value) {
  VARIANT* v = Deref(Find(position));
  if (v && v->vt == VT_BSTR) value = v->bstrVal;
  else if (v && v->vt == (VT_BYREF | VT_BSTR) && v->pbstrVal) value = *v->pbstrVal;
  else if (v && (v->vt == VT_EMPTY || v->vt == VT_NULL)) value = nullptr;
  else return Mismatch(position);
  return S_OK;
}

HRESULT DispatchCall::Bytes(UINT position, std::string& storage, char*& value) {
  VARIANT* v = Deref(Find(position));
  if (v && (v->vt == (VT_BYREF | VT_UI1) || v->vt == (VT_BYREF | VT_I1)) && v->pcVal) {
    value = v->pcVal;
    return S_OK;
  }
  BSTR text = nullptr;
  if (HRESULT hr = Bstr(position, text); FAILED(hr)) return hr;
  storage = platform::BstrToAnsi(text);
  value = storage.data();
  return S_OK;
}

DispatchCall::Slot* DispatchCall::NewSlot(VARIANT* target, VARTYPE type) {
  if (slotCount_ == kMaxSlots) return nullptr;
  Slot* slot = &slots_[slotCount_++];
  slot->target = target;
  slot->type = type;
  return slot;
}

HRESULT DispatchCall::LongRef(UINT position, LONG*& value) {
  VARIANT* v = Find(position);
  if (v && v->vt == (VT_BYREF | VT_I4) && v->plVal) {
    value = v->plVal;
    return S_OK;
  }
  Slot* slot = v && v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal ? NewSlot(v->pvarVal, VT_I4) : nullptr;
  if (!slot) return Mismatch(position);
  value = &slot->longValue;
  return S_OK;
}

HRESULT DispatchCall::FloatRef(UINT position, float*& value) {
  VARIANT* v = Find(position);
  if (v && v->vt == (VT_BYREF | VT_R4) && v->pfltVal) {
    value = v->pfltVal;
    return S_OK;
  }
  VARIANT* target = v && v->vt == (VT_BYREF | VT_VARIANT) ? v->pvarVal : nullptr;
  float in = 0;
  if (!target || target->vt != VT_EMPTY) {  // an [in, out] value comes in as a number
    if (HRESULT hr = Float(position, in); FAILED(hr)) return hr;
  }
  Slot* slot = NewSlot(target, VT_R4);
  if (!slot) return Mismatch(position);
  slot->floatValue = in;
  value = &slot->floatValue;
  return S_OK;
}

void DispatchCall::WriteBack() {
  for (UINT k = 0; k < slotCount_; ++k) {
    Slot& slot = slots_[k];
    if (!slot.target) continue;
    VariantClear(slot.target);
    slot.target->vt = slot.type;
    if (slot.type == VT_I4) slot.target->lVal = slot.longValue;
    else slot.target->fltVal = slot.floatValue;
    slot.target = nullptr;
  }
}

HRESULT DispatchCall::PutLong(LONG& value) {
  for (UINT k = 0; k < params_->cNamedArgs; ++k)
    if (params_->rgdispidNamedArgs[k] == DISPID_PROPERTYPUT) {
      LONGLONG n = 0;
      VARIANT* v = Deref(&params_->rgvarg[k]);
      if (!v || !IntegerOf(*v, n)) return Mismatch(params_->cArgs - 1 - k);
      value = static_cast<LONG>(n);
      return S_OK;
    }
  return DISP_E_PARAMNOTOPTIONAL;
}

void DispatchCall::ReturnLong(LONG value) {
  if (!result_) return;
  VariantInit(result_);
  result_->vt = VT_I4;
  result_->lVal = value;
}

void DispatchCall::ReturnBool(VARIANT_BOOL value) {
  if (!result_) return;
  VariantInit(result_);
  result_->vt = VT_BOOL;
  result_->boolVal = value;
}

void DispatchCall::ReturnFloat(float value) {
  if (!result_) return;
  VariantInit(result_);
  result_->vt = VT_R4;
  result_->fltVal = value;
}

void DispatchCall::ReturnLongLong(LONGLONG value) {
  if (!result_) return;
  VariantInit(result_);
  result_->vt = VT_I8;
  result_->llVal = value;
}

}  // namespace kestrelon
