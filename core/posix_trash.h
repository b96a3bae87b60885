// The desktop's trash on Linux and other freedesktop.org systems, as file
// managers keep it and restore from it.
#pragma once

#include <string>

#include "core/status.h"

namespace pellamar::posix {

// Moves the file at `path` to the trash: the home trash for a file on the
// home's file system, the top-directory trash (".Trash-<uid>") for one on
// another. Kind::kNotTrashed, with the reason, when no trash can keep it; the
// file then stays where it is.
Status MoveToTrash(const std::string& path);

}  // namespace pellamar::posix
