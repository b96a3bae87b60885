// The dry run and the verify of pellamar-cli: the core's walk of the folder,
// each card's verdict a line on standard output.
#pragma once

#include <iosfwd>
#include <string>

#include "cli/command_line.h"
#include "core/file_system.h"

namespace pellamar::cli {

// Walks the folder that `source_text` names as `mode` says (a dry run or a
// verify) and puts on `out` a line per card (for a verify only the cards
// that fail, unless `verbose`), then, after a blank line when there was one,
// the summary. An empty `source_text` is a usage error, said on `err`.
// Returns the exit status.
int CheckFolder(FileSystem& fs, const std::string& source_text, CommandLine::Mode mode,
                bool verbose, std::ostream& out, std::ostream& err);

}  // namespace pellamar::cli
