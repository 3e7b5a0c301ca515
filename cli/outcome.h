#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "cli/tokens.h"

namespace cli {

enum class Status { ok, failed };

/// How one parse attempt of a node ended.
enum class MatchKind {
  consumed = 0,          ///< the node took one or more tokens
  declined = 1,          ///< the input at the cursor is not for this node
  stop_all = 2,          ///< the whole parse stops now (the help flag, some errors)
  nothing_consumed = 3,  ///< succeeded without taking anything (a group's start)
};

/// How often a node may match in one parse; max_count 0 means unbounded.
struct Occurrences {
  std::uint64_t min_count = 0;
  std::uint64_t max_count = 0;
};

/// Where an attempt ended and how.
struct ParseState {
  MatchKind kind;
  TokenCursor cursor;
};

/// Result of a parse step. Failures carry their message and sometimes a state.
struct [[nodiscard]] ParseOutcome {
  Status status = Status::ok;
  std::string message;
  std::optional<ParseState> state;

  bool ok() const { return status == Status::ok; }
  static ParseOutcome success(MatchKind kind, const TokenCursor& cursor) {
    return {Status::ok, {}, ParseState{kind, cursor}};
  }
  static ParseOutcome failure(std::string message) {
    return {Status::failed, std::move(message), std::nullopt};
  }
  static ParseOutcome failure(std::string message, MatchKind kind, const TokenCursor& cursor) {
    return {Status::failed, std::move(message), ParseState{kind, cursor}};
  }
};

/// Result of storing a value through a binding or of a choice check.
struct [[nodiscard]] SetOutcome {
  Status status = Status::ok;
  std::string message;
  MatchKind kind = MatchKind::consumed;

  bool ok() const { return status == Status::ok; }
  static SetOutcome success(MatchKind kind) { return {Status::ok, {}, kind}; }
  static SetOutcome failure(std::string message) {
    return {Status::failed, std::move(message), MatchKind::declined};
  }
};

/// Result of a declaration check.
struct [[nodiscard]] CheckOutcome {
  Status status = Status::ok;
  std::string message;

  bool ok() const { return status == Status::ok; }
  static CheckOutcome success() { return {}; }
  static CheckOutcome failure(std::string message) { return {Status::failed, std::move(message)}; }
};

}  // namespace cli
