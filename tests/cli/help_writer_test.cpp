#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "cli/help_writer.h"
#include "cli/option_group.h"

namespace {

using cli::Option;

std::string help_of(const cli::CommandLine& command_line) {
  std::ostringstream out;
  cli::write_help(out, command_line);
  return out.str();
}

std::string entry_at(std::int32_t level, std::string_view left, std::string_view description) {
  std::ostringstream out;
  cli::HelpWriter writer(out);
  writer.indent(level).entry(cli::default_style(), left, description);
  return out.str();
}

TEST(HelpWriterTest, EntryColumns) {
  const std::string left23(23, 'x');
  const std::string left24(24, 'y');
  // Up to 23 characters at level 1 the description shares the line after 26 columns.
  EXPECT_EQ(entry_at(1, left23, "desc"), "  " + left23 + " desc\n");
  EXPECT_EQ(entry_at(1, "-a", "desc"), "  -a" + std::string(22, ' ') + "desc\n");
  // One more moves it to its own line, still after 26 columns.
  EXPECT_EQ(entry_at(1, left24, "desc"), "  " + left24 + "\n" + std::string(26, ' ') + "desc\n");
  // An empty description still gets the fill and the separating blank.
  EXPECT_EQ(entry_at(1, "-a", ""), "  -a" + std::string(22, ' ') + "\n");
  // At level 0 the left column is 25 wide; a negative level counts as 0.
  EXPECT_EQ(entry_at(0, std::string(25, 'z'), "d"), std::string(25, 'z') + " d\n");
  EXPECT_EQ(entry_at(-3, "-a", "d"), "-a" + std::string(24, ' ') + "d\n");
}

TEST(HelpWriterTest, HeadingAndParagraph) {
  std::ostringstream out;
  cli::HelpWriter writer(out);
  writer.indent(1).heading(cli::default_style(), "H").paragraph(cli::default_style(), "p");
  EXPECT_EQ(writer.dedent(2).level(), 0);
  EXPECT_EQ(out.str(), "H\n  p\n\n");
}

struct Declared {
  bool help = false;
  bool flag = false;
  std::uint32_t count = 0;
  std::uint64_t size = 7;
  std::string empty_text;
  std::string text = "abc";
  cli::CommandLine command_line;

  Declared() {
    command_line.add_node(cli::HelpOption(help))
        .add_node(Option(count, "n").add_name("-n").set_help("Count"))
        .add_node(Option(size, "s").add_name("--size").set_help("Size").set_help("The"))
        .add_node(Option(empty_text, "e").add_name("--empty").set_help("No default"))
        .add_node(Option(text, "t").add_name("--text"))
        .add_node(Option(flag).add_name("-f").add_name("--flag").set_help("A flag"));
  }
};

TEST(HelpWriterTest, WholeHelpBeforeAnyParse) {
  Declared d;
  // Defaults are captured at declaration: 0 is shown, an empty text is not,
  // and help sentences go in front of the annotation.
  EXPECT_EQ(help_of(d.command_line),
            "USAGE:\n"
            "  <executable> [-?|-h|--help] [-n <n>] [--size <s>] [--empty <e>] [--text <t>] "
            "[-f|--flag]\n"
            "\n"
            "Display usage information.\n"
            "\n"
            "OPTIONS, ARGUMENTS:\n"
            "  -?, -h, --help          \n"
            "  -n <n>                  Count [default: 0]\n"
            "  --size <s>              The Size [default: 7]\n"
            "  --empty <e>             No default\n"
            "  --text <t>              [default: abc]\n"
            "  -f, --flag              A flag\n");
}

TEST(HelpWriterTest, ParsedProgramName) {
  Declared d;
  const cli::ArgList named{"/opt/tool", {}};
  ASSERT_TRUE(d.command_line.parse_args(named).ok());
  const std::string named_start = "USAGE:\n  tool [-?|-h|";
  EXPECT_EQ(help_of(d.command_line).substr(0, named_start.size()), named_start);

  // Without a program name the usage section disappears.
  const cli::ArgList unnamed{"C:\\dir\\", {}};
  ASSERT_TRUE(d.command_line.parse_args(unnamed).ok());
  const std::string unnamed_start = "Display usage information.\n\nOPTIONS, ARGUMENTS:\n";
  EXPECT_EQ(help_of(d.command_line).substr(0, unnamed_start.size()), unnamed_start);
}

}  // namespace
