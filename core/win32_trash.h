// Moving a replaced file to the Recycle Bin on Windows, and never deleting
// it for good: the shell's IFileOperation, told to refuse any delete that
// would not recycle; where it has none (Wine's does nothing), the older
// SHFileOperationW, watched through a second name of the file that keeps
// its bytes until the Recycle Bin is seen to hold it. Windows builds only.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shobjidl.h>

#include <optional>
#include <string>

#include "core/status.h"
#include "core/win32_replace_calls.h"

namespace pellamar::windows {

// Told of each step of an IFileOperation, it lets a delete go ahead only
// where the shell will recycle the item: the flags that the shell gives
// before each delete lack TSF_DELETE_RECYCLE_IF_POSSIBLE where the item
// would be deleted for good (a drive without a Recycle Bin, a file too
// large for it), and an error then cancels the delete. It lives on the
// stack for the whole operation, so it counts no references.
class RecycleOnly final : public IFileOperationProgressSink {
 public:
  bool refused() const { return refused_; }
  // What the delete gave, once it was made.
  std::optional<HRESULT> result() const { return result_; }

  HRESULT STDMETHODCALLTYPE PreDeleteItem(DWORD flags, IShellItem* item) override;
  HRESULT STDMETHODCALLTYPE PostDeleteItem(DWORD flags, IShellItem* item, HRESULT result,
                                           IShellItem* recycled) override;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE StartOperations() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE FinishOperations(HRESULT) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE PreRenameItem(DWORD, IShellItem*, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE PostRenameItem(DWORD, IShellItem*, LPCWSTR, HRESULT,
                                           IShellItem*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PreMoveItem(DWORD, IShellItem*, IShellItem*, LPCWSTR) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PostMoveItem(DWORD, IShellItem*, IShellItem*, LPCWSTR, HRESULT,
                                         IShellItem*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PreCopyItem(DWORD, IShellItem*, IShellItem*, LPCWSTR) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PostCopyItem(DWORD, IShellItem*, IShellItem*, LPCWSTR, HRESULT,
                                         IShellItem*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PreNewItem(DWORD, IShellItem*, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE PostNewItem(DWORD, IShellItem*, LPCWSTR, LPCWSTR, DWORD, HRESULT,
                                        IShellItem*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UpdateProgress(UINT, UINT) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ResetTimer() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE PauseTimer() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ResumeTimer() override { return S_OK; }

 private:
  bool refused_ = false;
  std::optional<HRESULT> result_;
};

// ReplaceCalls::Recycle and ReplaceCalls::ShellDelete as the system makes
// them.
DWORD RecycleWithFileOperation(const std::wstring& path);
DWORD DeleteWithShell(const std::wstring& path);

// Moves the file at `path` (`shown` as the run names it) to the Recycle Bin
// through `calls`, trying again for a moment while another program holds
// it. Where IFileOperation is missing, the second name `keeper` (in the same
// folder) keeps the file while SHFileOperationW works, and puts it back
// where the shell deleted it for good. Kind::kNotTrashed, with the reason,
// where no Recycle Bin kept it; the file then stands where it stood.
Status MoveToRecycleBin(ReplaceCalls& calls, const std::wstring& path, const std::string& shown,
                        const std::wstring& keeper);

}  // namespace pellamar::windows
