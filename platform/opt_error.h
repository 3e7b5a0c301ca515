#pragma once

#include <optional>
#include <string>
#include <utility>

namespace platform {

/// Result of a fallible operation: empty on success, otherwise the message the
/// caller is to print. The callee never prints.
class [[nodiscard]] OptError {
 public:
  OptError() = default;
  /// A failure carrying `message` (which may be empty text, still a failure).
  static OptError fail(std::string message) { return OptError(std::move(message)); }
  /// A failure because the processor refused an instruction of the code that
  /// ran (see fault_guard.h); no message: the caller knows what could not run.
  static OptError illegal_instruction() {
    OptError e{std::string()};
    e.illegal_instruction_ = true;
    return e;
  }

  /// True when the operation failed.
  bool failed() const { return message_.has_value(); }
  bool ok() const { return !message_.has_value(); }
  /// True for a failure made by `illegal_instruction`.
  bool is_illegal_instruction() const { return illegal_instruction_; }
  /// The failure message; empty text on success.
  const std::string& message() const {
    static const std::string kEmpty;
    return message_ ? *message_ : kEmpty;
  }

 private:
  explicit OptError(std::string message) : message_(std::move(message)) {}
  std::optional<std::string> message_;
  bool illegal_instruction_ = false;
};

}  // namespace platform
