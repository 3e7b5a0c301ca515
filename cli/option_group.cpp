#include "cli/option_group.h"

#include <utility>

#include "cli/help_writer.h"

namespace cli {

OptionGroup::OptionGroup(const OptionGroup& other)
    : ParserNode(other),
      style_(other.style_),
      eval_mode_(other.eval_mode_),
      occurrences_(other.occurrences_) {
  children_.reserve(other.children_.size());
  for (const auto& child : other.children_) children_.push_back(child->clone());
}

OptionGroup& OptionGroup::operator=(const OptionGroup& other) {
  if (this != &other) {
    OptionGroup copy(other);
    *this = std::move(copy);
  }
  return *this;
}

OptionGroup& OptionGroup::add_node(const ParserNode& node) {
  children_.push_back(node.clone());
  return *this;
}

OptionGroup& OptionGroup::set_eval_mode(EvalMode mode) {
  eval_mode_ = mode;
  return *this;
}

OptionGroup& OptionGroup::set_occurrences(Occurrences occurrences) {
  occurrences_ = occurrences;
  return *this;
}

std::string OptionGroup::usage_fragment(const SyntaxStyle& style) const {
  std::string text;
  for (const auto& child : children_) {
    const std::string fragment = child->usage_fragment(style);
    if (fragment.empty()) continue;
    if (!text.empty()) text += ' ';
    text += child->occurrences().min_count == 0 ? "[" + fragment + "]" : fragment;
  }
  return text;
}

std::string OptionGroup::about_text(const SyntaxStyle& style) const {
  std::string text;
  for (const auto& child : children_) {
    const std::string about = child->about_text(style);
    if (about.empty()) continue;
    if (!text.empty()) text += '\n';
    text += about;
  }
  return text;
}

std::unique_ptr<ParserNode> OptionGroup::clone() const {
  return std::make_unique<OptionGroup>(*this);
}

void OptionGroup::print_entries(HelpWriter& writer, const SyntaxStyle& style) const {
  for (const auto& child : children_) child->print_entries(writer, style);
}

ParseOutcome OptionGroup::parse_tokens(const TokenCursor& cursor) const {
  switch (eval_mode_) {
    case EvalMode::any:
      return parse_any(cursor, false);
    case EvalMode::relaxed:
      return parse_any(cursor, true);
    case EvalMode::sequence:
      return parse_sequence(cursor);
  }
  return ParseOutcome::failure(
      "Unknown evaluation mode; not one of 'any', 'sequence', or 'relaxed'.",
      MatchKind::declined, cursor);
}

std::optional<ParseOutcome> OptionGroup::check_count(std::size_t index, std::uint64_t count,
                                                     const TokenCursor& start,
                                                     const ParseOutcome& current) const {
  const Occurrences occ = children_[index]->occurrences();
  const bool out_of_range =
      (occ.max_count != 0 && (count < occ.min_count || count > occ.max_count)) ||
      (occ.min_count != 0 && count < occ.min_count);
  if (!out_of_range) return std::nullopt;
  const std::string fragment = children_[index]->usage_fragment(start.style());
  std::string message = start.at_end() ? "Expected: " + fragment
                                       : "Unrecognized argument '" + start.current() +
                                             "' while parsing: " + fragment;
  return ParseOutcome::failure(std::move(message), current.state->kind, current.state->cursor);
}

ParseOutcome OptionGroup::parse_any(const TokenCursor& start, bool relaxed) const {
  std::vector<std::uint64_t> counts(children_.size(), 0);
  ParseOutcome current = ParseOutcome::success(MatchKind::nothing_consumed, start);
  std::optional<ParseOutcome> first_error;

  while (!current.state->cursor.at_end()) {
    bool consumed = false;
    for (std::size_t i = 0; i < children_.size(); ++i) {
      const Occurrences occ = children_[i]->occurrences();
      if (occ.max_count != 0 && counts[i] >= occ.max_count) continue;
      ParseOutcome result = children_[i]->parse_tokens(current.state->cursor);
      if (!result.ok()) {
        if (result.state && result.state->kind == MatchKind::stop_all) return result;
        if (!first_error) first_error = std::move(result);
        continue;
      }
      const MatchKind kind = result.state->kind;
      if (kind == MatchKind::declined) continue;
      current = std::move(result);
      if (kind == MatchKind::nothing_consumed) continue;
      ++counts[i];
      consumed = true;
      break;
    }
    if (current.state->kind == MatchKind::stop_all) return current;
    if (consumed) continue;
    if (relaxed) {
      current.state->cursor.next_argument();
      continue;
    }
    if (first_error) return std::move(*first_error);
    break;
  }

  for (std::size_t i = 0; i < children_.size(); ++i) {
    if (auto failed = check_count(i, counts[i], start, current)) return std::move(*failed);
  }
  return current;
}

ParseOutcome OptionGroup::parse_sequence(const TokenCursor& start) const {
  ParseOutcome current = ParseOutcome::success(MatchKind::nothing_consumed, start);
  for (std::size_t i = 0; i < children_.size(); ++i) {
    const Occurrences occ = children_[i]->occurrences();
    std::uint64_t count = 0;
    while (!current.state->cursor.at_end() && (occ.max_count == 0 || count < occ.max_count)) {
      ParseOutcome result = children_[i]->parse_tokens(current.state->cursor);
      if (result.state && result.state->kind == MatchKind::stop_all) return result;
      if (!result.ok() || result.state->kind != MatchKind::consumed) break;
      current = std::move(result);
      ++count;
    }
    if (auto failed = check_count(i, count, start, current)) return std::move(*failed);
  }
  return current;
}

CommandLine::CommandLine() : program_name_(std::make_shared<std::string>("<executable>")) {}

CommandLine& CommandLine::add_node(const ParserNode& node) {
  OptionGroup::add_node(node);
  return *this;
}

CommandLine& CommandLine::set_style(std::shared_ptr<const SyntaxStyle> style) {
  style_ = std::move(style);
  return *this;
}

const SyntaxStyle& CommandLine::style() const { return style_ ? *style_ : default_style(); }

ParseOutcome CommandLine::parse_args(const ArgList& args) {
  // The name is replaced first so that the help after a failed parse shows it too.
  *program_name_ = program_name_from_path(args.program_path);
  const TokenCursor cursor(style(), args.args);
  ParseOutcome outcome = parse_tokens(cursor);
  if (outcome.ok() && outcome.state && outcome.state->kind != MatchKind::stop_all &&
      !outcome.state->cursor.at_end()) {
    const ParseState state = *outcome.state;
    return ParseOutcome::failure("Unrecognized token: " + state.cursor.current(), state.kind,
                                 state.cursor);
  }
  return outcome;
}

std::string CommandLine::usage_fragment(const SyntaxStyle& style) const {
  if (program_name_->empty()) return {};
  return *program_name_ + " " + OptionGroup::usage_fragment(style);
}

std::unique_ptr<ParserNode> CommandLine::clone() const {
  return std::make_unique<CommandLine>(*this);
}

}  // namespace cli
