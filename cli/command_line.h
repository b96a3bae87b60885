// What pellamar-cli is asked to do, read from its arguments, and the texts it
// prints about its own use.
#pragma once

#include <iosfwd>
#include <string>

#include "core/batch_run.h"

namespace pellamar::cli {

inline constexpr char kProgramName[] = "pellamar-cli";

// Exit statuses.
inline constexpr int kExitConverted = 0;     // every card converted, or there were none
inline constexpr int kExitNotConverted = 1;  // a card not converted, or the folder failed
inline constexpr int kExitUsage = 2;         // the arguments make no sense
inline constexpr int kExitReportLost = 3;    // the final report could not be written
inline constexpr int kExitOtherSizes = 4;    // as kExitConverted, but a card is of another size

struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kUsageError };
  // What a run does with the folder: convert it, or only look at it.
  enum class Mode { kConvert, kDryRun, kVerify };
  Action action = Action::kRun;
  Mode mode = Mode::kConvert;
  // The one PATH argument; empty when none was given.
  std::string path;
  bool verbose = false;
  // For kUsageError: what was wrong, as the user reads it.
  std::string problem;
};

// Reads the arguments after the program name. Options may come before or
// after PATH; "--" ends them, so a PATH may start with "-". "--help" and
// "--version" win over anything after them; "--dry-run" and "--verify"
// exclude each other. No PATH is not an error here: it
// is the empty source text, which the run itself turns away.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// What an existing path names, following links. Defined with the rest of
// what the program needs of its platform.
enum class PathKind { kFolder, kFile, kNothing };
PathKind KindOf(const std::string& path);

// The source text the run reads for `path`, on a file system whose folders
// are separated by `separator`: a folder gets the separator appended when it
// lacks one, so that it stands for the folder itself; a bare file name
// ("slot1.mcd") stands for a card of the current folder; any other path is
// taken as it is, and the run cuts it after its last separator. Where that
// is "\\", "/" is one too, and a bare drive ("D:") is that drive's current
// folder.
std::string SourceTextFor(std::string path, PathKind kind, char separator);

// The exit status for a finished run, dry run or verify: kExitUsage for one
// that stopped at an empty source text, kExitReportLost when its report
// could not be written, whatever it found.
int ExitStatusFor(const BatchReport& report, bool report_written);

void PrintHelp(std::ostream& out);
void PrintVersion(std::ostream& out);
// "pellamar-cli: <problem>", then the short usage and a pointer to --help.
void PrintUsageError(std::ostream& err, const std::string& problem);

}  // namespace pellamar::cli
