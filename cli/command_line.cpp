#include "cli/command_line.h"

#include <algorithm>
#include <ostream>
#include <string_view>

namespace pellamar::cli {
namespace {

constexpr char kUsage[] = "Usage: pellamar-cli [--verbose] [--dry-run | --verify] [--] PATH\n";

constexpr char kHelp[] =
    "Converts every Bleem! memory card (*.mcd) of a folder into a Virtual Game\n"
    "Station memory card (.mem) beside it: the card's bytes behind a 64-byte header.\n"
    "A .mem that holds something else goes to the desktop's trash (the Recycle Bin\n"
    "on Windows) before its new bytes take its place; one that already holds them\n"
    "is left as it is. A card that is not of a memory card's size (131,072 bytes)\n"
    "is converted as it is, and named in the report.\n"
    "\n"
    "PATH is the folder of the cards, or any card in it: cards/slot1.mcd selects\n"
    "cards/, and slot1.mcd the current folder.\n"
    "\n"
    "Options:\n"
    "  --dry-run   convert nothing; say for each card what converting would do\n"
    "  --verify    convert nothing; check that each card's .mem is exactly the\n"
    "              header and the card, and name each card whose .mem is not\n"
    "  --verbose   when standard error is not a terminal, report each card there;\n"
    "              with --verify, also name the cards whose .mem is exact\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n"
    "  --          end of options\n"
    "\n"
    "Progress goes to standard error, the final report to standard output.\n"
    "\n"
    "A dry run or a verify reads the folder as a conversion would, in the same\n"
    "order, and writes nothing. On standard output it puts one line per card: a\n"
    "word, the card's name, a colon and what it found; then a summary. The words:\n"
    "  new               the .mem does not exist and would be created\n"
    "  same              the .mem already holds this conversion\n"
    "  replace           the .mem holds something else and would be replaced; the\n"
    "                    old one would go to the trash\n"
    "  replace-modified  the .mem holds something else and was modified after its\n"
    "                    card: converting would move those saves to the trash\n"
    "  skip              the card would not be converted, for the reason given\n"
    "  missing           (--verify) the .mem does not exist\n"
    "  length            (--verify) the .mem has another length\n"
    "  differs           (--verify) the .mem differs, at the offset given\n"
    "  unreadable        (--verify) the .mem could not be read\n"
    "  exact             (--verify --verbose) the .mem is exactly the conversion\n"
    "A card of another size than a memory card's has that said on its line, which\n"
    "a verify shows also without --verbose.\n"
    "A .mem that no card of the folder gives is not looked at.\n"
    "\n"
    "Exit status:\n"
    "  0  every card was converted (also when there were none); with --dry-run,\n"
    "     every card would be; with --verify, every card's .mem is exact\n"
    "  1  a card was not converted (with --dry-run: would not be; with --verify:\n"
    "     its .mem is not exact), the folder could not be read, or its listing\n"
    "     stopped early\n"
    "  2  the command line was wrong\n"
    "  3  the final report could not be written (standard output was closed or full)\n"
    "  4  as 0, but a card is not of a memory card's size, and readers of its .mem\n"
    "     may refuse it\n"
    "\n"
    "Examples:\n"
    "  pellamar-cli --dry-run cards/   before converting: what would be replaced\n"
    "  pellamar-cli cards/             convert\n"
    "  pellamar-cli --verify cards/    after: is every .mem whole and exact?\n";

CommandLine UsageError(std::string problem) {
  CommandLine line;
  line.action = CommandLine::Action::kUsageError;
  line.problem = std::move(problem);
  return line;
}

bool IsOption(std::string_view arg) { return arg.size() > 1 && arg.front() == '-'; }

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  bool has_path = false;
  bool options_ended = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!options_ended && IsOption(arg)) {
      if (arg == "--") {
        options_ended = true;
      } else if (arg == "--help" || arg == "-h") {
        line.action = CommandLine::Action::kHelp;
        return line;
      } else if (arg == "--version") {
        line.action = CommandLine::Action::kVersion;
        return line;
      } else if (arg == "--verbose") {
        line.verbose = true;
      } else if (arg == "--dry-run" || arg == "--verify") {
        const auto mode =
            arg == "--dry-run" ? CommandLine::Mode::kDryRun : CommandLine::Mode::kVerify;
        if (line.mode != CommandLine::Mode::kConvert && line.mode != mode) {
          return UsageError("--dry-run and --verify exclude each other");
        }
        line.mode = mode;
      } else {
        return UsageError("unknown option '" + ShownName(arg) + "'");
      }
      continue;
    }
    if (has_path) return UsageError("only one PATH may be given");
    line.path = arg;
    has_path = true;
  }
  return line;
}

std::string SourceTextFor(std::string path, PathKind kind, char separator) {
  if (separator != '/') std::replace(path.begin(), path.end(), '/', separator);
  // A drive letter comes before the folders of a Windows path.
  const bool has_drive = separator == '\\' && path.size() >= 2 && path[1] == ':';
  const std::size_t folders = has_drive ? 2 : 0;
  const std::string current = std::string(".") + separator;
  if (kind == PathKind::kFolder) {
    if (path.size() == folders) return path + current;
    return path.back() == separator ? path : path + separator;
  }
  if (kind == PathKind::kFile && path.find(separator) == std::string::npos) {
    return path.insert(folders, current);
  }
  return path;
}

int ExitStatusFor(const BatchReport& report, bool report_written) {
  if (!report.ran) return kExitUsage;
  if (!report_written) return kExitReportLost;
  if (!report.AllConverted()) return kExitNotConverted;
  return report.other_sizes > 0 ? kExitOtherSizes : kExitConverted;
}

void PrintHelp(std::ostream& out) { out << kUsage << '\n' << kHelp; }

void PrintVersion(std::ostream& out) { out << kProgramName << ' ' << PELLAMAR_VERSION << '\n'; }

void PrintUsageError(std::ostream& err, const std::string& problem) {
  err << kProgramName << ": " << problem << '\n'
      << kUsage << "Try 'pellamar-cli --help' for more information.\n";
}

}  // namespace pellamar::cli
