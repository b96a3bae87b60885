#include "core/win32_trash.h"

#include <shellapi.h>
#include <sherrors.h>

#include "core/wide_text.h"
#include "core/win32_entry.h"
#include "core/win32_support.h"

namespace pellamar::windows {
namespace {

// Releases a COM reference on every path out of a scope.
template <typename Interface>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (object_ != nullptr) object_->Release();
  }
  Interface* operator->() const { return object_; }
  Interface* get() const { return object_; }
  void** Out() { return reinterpret_cast<void**>(&object_); }

 private:
  Interface* object_ = nullptr;
};

// The code that ReplaceCalls::Recycle gives for the shell's `result`.
DWORD CodeOf(HRESULT result) {
  switch (result) {
    case E_NOTIMPL:
    case E_NOINTERFACE:
    case REGDB_E_CLASSNOTREG:
      return ReplaceCalls::kNoFileOperation;
    case COPYENGINE_E_RECYCLE_UNKNOWN_ERROR:
    case COPYENGINE_E_RECYCLE_FORCE_NUKE:
    case COPYENGINE_E_RECYCLE_SIZE_TOO_BIG:
    case COPYENGINE_E_RECYCLE_PATH_TOO_LONG:
    case COPYENGINE_E_RECYCLE_BIN_NOT_FOUND:
      return ReplaceCalls::kNoRecycleBin;
    case COPYENGINE_E_SHARING_VIOLATION_SRC:
      return ERROR_SHARING_VIOLATION;
    case COPYENGINE_E_ACCESS_DENIED_SRC:
      return ERROR_ACCESS_DENIED;
    default:
      break;
  }
  if (HRESULT_FACILITY(result) == FACILITY_WIN32) return HRESULT_CODE(result);
  return static_cast<DWORD>(result);
}

// RecycleWithFileOperation on a thread whose COM is ready.
DWORD RecycleInApartment(const std::wstring& path) {
  ComRef<IFileOperation> operation;
  HRESULT result = CoCreateInstance(CLSID_FileOperation, nullptr, CLSCTX_ALL, IID_IFileOperation,
                                    operation.Out());
  if (FAILED(result)) return CodeOf(result);
  // FOFX_RECYCLEONDELETE is Windows 8's; before it, FOF_ALLOWUNDO recycles.
  constexpr DWORD kSilent = FOF_NO_UI | FOF_ALLOWUNDO | FOFX_EARLYFAILURE;
  result = operation->SetOperationFlags(kSilent | FOFX_RECYCLEONDELETE);
  if (result == E_INVALIDARG) result = operation->SetOperationFlags(kSilent);
  if (FAILED(result)) return CodeOf(result);
  ComRef<IShellItem> item;
  result =
      SHCreateItemFromParsingName(ShellPath(path).c_str(), nullptr, IID_IShellItem, item.Out());
  if (FAILED(result)) return CodeOf(result);
  RecycleOnly sink;
  result = operation->DeleteItem(item.get(), &sink);
  if (SUCCEEDED(result)) result = operation->PerformOperations();
  if (sink.refused()) return ReplaceCalls::kNoRecycleBin;
  if (sink.result() && FAILED(*sink.result())) return CodeOf(*sink.result());
  if (FAILED(result)) return CodeOf(result);
  BOOL aborted = FALSE;
  if (FAILED(operation->GetAnyOperationsAborted(&aborted)) || aborted || !sink.result()) {
    return ERROR_CANCELLED;
  }
  return 0;
}

// Whether the file at `path` could be recycled now, found by opening it for
// deletion: not while another program holds it without letting it go.
DWORD CheckRemovable(const std::wstring& path) {
  const Handle file(CreateFileW(path.c_str(), DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return file.valid() ? 0 : GetLastError();
}

// Makes `keeper` a second name of the file `file` at `path`, or finds that
// it is one already (left by a try before); how many names the file has
// then, or 0 where it cannot have one.
std::uint32_t Keep(const std::wstring& path, const std::wstring& keeper,
                   const std::optional<FileIdentity>& file) {
  if (!file) return 0;
  if (!CreateHardLinkW(keeper.c_str(), path.c_str(), nullptr) &&
      GetLastError() != ERROR_ALREADY_EXISTS) {
    return 0;
  }
  const std::optional<Entry> kept = OpenEntry(keeper);
  return kept && SameFile(kept->identity, file) ? kept->links : 0;
}

// One try through SHFileOperationW, watched through `keeper`, a second name
// of the file: 0 once the Recycle Bin holds the file (the second name then
// goes), kNoRecycleBin with `*why` where it did not keep it, else the
// Windows error, the file left where it stands.
DWORD RecycleThroughShell(ReplaceCalls& calls, const std::wstring& path, const std::wstring& keeper,
                          std::string* why) {
  if (const DWORD error = CheckRemovable(path); error != 0) return error;
  std::optional<Entry> before = OpenEntry(path);
  if (!before) return GetLastError();
  const std::optional<FileIdentity> file = before->identity;
  before.reset();
  const std::uint32_t links = Keep(path, keeper, file);
  if (links == 0) {
    *why = "the shell here could delete it for good, and no second name of it can guard it";
    return ReplaceCalls::kNoRecycleBin;
  }
  const DWORD shell = calls.ShellDelete(path);
  const std::optional<Entry> after = OpenEntry(path);
  const bool left = after && SameFile(after->identity, file);
  std::optional<Entry> kept = OpenEntry(keeper);
  // Recycled, the file keeps every name it had, there; deleted, it lost one.
  const bool recycled = !left && kept && SameFile(kept->identity, file) && kept->links >= links;
  kept.reset();
  if (left || recycled) {
    DeleteFileW(keeper.c_str());
    if (recycled) return 0;
    if (shell != 0) return shell;
    *why = "the Recycle Bin refused it";
    return ReplaceCalls::kNoRecycleBin;
  }
  if (MoveFileExW(keeper.c_str(), path.c_str(), 0)) {
    *why = "the Recycle Bin did not keep the file itself";
  } else {
    *why = "the Recycle Bin did not keep it, and it is kept as " +
           Narrow(keeper.substr(keeper.rfind(L'\\') + 1));
  }
  return ReplaceCalls::kNoRecycleBin;
}

// One try: IFileOperation, else the shell's older call.
DWORD RecycleOnce(ReplaceCalls& calls, const std::wstring& path, const std::wstring& keeper,
                  std::string* why) {
  const DWORD error = calls.Recycle(path);
  if (error == ReplaceCalls::kNoFileOperation) return RecycleThroughShell(calls, path, keeper, why);
  if (error == ReplaceCalls::kNoRecycleBin) *why = "Windows would have deleted it for good";
  return error;
}

}  // namespace

HRESULT RecycleOnly::PreDeleteItem(DWORD flags, IShellItem* /*item*/) {
  if ((flags & TSF_DELETE_RECYCLE_IF_POSSIBLE) != 0) return S_OK;
  refused_ = true;
  return HRESULT_FROM_WIN32(ERROR_CANCELLED);
}

HRESULT RecycleOnly::PostDeleteItem(DWORD /*flags*/, IShellItem* /*item*/, HRESULT result,
                                    IShellItem* /*recycled*/) {
  result_ = result;
  return S_OK;
}

HRESULT RecycleOnly::QueryInterface(REFIID id, void** object) {
  if (id == IID_IUnknown || id == IID_IFileOperationProgressSink) {
    *object = static_cast<IFileOperationProgressSink*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

DWORD RecycleWithFileOperation(const std::wstring& path) {
  // The shell wants an apartment-threaded caller; a thread that is already
  // in another apartment is used as it is.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const DWORD result = RecycleInApartment(path);
  if (SUCCEEDED(com)) CoUninitialize();
  return result;
}

DWORD DeleteWithShell(const std::wstring& path) {
  std::wstring from = ShellPath(path);
  from.push_back(L'\0');  // a list that ends in two NULs
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags = FOF_ALLOWUNDO | FOF_NO_UI;
  const int error = SHFileOperationW(&operation);
  if (error != 0) return static_cast<DWORD>(error);
  return operation.fAnyOperationsAborted ? ERROR_CANCELLED : 0;
}

Status MoveToRecycleBin(ReplaceCalls& calls, const std::wstring& path, const std::string& shown,
                        const std::wstring& keeper) {
  std::string why;
  DWORD error = RecycleOnce(calls, path, keeper, &why);
  for (const DWORD pause : kRetryPauses) {
    if (!IsBusy(error)) break;
    calls.Wait(pause);
    error = RecycleOnce(calls, path, keeper, &why);
  }
  if (error == 0) return Status::Ok();
  if (error == ReplaceCalls::kNoRecycleBin) {
    return Status::Error(Status::Kind::kNotTrashed, "cannot recycle " + shown, why);
  }
  return ErrorStatus("cannot recycle", shown, error);
}

}  // namespace pellamar::windows
