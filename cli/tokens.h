#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/syntax_style.h"

namespace cli {

/// The parser's input: the program path and the further arguments, unchanged.
struct ArgList {
  std::string program_path;
  std::vector<std::string> args;

  /// Copies main's argument vector. An argument count of 0 or an absent vector
  /// gives an empty program path and no arguments.
  static ArgList from_main(int argc, const char* const* argv);
};

/// A position in an argument list: the current argument and, inside a group of
/// short options written in one argument (-ab), the current letter. Does not own
/// the style or the arguments; both must outlive the cursor.
class TokenCursor {
 public:
  TokenCursor(const SyntaxStyle& style, const std::vector<std::string>& args);
  TokenCursor(const SyntaxStyle&, std::vector<std::string>&&) = delete;

  const SyntaxStyle& style() const { return *style_; }
  /// True when every argument has been consumed.
  bool at_end() const { return index_ >= args_->size(); }
  /// The current argument; only valid when not at end.
  const std::string& current() const { return (*args_)[index_]; }
  /// True when an argument follows the current one.
  bool has_next() const { return index_ + 1 < args_->size(); }
  /// The argument after the current one; only valid when has_next().
  const std::string& next() const { return (*args_)[index_ + 1]; }
  /// Index of the current argument in the list.
  std::size_t position() const { return index_; }
  /// Position of the current letter inside a short-option group.
  std::uint64_t letter_index() const { return letter_index_; }

  /// Moves to the next argument; the letter position starts over.
  void next_argument();
  /// Moves to the next letter of a short-option group, and on to the next
  /// argument once the group's letters are used up.
  void next_letter();

  friend bool operator==(const TokenCursor& a, const TokenCursor& b) {
    return a.args_ == b.args_ && a.index_ == b.index_ && a.letter_index_ == b.letter_index_;
  }

 private:
  const SyntaxStyle* style_;
  const std::vector<std::string>* args_;
  std::size_t index_ = 0;
  std::uint64_t letter_index_;
};

enum class TokenKind { none = 0, option = 1, argument = 2 };

struct Token {
  TokenKind kind = TokenKind::none;
  std::string text;
};

/// A value found for an option, and whether it is the whole following argument.
struct ValueToken {
  std::string text;
  bool from_next_argument = false;
};

/// True when `text` starts with exactly `length` copies of one of the prefix
/// characters and has more after them ("--size" is long, "---x" and "--" are not).
bool has_prefix(std::string_view prefix_chars, std::uint64_t length, std::string_view text);
bool is_long_option(const SyntaxStyle& style, std::string_view text);
bool is_short_option(const SyntaxStyle& style, std::string_view text);

/// The option name at the cursor: a long argument up to its first separator, or
/// the short prefix and the current letter of a short argument; kind none otherwise.
Token option_token(const TokenCursor& cursor);

/// The value belonging to the option at the cursor, from the same argument or the
/// next one; nothing when there is none.
std::optional<ValueToken> value_token(const TokenCursor& cursor);

/// A declared or typed name in the canonical "-x" / "--word" form.
std::string normalize_name(const SyntaxStyle& style, std::string_view name);

/// A declared name as the help text shows it under the given style.
std::string display_name(const SyntaxStyle& style, std::string_view name);

/// The last component of a path (after the last '/' or '\'); empty when the
/// path ends in a separator.
std::string program_name_from_path(std::string_view path);

}  // namespace cli
