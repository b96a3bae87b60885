// The outcome of a file action: success, or a kind of failure with a message
// that names the path, and the reason the system gave.
#pragma once

#include <string>
#include <utility>

namespace pellamar {

class Status {
 public:
  enum class Kind {
    kOk,
    kNotFound,      // no file or folder of that name
    kReadOnly,      // an existing file that the program must not replace
    kIsFolder,      // a folder stands where a file was expected
    kNotAFile,      // something else that is no plain file stands there
    kOwnTarget,     // the target is the card itself, under another name
    kOwnerNotKept,  // the target's owner, group or permissions could not be kept
    kReadFailed,    // reading the card failed after it was opened
    kExists,        // a file that was to be made new stands there already
    kChanged,       // what stood at a path was replaced by another since it was looked at
    kNotTrashed,    // no trash could keep a file that was to be replaced
    kIoError,       // anything else: permission, full disk, ...
  };

  Status() = default;
  // `reason` is the system's own words for why, in lower case and without a
  // full stop ("no space left on device"); empty when there is none.
  static Status Error(Kind kind, std::string message, std::string reason = {}) {
    return Status(kind, std::move(message), std::move(reason));
  }
  static Status Ok() { return Status(); }

  bool ok() const { return kind_ == Kind::kOk; }
  Kind kind() const { return kind_; }
  const std::string& message() const { return message_; }
  const std::string& reason() const { return reason_; }

 private:
  Status(Kind kind, std::string message, std::string reason)
      : kind_(kind), message_(std::move(message)), reason_(std::move(reason)) {}

  Kind kind_ = Kind::kOk;
  std::string message_;
  std::string reason_;
};

}  // namespace pellamar
