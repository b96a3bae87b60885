// The main window's open and save dialogs: one request per call, filled
// from the caller's arguments and shown through DesktopCalls, and the path
// the user confirmed, or "".
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>
#include <string>

#include "ui/qt/desktop_calls.h"

namespace pellamar::ui {

// The Qt name filters for a filter string ("description|pattern|..."), in
// its order: "description (patterns)", the description as written, the
// patterns separated by spaces and made to match names in any case, "*.*"
// standing for every file. The dialogs show the description alone.
QStringList QtNameFilters(const std::string& filter);

// The folder a dialog starts in for `init_dir`. A path with a drive letter
// stands for the same path under the user's home folder, so "c:\" is the
// home folder; any other path is taken as it is.
QString LocalFolderFor(const std::string& init_dir);

// The local path `url` names, in the bytes the file system spells it with
// (a name that is not UTF-8 keeps its own), or nothing when `url` is not a
// file of this machine.
std::optional<std::string> LocalPathOf(const QUrl& url);

// Asks the user, through `desktop`, for an existing file with a dialog modal to `Form1`, titled
// `Title`, showing `InitDir` and the file types of `Filter`, the first in
// force. `Filter` is converted in place as ConvertFilterString does.
// Returns the chosen file's full path, byte for byte as the file system
// names it, or "" when the user cancels.
std::string OpenDialog(DesktopCalls& desktop, QWidget& Form1, std::string& Filter,
                       const std::string& Title, const std::string& InitDir);

// The same for a file to write, proposing `DefaultFilename` (its first 254
// characters). The dialog asks before it accepts a file that exists (to
// replace it) and one that does not (to create it), and stays open on No.
std::string SaveDialog(DesktopCalls& desktop, QWidget& Form1, std::string& Filter,
                       const std::string& Title, const std::string& InitDir,
                       const std::string& DefaultFilename);

}  // namespace pellamar::ui
