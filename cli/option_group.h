#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/parser_node.h"

namespace cli {

/// How a group tries its children.
enum class EvalMode : std::uint8_t {
  any = 0,       ///< every child is tried at every position
  sequence = 1,  ///< children in order, each as long as it keeps consuming
  relaxed = 2,   ///< like any, but arguments no child takes are skipped
};

/// An ordered set of nodes parsed together. Owns copies of what it is given.
class OptionGroup : public ParserNode {
 public:
  OptionGroup() = default;
  OptionGroup(const OptionGroup& other);
  OptionGroup& operator=(const OptionGroup& other);
  OptionGroup(OptionGroup&&) = default;
  OptionGroup& operator=(OptionGroup&&) = default;

  /// Appends a copy of `node`; children are tried and listed in this order.
  OptionGroup& add_node(const ParserNode& node);
  OptionGroup& set_eval_mode(EvalMode mode);
  OptionGroup& set_occurrences(Occurrences occurrences);

  std::string usage_fragment(const SyntaxStyle& style) const override;
  std::string about_text(const SyntaxStyle& style) const override;
  Occurrences occurrences() const override { return occurrences_; }
  CheckOutcome check_declaration() const override { return CheckOutcome::success(); }
  std::unique_ptr<ParserNode> clone() const override;
  ParseOutcome parse_tokens(const TokenCursor& cursor) const override;
  void print_entries(HelpWriter& writer, const SyntaxStyle& style) const override;

 protected:
  std::shared_ptr<const SyntaxStyle> style_;

 private:
  ParseOutcome parse_any(const TokenCursor& cursor, bool relaxed) const;
  ParseOutcome parse_sequence(const TokenCursor& cursor) const;
  /// Fails when child `index` matched fewer or more times than it may.
  std::optional<ParseOutcome> check_count(std::size_t index, std::uint64_t count,
                                          const TokenCursor& start,
                                          const ParseOutcome& current) const;

  std::vector<std::unique_ptr<ParserNode>> children_;
  EvalMode eval_mode_ = EvalMode::any;
  Occurrences occurrences_{0, 0};
};

/// The whole command line: the options, the style in force and the program name.
/// Copies share the program name, the style and every option's variable.
class CommandLine : public OptionGroup {
 public:
  CommandLine();

  /// Appends a copy of `node`.
  CommandLine& add_node(const ParserNode& node);
  /// Gives this command line a style of its own instead of the default one.
  CommandLine& set_style(std::shared_ptr<const SyntaxStyle> style);
  /// The style in force: the own one, else the default style.
  const SyntaxStyle& style() const;
  /// "<executable>" until the first parse, then the last component of the path.
  const std::string& program_name() const { return *program_name_; }

  /// Parses the arguments into the bound variables. On failure the message says
  /// why; variables matched before the failure keep their new values.
  /// The outcome's cursor refers into `args`, which must outlive it.
  ParseOutcome parse_args(const ArgList& args);
  ParseOutcome parse_args(ArgList&&) = delete;

  std::string usage_fragment(const SyntaxStyle& style) const override;
  std::unique_ptr<ParserNode> clone() const override;

 private:
  std::shared_ptr<std::string> program_name_;
};

}  // namespace cli
