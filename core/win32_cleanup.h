// The temporary file that a console's Ctrl-C, Ctrl-Break or close must
// remove: the one of the replace under way.
#pragma once

#include <string>

namespace pellamar::windows {

// Names `path` as the file to remove, before it is made.
void ArmCleanup(const std::wstring& path);

// Takes the path back from the handler; false once the handler has it.
bool DisarmCleanup();

}  // namespace pellamar::windows
