#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/binding.h"
#include "cli/outcome.h"
#include "cli/syntax_style.h"
#include "cli/tokens.h"

namespace cli {

class HelpWriter;

/// Anything that takes part in a parse and in the help text.
class ParserNode {
 public:
  /// The node's part of the usage line.
  virtual std::string usage_fragment(const SyntaxStyle& style) const = 0;
  /// The node's description paragraph; empty for plain options.
  virtual std::string about_text(const SyntaxStyle& style) const = 0;
  virtual ~ParserNode() = default;
  virtual Occurrences occurrences() const = 0;
  /// Ok when the node was declared sensibly (names present and well formed).
  virtual CheckOutcome check_declaration() const = 0;
  /// An owned copy; copies of an option share its binding and choices.
  virtual std::unique_ptr<ParserNode> clone() const = 0;
  /// One parse attempt at the cursor; the state carries the cursor after it.
  virtual ParseOutcome parse_tokens(const TokenCursor& cursor) const = 0;
  /// Writes the node's lines of the option list.
  virtual void print_entries(HelpWriter& writer, const SyntaxStyle& style) const = 0;
  /// Writes usage, description and option list.
  virtual void print_help(HelpWriter& writer, const SyntaxStyle& style) const;
  /// Writes the usage section and the description paragraph.
  virtual void print_usage(HelpWriter& writer, const SyntaxStyle& style) const;

 protected:
  ParserNode() = default;
  ParserNode(const ParserNode&) = default;
  ParserNode& operator=(const ParserNode&) = default;
};

/// A node bound to a variable: binding, value hint, help text, occurrences, choices.
class BoundNode : public ParserNode {
 public:
  Occurrences occurrences() const override { return occurrences_; }
  CheckOutcome check_declaration() const override { return CheckOutcome::success(); }
  std::string about_text(const SyntaxStyle&) const override { return {}; }

  const std::string& value_hint() const { return value_hint_; }
  const std::string& help_text() const { return help_text_; }

 protected:
  /// Captures the default annotation from the variable's current value.
  BoundNode(std::shared_ptr<Binding> binding, std::string value_hint);

  std::shared_ptr<Binding> binding_;
  std::string value_hint_;
  std::string help_text_;
  Occurrences occurrences_{0, 1};
  std::shared_ptr<const ChoiceList> choices_;
};

/// A named option: a flag bound to a bool, or a value option bound to an
/// unsigned 32-bit, unsigned 64-bit or string variable.
class Option : public BoundNode {
 public:
  explicit Option(bool& flag);
  Option(std::uint32_t& value, std::string value_hint);
  Option(std::uint64_t& value, std::string value_hint);
  Option(std::string& value, std::string value_hint);

  /// Adds a name with its dashes; "-ab" adds "-a" and "-b".
  Option& add_name(std::string_view name);
  /// Puts `text` in front of the help text (ahead of a default annotation).
  Option& set_help(std::string_view text);
  /// Restricts the value to these texts.
  Option& set_choices(std::vector<std::string> values);
  /// Changes how often the option may appear (0..1 unless set).
  Option& set_occurrences(Occurrences occurrences);

  const std::vector<std::string>& names() const { return names_; }

  std::string usage_fragment(const SyntaxStyle& style) const override;
  CheckOutcome check_declaration() const override;
  std::unique_ptr<ParserNode> clone() const override;
  ParseOutcome parse_tokens(const TokenCursor& cursor) const override;
  void print_entries(HelpWriter& writer, const SyntaxStyle& style) const override;

 protected:
  Option(std::shared_ptr<Binding> binding, std::string value_hint);

 private:
  bool matches(const SyntaxStyle& style, std::string_view token_text) const;

  std::vector<std::string> names_;
};

/// The help flag "-?", "-h", "--help": stops the parse when read and contributes
/// the program description to the help.
class HelpOption : public Option {
 public:
  explicit HelpOption(bool& show_help);

  std::string about_text(const SyntaxStyle& style) const override;
  std::unique_ptr<ParserNode> clone() const override;

 private:
  std::string program_description_ = "Display usage information.";
};

}  // namespace cli
