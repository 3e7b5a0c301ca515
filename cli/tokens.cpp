#include "cli/tokens.h"

#include <algorithm>

namespace cli {

ArgList ArgList::from_main(int argc, const char* const* argv) {
  ArgList list;
  if (argc <= 0 || argv == nullptr) return list;
  if (argv[0] != nullptr) list.program_path = argv[0];
  for (int i = 1; i < argc; ++i) {
    list.args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  }
  return list;
}

TokenCursor::TokenCursor(const SyntaxStyle& style, const std::vector<std::string>& args)
    : style_(&style), args_(&args), letter_index_(style.short_prefix_length) {}

void TokenCursor::next_argument() {
  ++index_;
  letter_index_ = style_->short_prefix_length;
}

void TokenCursor::next_letter() {
  ++letter_index_;
  if (at_end() || letter_index_ >= current().size()) next_argument();
}

bool has_prefix(std::string_view prefix_chars, std::uint64_t length, std::string_view text) {
  if (prefix_chars.empty() || length == 0 || text.size() <= length) return false;
  return std::any_of(prefix_chars.begin(), prefix_chars.end(), [&](char c) {
    return text[length] != c &&
           std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length),
                       [c](char t) { return t == c; });
  });
}

bool is_long_option(const SyntaxStyle& style, std::string_view text) {
  return has_prefix(style.long_prefix, style.long_prefix_length, text);
}

bool is_short_option(const SyntaxStyle& style, std::string_view text) {
  return has_prefix(style.short_prefix, style.short_prefix_length, text);
}

Token option_token(const TokenCursor& cursor) {
  if (cursor.at_end()) return {};
  const SyntaxStyle& style = cursor.style();
  const std::string& arg = cursor.current();
  if (is_long_option(style, arg)) {
    return {TokenKind::option, arg.substr(0, arg.find_first_of(style.value_separators))};
  }
  if (is_short_option(style, arg) && cursor.letter_index() < arg.size()) {
    std::string text(style.short_prefix_length, style.short_prefix[0]);
    text += arg[cursor.letter_index()];
    return {TokenKind::option, std::move(text)};
  }
  return {};
}

std::optional<ValueToken> value_token(const TokenCursor& cursor) {
  if (cursor.at_end()) return std::nullopt;
  const SyntaxStyle& style = cursor.style();
  const std::string& arg = cursor.current();
  const std::size_t separator = arg.find_first_of(style.value_separators);
  const bool is_short = is_short_option(style, arg);
  const bool is_long = is_long_option(style, arg);

  // "-n=4": the separator sits right after the single letter.
  if (is_short && separator != std::string::npos &&
      separator == style.short_prefix_length + 1) {
    return ValueToken{arg.substr(separator + 1), false};
  }
  if (is_long && separator != std::string::npos) {
    return ValueToken{arg.substr(separator + 1), false};
  }
  if (is_short) {
    if (cursor.letter_index() + 1 < arg.size()) {
      return ValueToken{arg.substr(cursor.letter_index() + 1), false};
    }
    if (cursor.has_next()) return ValueToken{cursor.next(), true};
    return std::nullopt;
  }
  // A long option without separator takes the next argument, whatever it looks like.
  if (is_long && cursor.has_next()) return ValueToken{cursor.next(), true};
  return std::nullopt;
}

std::string normalize_name(const SyntaxStyle& style, std::string_view name) {
  // Built by appending: GCC 12 warns falsely (-Wrestrict) on "literal" + string.
  std::string text;
  if (is_short_option(style, name)) {
    text.append("-").append(name.substr(style.short_prefix_length));
  } else if (is_long_option(style, name)) {
    text.append("--").append(name.substr(style.long_prefix_length));
  } else {
    text.append(name);
  }
  return text;
}

std::string display_name(const SyntaxStyle& style, std::string_view name) {
  if (name.starts_with("--") && !style.long_prefix.empty()) {
    return std::string(style.long_prefix_length, style.long_prefix[0]) +
           std::string(name.substr(2));
  }
  if (name.starts_with("-") && !style.short_prefix.empty()) {
    return std::string(style.short_prefix_length, style.short_prefix[0]) +
           std::string(name.substr(1));
  }
  return std::string(name);
}

std::string program_name_from_path(std::string_view path) {
  const std::size_t last = path.find_last_of("/\\");
  return std::string(last == std::string_view::npos ? path : path.substr(last + 1));
}

}  // namespace cli
