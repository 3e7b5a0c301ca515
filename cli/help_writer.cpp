#include "cli/help_writer.h"

#include <string>

#include "cli/option_group.h"

namespace cli {

namespace {

// Width of the left column, indentation included.
constexpr std::uint64_t kLeftColumnWidth = 25;

}  // namespace

HelpWriter& HelpWriter::heading(const SyntaxStyle&, std::string_view text) {
  out_ << text << '\n';
  return *this;
}

HelpWriter& HelpWriter::paragraph(const SyntaxStyle& style, std::string_view text) {
  out_ << std::string(static_cast<std::uint64_t>(level()) * style.indent_width, ' ') << text
       << "\n\n";
  return *this;
}

HelpWriter& HelpWriter::entry(const SyntaxStyle& style, std::string_view left,
                              std::string_view description) {
  const std::uint64_t indent = static_cast<std::uint64_t>(level()) * style.indent_width;
  const std::uint64_t width = indent < kLeftColumnWidth ? kLeftColumnWidth - indent : 0;
  const std::string blanks(indent, ' ');
  out_ << blanks << left;
  if (left.size() <= width) {
    out_ << std::string(width - left.size(), ' ');
  } else {
    out_ << '\n' << blanks << std::string(width, ' ');
  }
  // Written even when empty, so an entry without description ends in blanks.
  out_ << ' ' << description << '\n';
  return *this;
}

HelpWriter& HelpWriter::indent(std::int32_t n) {
  level_ += n;
  return *this;
}

HelpWriter& HelpWriter::dedent(std::int32_t n) {
  level_ -= n;
  return *this;
}

std::ostream& write_help(std::ostream& out, const CommandLine& command_line) {
  HelpWriter writer(out);
  command_line.print_help(writer, command_line.style());
  return out;
}

}  // namespace cli
