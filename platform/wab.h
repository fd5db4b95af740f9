// The address book interfaces as the plug-in calls them: WABOpen, IAddrBook, IWABObject,
// IMAPIContainer, IMAPITable and the property structures they take. Every method is
// declared in its published place in the table, so the system's address book library
// and the project's stand-in can both be called through these declarations; the
// parameters that no caller here uses are declared as untyped pointers.
#pragma once

#include "platform/com.h"

#include <cstdint>

#ifdef _WIN32
#define WAB_CALL STDMETHODCALLTYPE
typedef HWND WabWindow;
#else
#define WAB_CALL
typedef void* WabWindow;
#endif

typedef struct WabEntryId {
  unsigned char abFlags[4];
  unsigned char ab[1];
} ENTRYID, *LPENTRYID;

typedef struct SPropValue SPropValue, *LPSPropValue;

union WabPropValueUnion {
  int16_t i;
  LONG l;
  ULONG ul;
  float flt;
  double dbl;
  uint16_t b;
  LONGLONG li;
  LPSTR lpszA;
  LPVOID lpv;
  SCODE err;
  LONG x;
};

struct SPropValue {
  ULONG ulPropTag;
  ULONG dwAlignPad;
  WabPropValueUnion Value;
};

// One row of a table as QueryRows gives it; the caller frees each row's properties and
// then the row set through IWABObject::FreeBuffer.
typedef struct SRow {
  ULONG ulAdrEntryPad;
  ULONG cValues;
  LPSPropValue lpProps;
} *LPSRow;

typedef struct SRowSet {
  ULONG cRows;
  SRow aRow[1];
} *LPSRowSet;

typedef struct SPropTagArray {
  ULONG cValues;
  ULONG aulPropTag[1];
} *LPSPropTagArray;

typedef struct SRestriction SRestriction, *LPSRestriction;

struct SContentRestriction {
  ULONG ulFuzzyLevel;
  ULONG ulPropTag;
  LPSPropValue lpProp;
};

struct SPropertyRestriction {
  ULONG relop;
  ULONG ulPropTag;
  LPSPropValue lpProp;
};

struct SAndRestriction {
  ULONG cRes;
  LPSRestriction lpRes;
};

struct SCommentRestriction {
  ULONG cValues;
  LPSRestriction lpRes;
  LPSPropValue lpProp;
};

struct SRestriction {
  ULONG rt;
  union {
    SAndRestriction resAnd;
    SContentRestriction resContent;
    SPropertyRestriction resProperty;
    SCommentRestriction resComment;
  } res;
};

typedef ULONG BOOKMARK;

typedef struct WabParam {
  ULONG cbSize;
  WabWindow hwnd;
  LPSTR szFileName;
  ULONG ulFlags;
  GUID guidPSExt;
} WAB_PARAM, *LPWAB_PARAM;

constexpr ULONG PR_EMAIL_ADDRESS = 0x3003001E;
constexpr ULONG RES_CONTENT = 0x00000003;
constexpr ULONG FL_FULLSTRING = 0x00000000;
constexpr ULONG FL_SUBSTRING = 0x00000001;
constexpr ULONG FL_PREFIX = 0x00000002;
constexpr ULONG FL_IGNORECASE = 0x00010000;
constexpr BOOKMARK BOOKMARK_BEGINNING = 0;
constexpr BOOKMARK BOOKMARK_CURRENT = 1;
constexpr BOOKMARK BOOKMARK_END = 2;
constexpr ULONG MAPI_ABCONT = 0x00000004;
constexpr ULONG MAPI_MAILUSER = 0x00000006;
constexpr HRESULT MAPI_E_CALL_FAILED = static_cast<HRESULT>(0x80004005);
constexpr HRESULT MAPI_E_NO_SUPPORT = static_cast<HRESULT>(0x80040102);
constexpr HRESULT MAPI_E_NOT_FOUND = static_cast<HRESULT>(0x8004010F);
constexpr HRESULT MAPI_E_TOO_COMPLEX = static_cast<HRESULT>(0x80040117);
constexpr HRESULT MAPI_E_INVALID_PARAMETER = static_cast<HRESULT>(0x80070057);
constexpr HRESULT MAPI_E_NOT_ENOUGH_MEMORY = static_cast<HRESULT>(0x8007000E);

// IMAPIProp's methods, shared by the address book and its containers.
struct IMAPIProp : IUnknown {
  virtual HRESULT WAB_CALL GetLastError(HRESULT hr, ULONG flags, void** error) = 0;
  virtual HRESULT WAB_CALL SaveChanges(ULONG flags) = 0;
  virtual HRESULT WAB_CALL GetProps(void* tags, ULONG flags, ULONG* count, void** values) = 0;
  virtual HRESULT WAB_CALL GetPropList(ULONG flags, void** tags) = 0;
  virtual HRESULT WAB_CALL OpenProperty(ULONG tag, const IID* iid, ULONG options, ULONG flags, IUnknown** unk) = 0;
  virtual HRESULT WAB_CALL SetProps(ULONG count, void* values, void** problems) = 0;
  virtual HRESULT WAB_CALL DeleteProps(void* tags, void** problems) = 0;
  virtual HRESULT WAB_CALL CopyTo(ULONG n, const IID* exclude, void* tags, ULONG_PTR ui, void* progress,
                                  const IID* iid, void* dest, ULONG flags, void** problems) = 0;
  virtual HRESULT WAB_CALL CopyProps(void* tags, ULONG_PTR ui, void* progress, const IID* iid, void* dest,
                                     ULONG flags, void** problems) = 0;
  virtual HRESULT WAB_CALL GetNamesFromIDs(void** tags, GUID* guid, ULONG flags, ULONG* count, void** names) = 0;
  virtual HRESULT WAB_CALL GetIDsFromNames(ULONG count, void** names, ULONG flags, void** tags) = 0;
};

struct IMAPITable : IUnknown {
  virtual HRESULT WAB_CALL GetLastError(HRESULT hr, ULONG flags, void** error) = 0;
  virtual HRESULT WAB_CALL Advise(ULONG mask, void* sink, ULONG* connection) = 0;
  virtual HRESULT WAB_CALL Unadvise(ULONG connection) = 0;
  virtual HRESULT WAB_CALL GetStatus(ULONG* status, ULONG* type) = 0;
  virtual HRESULT WAB_CALL SetColumns(LPSPropTagArray columns, ULONG flags) = 0;
  virtual HRESULT WAB_CALL QueryColumns(ULONG flags, LPSPropTagArray* columns) = 0;
  virtual HRESULT WAB_CALL GetRowCount(ULONG flags, ULONG* count) = 0;
  virtual HRESULT WAB_CALL SeekRow(BOOKMARK origin, LONG rows, LONG* sought) = 0;
  virtual HRESULT WAB_CALL SeekRowApprox(ULONG numerator, ULONG denominator) = 0;
  virtual HRESULT WAB_CALL QueryPosition(ULONG* row, ULONG* numerator, ULONG* denominator) = 0;
  virtual HRESULT WAB_CALL FindRow(LPSRestriction restriction, BOOKMARK origin, ULONG flags) = 0;
  virtual HRESULT WAB_CALL Restrict(LPSRestriction restriction, ULONG flags) = 0;
  virtual HRESULT WAB_CALL CreateBookmark(BOOKMARK* position) = 0;
  virtual HRESULT WAB_CALL FreeBookmark(BOOKMARK position) = 0;
  virtual HRESULT WAB_CALL SortTable(void* criteria, ULONG flags) = 0;
  virtual HRESULT WAB_CALL QuerySortOrder(void** criteria) = 0;
  virtual HRESULT WAB_CALL QueryRows(LONG count, ULONG flags, LPSRowSet* rows) = 0;
  virtual HRESULT WAB_CALL Abort() = 0;
  virtual HRESULT WAB_CALL ExpandRow(ULONG cb, void* instanceKey, ULONG count, ULONG flags, void** rows,
                                     ULONG* more) = 0;
  virtual HRESULT WAB_CALL CollapseRow(ULONG cb, void* instanceKey, ULONG flags, ULONG* count) = 0;
  virtual HRESULT WAB_CALL WaitForCompletion(ULONG flags, ULONG timeout, ULONG* status) = 0;
  virtual HRESULT WAB_CALL GetCollapseState(ULONG flags, ULONG cb, void* instanceKey, ULONG* cbState,
                                            void** state) = 0;
  virtual HRESULT WAB_CALL SetCollapseState(ULONG flags, ULONG cbState, void* state, BOOKMARK* location) = 0;
};

struct IMAPIContainer : IMAPIProp {
  virtual HRESULT WAB_CALL GetContentsTable(ULONG flags, IMAPITable** table) = 0;
  virtual HRESULT WAB_CALL GetHierarchyTable(ULONG flags, IMAPITable** table) = 0;
  virtual HRESULT WAB_CALL OpenEntry(ULONG cbEntryId, LPENTRYID entryId, const IID* iid, ULONG flags,
                                     ULONG* objectType, IUnknown** unk) = 0;
  virtual HRESULT WAB_CALL SetSearchCriteria(LPSRestriction restriction, void* containers, ULONG flags) = 0;
  virtual HRESULT WAB_CALL GetSearchCriteria(ULONG flags, LPSRestriction* restriction, void** containers,
                                             ULONG* state) = 0;
};

struct IAddrBook : IMAPIProp {
  virtual HRESULT WAB_CALL OpenEntry(ULONG cbEntryId, LPENTRYID entryId, const IID* iid, ULONG flags,
                                     ULONG* objectType, IUnknown** unk) = 0;
  virtual HRESULT WAB_CALL CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG flags,
                                           ULONG* result) = 0;
  virtual HRESULT WAB_CALL Advise(ULONG cbEntryId, LPENTRYID entryId, ULONG mask, void* sink,
                                  ULONG* connection) = 0;
  virtual HRESULT WAB_CALL Unadvise(ULONG connection) = 0;
  virtual HRESULT WAB_CALL CreateOneOff(LPSTR name, LPSTR type, LPSTR address, ULONG flags, ULONG* cbEntryId,
                                        LPENTRYID* entryId) = 0;
  virtual HRESULT WAB_CALL NewEntry(ULONG ui, ULONG flags, ULONG cbContainer, LPENTRYID container,
                                    ULONG cbTemplate, LPENTRYID templateId, ULONG* cbNew, LPENTRYID* newId) = 0;
  virtual HRESULT WAB_CALL ResolveName(ULONG_PTR ui, ULONG flags, LPSTR title, void* list) = 0;
  virtual HRESULT WAB_CALL Address(ULONG* ui, void* parameters, void** list) = 0;
  virtual HRESULT WAB_CALL Details(ULONG* ui, void* dismiss, void* dismissContext, ULONG cbEntryId,
                                   LPENTRYID entryId, void* button, void* buttonContext, LPSTR buttonText,
                                   ULONG flags) = 0;
  virtual HRESULT WAB_CALL RecipOptions(ULONG ui, ULONG flags, void* recipient) = 0;
  virtual HRESULT WAB_CALL QueryDefaultRecipOpt(LPSTR type, ULONG flags, ULONG* count, void** options) = 0;
  virtual HRESULT WAB_CALL GetPAB(ULONG* cbEntryId, LPENTRYID* entryId) = 0;
  virtual HRESULT WAB_CALL SetPAB(ULONG cbEntryId, LPENTRYID entryId) = 0;
  virtual HRESULT WAB_CALL GetDefaultDir(ULONG* cbEntryId, LPENTRYID* entryId) = 0;
  virtual HRESULT WAB_CALL SetDefaultDir(ULONG cbEntryId, LPENTRYID entryId) = 0;
  virtual HRESULT WAB_CALL GetSearchPath(ULONG flags, void** path) = 0;
  virtual HRESULT WAB_CALL SetSearchPath(ULONG flags, void* path) = 0;
  virtual HRESULT WAB_CALL PrepareRecips(ULONG flags, LPSPropTagArray tags, void* recipients) = 0;
};

struct IWABObject : IUnknown {
  virtual HRESULT WAB_CALL GetLastError(HRESULT hr, ULONG flags, void** error) = 0;
  virtual HRESULT WAB_CALL AllocateBuffer(ULONG size, LPVOID* buffer) = 0;
  virtual HRESULT WAB_CALL AllocateMore(ULONG size, LPVOID object, LPVOID* buffer) = 0;
  virtual HRESULT WAB_CALL FreeBuffer(LPVOID buffer) = 0;
  virtual HRESULT WAB_CALL Backup(LPSTR file) = 0;
  virtual HRESULT WAB_CALL Import(LPSTR parameters) = 0;
  virtual HRESULT WAB_CALL Find(IAddrBook* book, WabWindow window) = 0;
  virtual HRESULT WAB_CALL VCardDisplay(IAddrBook* book, WabWindow window, LPSTR file) = 0;
  virtual HRESULT WAB_CALL LDAPUrl(IAddrBook* book, WabWindow window, ULONG flags, LPSTR url, void** user) = 0;
  virtual HRESULT WAB_CALL VCardCreate(IAddrBook* book, ULONG flags, LPSTR card, void* user) = 0;
  virtual HRESULT WAB_CALL VCardRetrieve(IAddrBook* book, ULONG flags, LPSTR card, void** user) = 0;
  virtual HRESULT WAB_CALL GetMe(IAddrBook* book, ULONG flags, DWORD* action, void* entryId, ULONG param) = 0;
  virtual HRESULT WAB_CALL SetMe(IAddrBook* book, ULONG flags, void* entryId, ULONG param) = 0;
};

// WABOpen (address book out, object out, parameters, reserved).
typedef HRESULT(WAB_CALL WABOPEN)(IAddrBook** book, IWABObject** object, LPWAB_PARAM parameters, DWORD reserved);
typedef WABOPEN* LPWABOPEN;
