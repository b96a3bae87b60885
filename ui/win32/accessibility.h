// How the window's controls present themselves to screen readers where the
// system's own answer for their class does not say enough: a name, a role,
// a state, an action, a region whose changes are read out.
#pragma once

#include <windows.h>

#include <string>

namespace pellamar::win32 {

// What a control tells screen readers instead of the system's answer.
struct AccessibleLook {
  std::wstring name{};            // empty: the control's own
  LONG role = 0;                  // 0: the control's own (ROLE_SYSTEM_...)
  LONG added_state = 0;           // STATE_SYSTEM_... added to the control's own
  std::wstring default_action{};  // empty: the control's own
  // With a default action: the notification that doing it sends the parent
  // in a WM_COMMAND, as a click does (BN_CLICKED, STN_CLICKED).
  WORD action_command = 0;
};

// Makes `control` answer screen readers (WM_GETOBJECT) with the system's
// accessible object for it, changed as `look` says, for as long as it
// lives. The default action is posted, so it runs from the message loop.
// False when the control cannot be changed.
bool PresentAccessible(HWND control, const AccessibleLook& look);

// Makes `control` a polite live region: screen readers read its new text
// when it announces a change with AnnounceChange. Does nothing where the
// system cannot.
void MakeLiveRegion(HWND control);
void AnnounceChange(HWND control);

}  // namespace pellamar::win32
