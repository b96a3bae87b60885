// The window's pictures: GIF files kept in the program's resources,
// decoded at run time with the Windows Imaging Component. The GIF's
// transparent colour becomes alpha, so the surface behind shows through.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

namespace pellamar::win32 {

// The GIF resource `resource_id` (type RCDATA) of `instance`, scaled to
// `width` x `height` pixels, as an image list of one 32-bit image with
// alpha. Needs COM on the calling thread. Returns nullptr when the resource
// is missing or cannot be decoded; the caller destroys the list.
HIMAGELIST LoadPicture(HINSTANCE instance, int resource_id, int width, int height);

}  // namespace pellamar::win32
