// CLog: appends time-stamped lines to a text file that other programs may read while it
// is open, but no second writer may open. It is the file's one writer, so it is where
// the texts are kept to one line each: control characters are written as spaces (a line
// end that closes a LogInfo text excepted).
#pragma once

#include "Lexisift/server/com_object.h"
#include "platform/file.h"
#include "shared/log_interface.h"

#include <cstdint>
#include <ctime>
#include <string>

namespace kestrelon {

class CLog : public ILog, public IProvideClassInfo, public ComObject {
 public:
  explicit CLog(IUnknown* outer);
  ~CLog() override;

  KESTRELON_DELEGATING_UNKNOWN

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) override;

  // IProvideClassInfo
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;

  // ILog
  HRESULT STDMETHODCALLTYPE LogError(char* Function, char* Error) override;
  HRESULT STDMETHODCALLTYPE LogInfo(char* Info) override;
  HRESULT STDMETHODCALLTYPE Init(BSTR FilePath) override;

  // "MM/DD/YY HH:MM:SS " for the given local time.
  static std::string TimeStamp(const std::tm& local);

  // Writes `text` as an error line of `function` into the open logs of this server whose
  // file lies in `folder`, so that the engine can tell what happened to a file there
  // (the user's event log sits beside the token store). False when there is none.
  static bool LogErrorInFolder(const std::string& folder, const char* function, const std::string& text);

 private:
  void* FindInterface(REFIID riid) override;
  void Append(const std::string& text);

  platform::File file_;
  uint64_t end_ = 0;
  std::string folder_;  // of the open file
};

}  // namespace kestrelon
