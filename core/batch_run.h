// The "Convert" command: converts the cards of the folder that the source
// field names, shows a running count and ends with a message box. It reaches
// the window only through WindowOperations, so any front end can drive it.
// Its walk of the folder also serves a dry run, which says what it would do,
// and a verify, which checks what it did.
#pragma once

#include <functional>
#include <string>

#include "core/batch_report.h"
#include "core/file_system.h"
#include "core/shown_name.h"

namespace pellamar {

inline constexpr char kDescriptionText[] =
    "This tool converts memory cards from Bleem! to VGS format in batch mode.";

// What the batch run asks of the window, in the order it asks.
class WindowOperations {
 public:
  virtual ~WindowOperations() = default;

  virtual std::string SourceText() = 0;
  // Lets the user pick a card; called instead of a run when the field is empty.
  virtual void btnSource_Click() = 0;
  virtual void SetLabel3Caption(const std::string& caption) = 0;
  // Paints the window and its controls before returning, without handing
  // control back to the event loop.
  virtual void RepaintNow() = 0;
  virtual std::string Caption() = 0;
  // Modal; returns when the user dismisses the box.
  virtual void ShowMessageBox(const std::string& text, int style, const std::string& title) = 0;
};

// The card folder named by `source_text`: the text up to and including its
// last `separator`, or the whole text, with `separator` appended when it
// does not end in one ("C:\cards\a.mcd" and "C:\cards\" give "C:\cards\",
// "C:\cards" gives "C:\").
std::string CardFolderFor(const std::string& source_text, char separator);

// True when the length of the file at `path` can be read and is not zero.
bool FileHasData(FileSystem& fs, const std::string& path);

// Told of each card of a dry run or a verify as the walk reaches it.
using VerdictSink = std::function<void(const CardVerdict&)>;

// Every walk of a folder, "Convert", the dry run and the verify, lists it
// whole, then meets the cards in the order of the listing and passes one
// over for the same reasons: it cannot be read, it is empty, or its target
// is another card's, as target_record.h says. A target that holds its card's
// conversion already is left as it is; any other file at a target goes to
// the trash before the new one takes its place.

// Walks the cards of `folder` as "Convert" does and tells `sink` what a run
// would do with each. Reads every card and every target that stands, writes
// nothing and opens nothing for writing.
BatchReport DryRun(FileSystem& fs, const std::string& folder, const VerdictSink& sink);

// Walks the cards of `folder` as "Convert" does and checks each target: that
// it is exactly the 64-byte header and the card's bytes. Tells `sink` of
// every card; a card that "Convert" would pass over fails with its reason. A
// target that no card of the folder gives is never looked at.
BatchReport Verify(FileSystem& fs, const std::string& folder, const VerdictSink& sink);

// Runs "Convert" once: reads the source text, converts every card of its
// folder, reports through `window`, and returns what it did.
BatchReport btnStart_Click(WindowOperations& window, FileSystem& fs);

}  // namespace pellamar
