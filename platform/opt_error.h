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

  /// True when the operation failed.
  bool failed() const { return message_.has_value(); }
  bool ok() const { return !message_.has_value(); }
  /// The failure message; empty text on success.
  const std::string& message() const {
    static const std::string kEmpty;
    return message_ ? *message_ : kEmpty;
  }

 private:
  explicit OptError(std::string message) : message_(std::move(message)) {}
  std::optional<std::string> message_;
};

}  // namespace platform
