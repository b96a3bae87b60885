#include "core/posix_trash.h"

#include <gio/gio.h>

#include "core/shown_name.h"

namespace pellamar::posix {

// GLib's GIO keeps the trash as freedesktop.org sets it down, with
// the .trashinfo that a file manager needs to put a file back.
Status MoveToTrash(const std::string& path) {
  GFile* file = g_file_new_for_path(path.c_str());
  GError* error = nullptr;
  const bool trashed = g_file_trash(file, nullptr, &error) != FALSE;
  g_object_unref(file);
  if (trashed) return Status::Ok();
  // GIO's words name the path, which may hold any character: they are
  // shown as a name is, and the commonest failure gets words of its own.
  std::string reason = "the trash refused it";
  if (error != nullptr && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED)) {
    reason = "its file system has no trash for it";
  } else if (error != nullptr && error->message != nullptr && error->message[0] != '\0') {
    reason = ShownName(error->message);
    if (reason[0] >= 'A' && reason[0] <= 'Z') reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
  }
  if (error != nullptr) g_error_free(error);
  return Status::Error(Status::Kind::kNotTrashed, "cannot move to the trash " + path, reason);
}

}  // namespace pellamar::posix
