// The temporary file that a signal ending the program must remove: the one
// of the replace under way. One per process; a signal handler can reach no
// other.
#pragma once

#include <string>

namespace pellamar::posix {

// Names the file `name` of the folder open at `folder_fd` as the one to
// remove. Signals arrive as system calls return, so this comes before the
// file is made.
void ArmSignalCleanup(int folder_fd, const std::string& name);

// No file is to be removed any more: it was put in place, or removed.
void DisarmSignalCleanup();

}  // namespace pellamar::posix
