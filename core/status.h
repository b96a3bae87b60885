// The outcome of a file action: success, or a kind of failure with a message
// that names the path and the reason.
#pragma once

#include <string>
#include <utility>

namespace pellamar {

class Status {
 public:
  enum class Kind {
    kOk,
    kNotFound,  // no file or folder of that name
    kReadOnly,  // an existing file that the program must not replace
    kIoError,   // anything else: permission, short read, full disk, ...
  };

  Status() = default;
  static Status Ok() { return Status(); }
  static Status Error(Kind kind, std::string message) { return Status(kind, std::move(message)); }

  bool ok() const { return kind_ == Kind::kOk; }
  Kind kind() const { return kind_; }
  const std::string& message() const { return message_; }

 private:
  Status(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  Kind kind_ = Kind::kOk;
  std::string message_;
};

}  // namespace pellamar
