#include "ui/win32/accessibility.h"

// After windows.h, which they need.
#include <commctrl.h>
#include <initguid.h>
#include <oleacc.h>

#include "ui/win32/system_library.h"

namespace pellamar::win32 {
namespace {

// UI Automation's live-setting property and its "polite" value, which
// Windows' own headers give only to UI Automation programs.
DEFINE_GUID(kLiveSettingProperty, 0xc12bcd8e, 0x2a8e, 0x4950, 0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d,
            0x58, 0xeb);
constexpr LONG kPolite = 1;

constexpr UINT_PTR kSubclassId = 1;

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// The system's accessible object for a control, with the answers of an
// AccessibleLook in place of its own. Everything else is the system's.
class LookedAccessible final : public IAccessible {
 public:
  LookedAccessible(IAccessible* system, HWND control, const AccessibleLook& look)
      : system_(system), control_(control), look_(look) {}

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    if (id != IID_IUnknown && id != IID_IDispatch && id != IID_IAccessible) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IAccessible*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return system_->GetTypeInfoCount(count);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return system_->GetTypeInfo(index, locale, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID id, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    return system_->GetIDsOfNames(id, names, count, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID id, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argument) override {
    return system_->Invoke(member, id, locale, flags, params, result, exception, argument);
  }

  // IAccessible: the answers a look changes.
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!IsSelf(child) || look_.name.empty()) return system_->get_accName(child, name);
    *name = SysAllocString(look_.name.c_str());
    return *name != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (!IsSelf(child) || look_.role == 0) return system_->get_accRole(child, role);
    role->vt = VT_I4;
    role->lVal = look_.role;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    const HRESULT result = system_->get_accState(child, state);
    if (IsSelf(child) && result == S_OK && state->vt == VT_I4) state->lVal |= look_.added_state;
    return result;
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    if (!IsSelf(child) || look_.default_action.empty()) {
      return system_->get_accDefaultAction(child, action);
    }
    *action = SysAllocString(look_.default_action.c_str());
    return *action != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    if (!IsSelf(child) || look_.default_action.empty()) return system_->accDoDefaultAction(child);
    const auto id = static_cast<WORD>(GetDlgCtrlID(control_));
    PostMessageW(GetParent(control_), WM_COMMAND, MAKEWPARAM(id, look_.action_command),
                 reinterpret_cast<LPARAM>(control_));
    return S_OK;
  }

  // IAccessible: the system's answers.
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return system_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    return system_->get_accChildCount(count);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
    return system_->get_accChild(child, object);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return system_->get_accValue(child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
    return system_->get_accDescription(child, description);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
    return system_->get_accHelp(child, help);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    return system_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return system_->get_accKeyboardShortcut(child, shortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
    return system_->get_accFocus(child);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
    return system_->get_accSelection(children);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG how, VARIANT child) override {
    return system_->accSelect(how, child);
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override {
    return system_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    return system_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG left, LONG top, VARIANT* child) override {
    return system_->accHitTest(left, top, child);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
    return system_->put_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return system_->put_accValue(child, value);
  }

 private:
  ~LookedAccessible() { system_->Release(); }

  LONG references_ = 1;
  IAccessible* system_;
  HWND control_;
  AccessibleLook look_;
};

LRESULT CALLBACK LookProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR /*id*/,
                          DWORD_PTR data) {
  const auto* look = reinterpret_cast<const AccessibleLook*>(data);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(control, &LookProc, kSubclassId);
    delete look;
    return DefSubclassProc(control, message, wparam, lparam);
  }
  if (message != WM_GETOBJECT || static_cast<LONG>(lparam) != OBJID_CLIENT) {
    return DefSubclassProc(control, message, wparam, lparam);
  }
  // oleacc.dll is none of Windows' known DLLs: the system's own is taken.
  static const auto create_std_accessible_object =
      SystemFunction<decltype(&CreateStdAccessibleObject)>(L"oleacc.dll",
                                                           "CreateStdAccessibleObject");
  static const auto lresult_from_object =
      SystemFunction<decltype(&LresultFromObject)>(L"oleacc.dll", "LresultFromObject");
  IAccessible* system = nullptr;
  if (create_std_accessible_object == nullptr || lresult_from_object == nullptr ||
      FAILED(create_std_accessible_object(control, OBJID_CLIENT, IID_IAccessible,
                                          reinterpret_cast<void**>(&system)))) {
    return DefSubclassProc(control, message, wparam, lparam);
  }
  auto* looked = new LookedAccessible(system, control, *look);
  const LRESULT result = lresult_from_object(IID_IAccessible, wparam, looked);
  looked->Release();
  return result;
}

}  // namespace

bool PresentAccessible(HWND control, const AccessibleLook& look) {
  auto* kept = new AccessibleLook(look);
  if (SetWindowSubclass(control, &LookProc, kSubclassId, reinterpret_cast<DWORD_PTR>(kept))) {
    return true;
  }
  delete kept;
  return false;
}

void MakeLiveRegion(HWND control) {
  IAccPropServices* services = nullptr;
  if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IAccPropServices, reinterpret_cast<void**>(&services)))) {
    return;
  }
  VARIANT polite;
  polite.vt = VT_I4;
  polite.lVal = kPolite;
  services->SetHwndProp(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                        kLiveSettingProperty, polite);
  services->Release();
}

void AnnounceChange(HWND control) {
  NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, control, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace pellamar::win32
