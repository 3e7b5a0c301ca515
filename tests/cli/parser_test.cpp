#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cli/option_group.h"
#include "cli/parser_node.h"
#include "cli/tokens.h"

namespace {

using cli::ArgList;
using cli::CommandLine;
using cli::Option;
using Args = std::vector<std::string>;

// A small option set in the shape of a real program: the help flag, unsigned and
// text values, a choice list and two short flags that can share one dash.
struct Fixture {
  bool alpha = false;
  bool beta = false;
  bool help = false;
  std::uint32_t count = 0;
  std::uint64_t size = 192;
  std::string name = "first";
  std::string mode = "os";
  CommandLine command_line;
  ArgList held;

  Fixture() {
    command_line.add_node(cli::HelpOption(help))
        .add_node(Option(count, "count").add_name("-n").add_name("--count"))
        .add_node(Option(size, "size").add_name("-s").add_name("--size"))
        .add_node(Option(name, "name").add_name("--name"))
        .add_node(Option(mode, "mode").add_name("--mode").set_choices({"os", "numa", "phte"}))
        .add_node(Option(alpha).add_name("-a").add_name("--alpha"))
        .add_node(Option(beta).add_name("-b"));
  }

  // Parses with program path "prog"; the failure message, empty on success.
  std::string parse(Args args) {
    held = ArgList{"prog", std::move(args)};
    const cli::ParseOutcome outcome = command_line.parse_args(held);
    return outcome.ok() ? std::string() : outcome.message;
  }
};

struct ErrorCase {
  Args args;
  const char* message;
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
  for (const auto& a : c.args) *os << '[' << a << ']';
}

class ParseErrorTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(ParseErrorTest, MessageAndUntouchedVariables) {
  Fixture f;
  EXPECT_EQ(f.parse(GetParam().args), GetParam().message);
  // The failing option never writes its variable.
  EXPECT_EQ(f.count, 0u);
  EXPECT_EQ(f.size, 192u);
  EXPECT_EQ(f.mode, "os");
  EXPECT_FALSE(f.help || f.beta);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ParseErrorTest,
    testing::Values(
        // Conversions: digits only, within the target's width.
        ErrorCase{{"-n", "4294967296"}, "Unable to convert '4294967296' to destination type"},
        ErrorCase{{"-s", "18446744073709551616"},
                  "Unable to convert '18446744073709551616' to destination type"},
        ErrorCase{{"-n", "-5"}, "Unable to convert '-5' to destination type"},
        ErrorCase{{"-n", "+5"}, "Unable to convert '+5' to destination type"},
        ErrorCase{{"-n", "0x10"}, "Unable to convert '0x10' to destination type"},
        ErrorCase{{"--count= 5"}, "Unable to convert ' 5' to destination type"},
        ErrorCase{{"-n", "1.5"}, "Unable to convert '1.5' to destination type"},
        ErrorCase{{"--size="}, "Unable to convert '' to destination type"},
        // A word after one dash is a short option with the rest as its value.
        ErrorCase{{"-size", "64"}, "Unable to convert 'ize' to destination type"},
        ErrorCase{{"-ncount", "8"}, "Unable to convert 'count' to destination type"},
        // A long option without separator takes the next argument, whatever it is.
        ErrorCase{{"--size", "--name", "x"}, "Unable to convert '--name' to destination type"},
        ErrorCase{{"--size"}, "Expected argument following --size"},
        ErrorCase{{"-s"}, "Expected argument following -s"},
        ErrorCase{{"--mode", "NUMA"},
                  "Value 'NUMA' not expected. Allowed values are: os, numa, phte"},
        // Flags take no value, not even an empty one.
        ErrorCase{{"--alpha=1"}, "Flag option '--alpha' contains value '1'."},
        ErrorCase{{"--alpha="}, "Flag option '--alpha' contains value ''."},
        ErrorCase{{"--alpha yes"}, "Flag option '--alpha' contains value 'yes'."},
        ErrorCase{{"-h=1"}, "Flag option '-h' contains value '1'."},
        // Leftovers: unknown names, words, bare dashes, wrong case, repeats.
        ErrorCase{{"--foo"}, "Unrecognized token: --foo"},
        ErrorCase{{"word"}, "Unrecognized token: word"},
        ErrorCase{{"--"}, "Unrecognized token: --"},
        ErrorCase{{"-"}, "Unrecognized token: -"},
        ErrorCase{{"---x"}, "Unrecognized token: ---x"},
        ErrorCase{{""}, "Unrecognized token: "},
        ErrorCase{{"--Size", "64"}, "Unrecognized token: --Size"},
        ErrorCase{{"--alpha", "-a"}, "Unrecognized token: -a"},
        ErrorCase{{"--bogus", "-h"}, "Unrecognized token: --bogus"},
        ErrorCase{{"-ax"}, "Unrecognized token: -ax"}));

TEST(ParserTest, ValueForms) {
  const std::vector<std::pair<Args, std::uint32_t>> forms = {
      {{"-n4"}, 4},       {{"-n=4"}, 4},         {{"-n", "4"}, 4},  {{"-n 4"}, 4},
      {{"--count=4"}, 4}, {{"--count", "4"}, 4}, {{"--count 4"}, 4},
      {{"-n007"}, 7},  // leading zeros are fine
      {{"-n", "4294967295"}, 4294967295u},
  };
  for (const auto& [args, value] : forms) {
    Fixture f;
    EXPECT_EQ(f.parse(args), "") << args[0];
    EXPECT_EQ(f.count, value) << args[0];
  }
  Fixture f;
  EXPECT_EQ(f.parse({"-s", "18446744073709551615", "--name=a=b", "--mode", "phte"}), "");
  EXPECT_EQ(f.size, UINT64_MAX);
  EXPECT_EQ(f.name, "a=b");
  EXPECT_EQ(f.mode, "phte");
  Fixture g;
  EXPECT_EQ(g.parse({"--name", "-x y"}), "");  // text values are taken unchanged
  EXPECT_EQ(g.name, "-x y");
  Fixture h;
  EXPECT_EQ(h.parse({"--name="}), "");
  EXPECT_EQ(h.name, "");
}

TEST(ParserTest, ShortGroups) {
  Fixture f;
  EXPECT_EQ(f.parse({"-ab"}), "");
  EXPECT_TRUE(f.alpha && f.beta);
  // A value option inside a group takes the rest of the argument, or the next one.
  Fixture g;
  EXPECT_EQ(g.parse({"-an12"}), "");
  EXPECT_TRUE(g.alpha);
  EXPECT_EQ(g.count, 12u);
  Fixture h;
  EXPECT_EQ(h.parse({"-bn", "5", "-a"}), "");
  EXPECT_TRUE(h.beta && h.alpha);
  EXPECT_EQ(h.count, 5u);
  // A declared "-xy" is two short names.
  bool flag = false;
  EXPECT_EQ(Option(flag).add_name("-xy").add_name("--xy").names(),
            (Args{"-x", "-y", "--xy"}));
}

TEST(ParserTest, HelpStopsTheParseAndNothingRollsBack) {
  for (const char* name : {"-?", "-h", "--help"}) {
    Fixture f;
    EXPECT_EQ(f.parse({"-n", "3", name, "--bogus", "-n", "x"}), "") << name;
    EXPECT_TRUE(f.help) << name;
    EXPECT_EQ(f.count, 3u) << name;
  }
  // Values stored before a failure stay stored.
  Fixture f;
  EXPECT_NE(f.parse({"--name", "avx", "--size", "x"}), "");
  EXPECT_EQ(f.name, "avx");
  // No arguments change nothing.
  Fixture g;
  EXPECT_EQ(g.parse({}), "");
  EXPECT_EQ(g.size, 192u);
  EXPECT_EQ(g.name, "first");
}

TEST(ParserTest, ProgramNameAndCopies) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"C:\\bench\\prog.exe", "prog.exe"}, {"./prog", "prog"}, {"prog", "prog"},
      {"", ""}, {"dir/", ""}, {"a\\b/c", "c"}};
  for (const auto& [path, name] : cases) {
    Fixture f;
    EXPECT_EQ(f.command_line.program_name(), "<executable>");
    const ArgList args{path, {"--bogus"}};
    EXPECT_FALSE(f.command_line.parse_args(args).ok());
    EXPECT_EQ(f.command_line.program_name(), name) << path;  // replaced despite the failure
  }
  // A copy parses into the same variables and shares the name.
  Fixture f;
  CommandLine copy = f.command_line;
  const ArgList args{"/bin/other", {"-n", "9"}};
  EXPECT_TRUE(copy.parse_args(args).ok());
  EXPECT_EQ(f.count, 9u);
  EXPECT_EQ(f.command_line.program_name(), "other");

  EXPECT_EQ(ArgList::from_main(0, nullptr).program_path, "");
  const char* argv[] = {"/x/zelvo", "-n", "4", nullptr};
  const ArgList list = ArgList::from_main(3, argv);
  EXPECT_EQ(list.program_path, "/x/zelvo");
  EXPECT_EQ(list.args, (Args{"-n", "4"}));
}

TEST(ParserTest, DeclarationErrors) {
  bool flag = false;
  std::string text;
  const std::vector<std::pair<Option, std::string>> cases = {
      {Option(flag), "No options supplied to opt"},
      {Option(flag).add_name("--x").set_choices({"a"}), "Flag options cannot contain choices."},
      {Option(text, "t").add_name("--t").add_name(""), "Option name cannot be empty"},
      {Option(text, "t").add_name("t"), "Option name must begin with '-'"},
  };
  for (const auto& [option, message] : cases) {
    CommandLine command_line;
    command_line.add_node(option);
    const ArgList args{"prog", {"--t", "v"}};
    EXPECT_EQ(command_line.parse_args(args).message, message);
  }
  EXPECT_TRUE(Option(text, "t").add_name("--t").set_choices({"a"}).check_declaration().ok());
}

// A command line in another evaluation mode, with a count option of given occurrences.
struct ModeFixture {
  bool alpha = false;
  bool help = false;
  std::uint32_t count = 0;
  ArgList held;

  std::string parse(cli::EvalMode mode, Args args, cli::Occurrences count_occurrences = {0, 1}) {
    CommandLine command_line;
    command_line.add_node(Option(alpha).add_name("-a"))
        .add_node(Option(count, "count").add_name("-n").set_occurrences(count_occurrences))
        .add_node(cli::HelpOption(help))
        .set_eval_mode(mode);
    held = ArgList{"prog", std::move(args)};
    const cli::ParseOutcome outcome = command_line.parse_args(held);
    return outcome.ok() ? std::string() : outcome.message;
  }
};

TEST(ParserModeTest, RelaxedAndSequence) {
  // Relaxed skips what no option takes; "any" stops there.
  ModeFixture f;
  EXPECT_EQ(f.parse(cli::EvalMode::relaxed, {"junk", "-a", "--what", "-n", "3"}), "");
  EXPECT_TRUE(f.alpha);
  EXPECT_EQ(f.count, 3u);
  EXPECT_EQ(ModeFixture().parse(cli::EvalMode::any, {"junk", "-a"}), "Unrecognized token: junk");

  // Sequence takes the options in declaration order only.
  ModeFixture g;
  EXPECT_EQ(g.parse(cli::EvalMode::sequence, {"-a", "-n", "3"}), "");
  EXPECT_TRUE(g.alpha);
  EXPECT_EQ(ModeFixture().parse(cli::EvalMode::sequence, {"-n", "3", "-a"}),
            "Unrecognized token: -a");
  // A stop from an option ends the whole parse at once.
  EXPECT_EQ(ModeFixture().parse(cli::EvalMode::sequence, {"-n", "x"}),
            "Unable to convert 'x' to destination type");
  ModeFixture h;
  EXPECT_EQ(h.parse(cli::EvalMode::sequence, {"-a", "-h", "junk"}), "");
  EXPECT_TRUE(h.help);

  EXPECT_EQ(ModeFixture().parse(static_cast<cli::EvalMode>(7), {"-a"}),
            "Unknown evaluation mode; not one of 'any', 'sequence', or 'relaxed'.");
}

TEST(ParserModeTest, OccurrenceMessages) {
  for (const auto mode : {cli::EvalMode::any, cli::EvalMode::sequence, cli::EvalMode::relaxed}) {
    SCOPED_TRACE(static_cast<int>(mode));
    // A required option that is missing.
    EXPECT_EQ(ModeFixture().parse(mode, {"-a"}, {1, 1}),
              "Unrecognized argument '-a' while parsing: -n <count>");
    EXPECT_EQ(ModeFixture().parse(mode, {}, {1, 1}), "Expected: -n <count>");
    // At least two, no upper bound.
    ModeFixture f;
    EXPECT_EQ(f.parse(mode, {"-n", "1", "-n", "2"}, {2, 0}), "");
    EXPECT_EQ(f.count, 2u);
    EXPECT_EQ(ModeFixture().parse(mode, {"-n", "1"}, {2, 0}),
              "Unrecognized argument '-n' while parsing: -n <count>");
  }
}

}  // namespace
