#include "cli/parser_node.h"

#include <utility>

#include "cli/help_writer.h"

namespace cli {

void ParserNode::print_help(HelpWriter& writer, const SyntaxStyle& style) const {
  print_usage(writer, style);
  writer.heading(style, "OPTIONS, ARGUMENTS:");
  writer.indent(1);
  print_entries(writer, style);
  writer.dedent(1);
}

void ParserNode::print_usage(HelpWriter& writer, const SyntaxStyle& style) const {
  const std::string fragment = usage_fragment(style);
  if (!fragment.empty()) {
    writer.heading(style, "USAGE:").indent(1).paragraph(style, fragment).dedent(1);
  }
  const std::string about = about_text(style);
  if (!about.empty()) writer.paragraph(style, about);
}

BoundNode::BoundNode(std::shared_ptr<Binding> binding, std::string value_hint)
    : binding_(std::move(binding)), value_hint_(std::move(value_hint)) {
  // The variable's value at declaration is what the help advertises as default.
  if (!binding_->is_flag() && binding_->value_count() == 1) {
    const std::string current = binding_->value_text(0);
    if (!current.empty()) help_text_ = "[default: " + current + "]";
  }
}

Option::Option(std::shared_ptr<Binding> binding, std::string value_hint)
    : BoundNode(std::move(binding), std::move(value_hint)) {}

Option::Option(bool& flag) : Option(std::make_shared<FlagBinding>(flag), {}) {}

Option::Option(std::uint32_t& value, std::string value_hint)
    : Option(std::make_shared<ValueBinding<std::uint32_t>>(value), std::move(value_hint)) {}

Option::Option(std::uint64_t& value, std::string value_hint)
    : Option(std::make_shared<ValueBinding<std::uint64_t>>(value), std::move(value_hint)) {}

Option::Option(std::string& value, std::string value_hint)
    : Option(std::make_shared<ValueBinding<std::string>>(value), std::move(value_hint)) {}

Option& Option::add_name(std::string_view name) {
  if (name.size() >= 3 && name[0] == '-' && name[1] != '-') {
    for (std::size_t i = 1; i < name.size(); ++i) names_.push_back({name[0], name[i]});
  } else {
    names_.emplace_back(name);
  }
  return *this;
}

Option& Option::set_help(std::string_view text) {
  help_text_ = help_text_.empty() ? std::string(text) : std::string(text) + " " + help_text_;
  return *this;
}

Option& Option::set_choices(std::vector<std::string> values) {
  choices_ = std::make_shared<const ChoiceList>(std::move(values));
  return *this;
}

Option& Option::set_occurrences(Occurrences occurrences) {
  occurrences_ = occurrences;
  return *this;
}

std::string Option::usage_fragment(const SyntaxStyle& style) const {
  std::string text;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (i != 0) text += '|';
    text += display_name(style, names_[i]);
  }
  if (!value_hint_.empty()) text += " <" + value_hint_ + ">";
  return text;
}

CheckOutcome Option::check_declaration() const {
  if (names_.empty()) return CheckOutcome::failure("No options supplied to opt");
  if (binding_->is_flag() && choices_) {
    return CheckOutcome::failure("Flag options cannot contain choices.");
  }
  for (const std::string& name : names_) {
    if (name.empty()) return CheckOutcome::failure("Option name cannot be empty");
    if (name[0] != '-') return CheckOutcome::failure("Option name must begin with '-'");
  }
  return CheckOutcome::success();
}

std::unique_ptr<ParserNode> Option::clone() const { return std::make_unique<Option>(*this); }

bool Option::matches(const SyntaxStyle& style, std::string_view token_text) const {
  const std::string token = normalize_name(style, token_text);
  for (const std::string& name : names_) {
    if (normalize_name(style, name) == token) return true;
  }
  return false;
}

ParseOutcome Option::parse_tokens(const TokenCursor& cursor) const {
  if (CheckOutcome check = check_declaration(); !check.ok()) {
    return ParseOutcome::failure(std::move(check.message));
  }
  if (cursor.at_end()) return ParseOutcome::success(MatchKind::declined, cursor);
  const SyntaxStyle& style = cursor.style();
  const std::string& arg = cursor.current();
  const bool is_short = is_short_option(style, arg);
  if (!is_short && !is_long_option(style, arg)) {
    return ParseOutcome::success(MatchKind::declined, cursor);
  }
  const Token token = option_token(cursor);
  if (!matches(style, token.text)) return ParseOutcome::success(MatchKind::declined, cursor);

  if (binding_->is_flag()) {
    if (arg.find_first_of(style.value_separators) != std::string::npos) {
      const auto value = value_token(cursor);
      return ParseOutcome::failure("Flag option '" + token.text + "' contains value '" +
                                       (value ? value->text : std::string()) + "'.",
                                   MatchKind::stop_all, cursor);
    }
    TokenCursor next = cursor;
    if (is_short) {
      next.next_letter();
    } else {
      next.next_argument();
    }
    SetOutcome set = binding_->set_flag(true);
    if (!set.ok()) return ParseOutcome::failure(std::move(set.message));
    return ParseOutcome::success(
        set.kind == MatchKind::stop_all ? MatchKind::stop_all : MatchKind::consumed, next);
  }

  const auto value = value_token(cursor);
  if (!value) {
    return ParseOutcome::failure("Expected argument following " + token.text, MatchKind::declined,
                                 cursor);
  }
  TokenCursor next = cursor;
  next.next_argument();
  if (value->from_next_argument) next.next_argument();
  if (choices_) {
    if (SetOutcome check = choices_->check(value->text); !check.ok()) {
      return ParseOutcome::failure(std::move(check.message));
    }
  }
  if (SetOutcome set = binding_->set_value(value->text); !set.ok()) {
    return ParseOutcome::failure(std::move(set.message), MatchKind::stop_all, next);
  }
  return ParseOutcome::success(MatchKind::consumed, next);
}

void Option::print_entries(HelpWriter& writer, const SyntaxStyle& style) const {
  std::string left;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (i != 0) left += ", ";
    left += display_name(style, names_[i]);
  }
  if (!value_hint_.empty()) left += " <" + value_hint_ + ">";
  writer.entry(style, left, help_text_);
}

HelpOption::HelpOption(bool& show_help)
    : Option(std::make_shared<CallbackFlagBinding>(show_help), {}) {
  add_name("-?").add_name("-h").add_name("--help");
}

std::string HelpOption::about_text(const SyntaxStyle&) const { return program_description_; }

std::unique_ptr<ParserNode> HelpOption::clone() const {
  return std::make_unique<HelpOption>(*this);
}

}  // namespace cli
