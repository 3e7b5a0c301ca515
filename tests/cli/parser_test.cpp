#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli/option_group.h"
#include "cli/parser_node.h"
#include "cli/tokens.h"

namespace {

using cli::ArgList;
using cli::CommandLine;
using cli::MatchKind;
using cli::Option;

// A small option set in the shape of a real program: flags, a group-able pair of
// short flags, unsigned and text values, a choice list and the help flag.
struct Fixture {
  bool alpha = false;
  bool beta = false;
  bool help = false;
  std::uint32_t count = 0;
  std::uint64_t size = 192;
  std::string name = "first";
  std::string mode = "os";
  CommandLine command_line;

  Fixture() {
    command_line.add_node(cli::HelpOption(help))
        .add_node(Option(count, "count").add_name("-n").add_name("--count"))
        .add_node(Option(size, "size").add_name("-s").add_name("--size"))
        .add_node(Option(name, "name").add_name("--name"))
        .add_node(Option(mode, "mode").add_name("--mode").set_choices({"os", "numa", "phte"}))
        .add_node(Option(alpha).add_name("-a").add_name("--alpha"))
        .add_node(Option(beta).add_name("-b"));
  }

  // Parses with program path "prog"; returns the failure message, empty on success.
  std::string parse(std::vector<std::string> args) {
    held = ArgList{"prog", std::move(args)};
    const cli::ParseOutcome outcome = command_line.parse_args(held);
    return outcome.ok() ? std::string() : outcome.message;
  }

  ArgList held;
};

TEST(ParserTest, ValueTokenForms) {
  // Every way of writing a value stores it.
  const std::vector<std::pair<std::vector<std::string>, std::uint32_t>> forms = {
      {{"-n4"}, 4},       {{"-n=4"}, 4},    {{"-n", "4"}, 4}, {{"-n 4"}, 4},
      {{"--count=4"}, 4}, {{"--count", "4"}, 4}, {{"--count 4"}, 4},
      {{"-n007"}, 7},  // leading zeros are fine
  };
  for (const auto& [args, value] : forms) {
    Fixture f;
    EXPECT_EQ(f.parse(args), "") << args[0];
    EXPECT_EQ(f.count, value) << args[0];
  }
}

TEST(ParserTest, UnsignedLimits) {
  Fixture f;
  EXPECT_EQ(f.parse({"-n", "4294967295"}), "");
  EXPECT_EQ(f.count, 4294967295u);

  Fixture g;
  EXPECT_EQ(g.parse({"-n", "4294967296"}), "Unable to convert '4294967296' to destination type");
  EXPECT_EQ(g.count, 0u);  // untouched on failure

  Fixture h;
  EXPECT_EQ(h.parse({"-s", "18446744073709551615"}), "");
  EXPECT_EQ(h.size, UINT64_MAX);

  Fixture k;
  EXPECT_EQ(k.parse({"-s", "18446744073709551616"}),
            "Unable to convert '18446744073709551616' to destination type");
  EXPECT_EQ(k.size, 192u);
}

TEST(ParserTest, NonDigitValuesFailConversion) {
  for (const char* bad : {"-5", "+5", "0x10", " 5", "5 ", "1.5", "", "abc"}) {
    Fixture f;
    EXPECT_EQ(f.parse({"--count=" + std::string(bad)}),
              "Unable to convert '" + std::string(bad) + "' to destination type")
        << bad;
  }
  // A long word after a single dash is a short option with the rest as its value.
  Fixture f;
  EXPECT_EQ(f.parse({"-size", "64"}), "Unable to convert 'ize' to destination type");
  Fixture g;
  EXPECT_EQ(g.parse({"-ncount", "8"}), "Unable to convert 'count' to destination type");
}

TEST(ParserTest, MissingAndBorrowedValues) {
  Fixture f;
  EXPECT_EQ(f.parse({"--size"}), "Expected argument following --size");
  Fixture g;
  EXPECT_EQ(g.parse({"-s"}), "Expected argument following -s");
  // A long option without separator takes the next argument, whatever it is.
  Fixture h;
  EXPECT_EQ(h.parse({"--size", "--name", "x"}), "Unable to convert '--name' to destination type");
}

TEST(ParserTest, TextValuesAreStoredUnchanged) {
  Fixture f;
  EXPECT_EQ(f.parse({"--name="}), "");
  EXPECT_EQ(f.name, "");
  Fixture g;
  EXPECT_EQ(g.parse({"--name=a=b"}), "");
  EXPECT_EQ(g.name, "a=b");
  Fixture h;
  EXPECT_EQ(h.parse({"--name", "-x y"}), "");
  EXPECT_EQ(h.name, "-x y");
}

TEST(ParserTest, Choices) {
  Fixture f;
  EXPECT_EQ(f.parse({"--mode", "numa"}), "");
  EXPECT_EQ(f.mode, "numa");

  Fixture g;
  EXPECT_EQ(g.parse({"--mode", "NUMA"}), "Value 'NUMA' not expected. Allowed values are: os, numa, phte");
  EXPECT_EQ(g.mode, "os");
}

TEST(ParserTest, FlagsRefuseValues) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--alpha=1", "Flag option '--alpha' contains value '1'."},
      {"--alpha=", "Flag option '--alpha' contains value ''."},
      {"--alpha yes", "Flag option '--alpha' contains value 'yes'."},
      {"-a=1", "Flag option '-a' contains value '1'."},
      {"-h=1", "Flag option '-h' contains value '1'."},
  };
  for (const auto& [arg, message] : cases) {
    Fixture f;
    EXPECT_EQ(f.parse({arg}), message) << arg;
    EXPECT_FALSE(f.alpha) << arg;
    EXPECT_FALSE(f.help) << arg;
  }
}

TEST(ParserTest, ShortGroups) {
  Fixture f;
  EXPECT_EQ(f.parse({"-ab"}), "");
  EXPECT_TRUE(f.alpha);
  EXPECT_TRUE(f.beta);

  // A value option inside a group takes the rest of the argument, or the next one.
  Fixture g;
  EXPECT_EQ(g.parse({"-an12"}), "");
  EXPECT_TRUE(g.alpha);
  EXPECT_EQ(g.count, 12u);
  Fixture h;
  EXPECT_EQ(h.parse({"-bn", "5", "-a"}), "");
  EXPECT_TRUE(h.beta && h.alpha);
  EXPECT_EQ(h.count, 5u);

  // An unknown letter in a group stops the parse at that argument.
  Fixture k;
  EXPECT_EQ(k.parse({"-ax"}), "Unrecognized token: -ax");
  EXPECT_TRUE(k.alpha);
}

TEST(ParserTest, UnrecognizedAndRepeated) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--foo"}, "Unrecognized token: --foo"},
      {{"word"}, "Unrecognized token: word"},
      {{"--"}, "Unrecognized token: --"},
      {{"-"}, "Unrecognized token: -"},
      {{"---x"}, "Unrecognized token: ---x"},
      {{""}, "Unrecognized token: "},
      {{"--Size", "64"}, "Unrecognized token: --Size"},
      // Each option may appear once; the second is left over.
      {{"--size", "64", "--size", "128"}, "Unrecognized token: --size"},
      {{"--size=64", "--size=128"}, "Unrecognized token: --size=128"},
      {{"-a", "--alpha"}, "Unrecognized token: --alpha"},
  };
  for (const auto& [args, message] : cases) {
    Fixture f;
    EXPECT_EQ(f.parse(args), message) << args[0];
  }
  // Nothing is rolled back: values before the failure stay set.
  Fixture f;
  EXPECT_NE(f.parse({"--name", "avx", "--size", "x"}), "");
  EXPECT_EQ(f.name, "avx");
}

TEST(ParserTest, HelpStopsTheParse) {
  for (const char* name : {"-?", "-h", "--help"}) {
    Fixture f;
    EXPECT_EQ(f.parse({"-n", "3", name, "--bogus", "-n", "x"}), "") << name;
    EXPECT_TRUE(f.help) << name;
    EXPECT_EQ(f.count, 3u) << name;
  }
  Fixture f;
  EXPECT_EQ(f.parse({"--bogus", "-h"}), "Unrecognized token: --bogus");
  EXPECT_FALSE(f.help);
}

TEST(ParserTest, EmptyArgumentsChangeNothing) {
  Fixture f;
  EXPECT_EQ(f.parse({}), "");
  EXPECT_EQ(f.count, 0u);
  EXPECT_EQ(f.size, 192u);
  EXPECT_EQ(f.name, "first");
  EXPECT_FALSE(f.alpha || f.beta || f.help);
}

TEST(ParserTest, ProgramNameFromPath) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"C:\\bench\\prog.exe", "prog.exe"}, {"./prog", "prog"}, {"/usr/bin/zelvo", "zelvo"},
      {"prog", "prog"},  {"", ""}, {"dir/", ""}, {"a\\b/c", "c"}};
  for (const auto& [path, name] : cases) {
    Fixture f;
    EXPECT_EQ(f.command_line.program_name(), "<executable>");
    const ArgList args{path, {"--bogus"}};
    // The name is replaced even when the parse fails.
    EXPECT_FALSE(f.command_line.parse_args(args).ok());
    EXPECT_EQ(f.command_line.program_name(), name) << path;
  }
  // An empty or absent argument vector gives an empty path.
  EXPECT_EQ(ArgList::from_main(0, nullptr).program_path, "");
  const char* argv[] = {"/x/zelvo", "-n", "4", nullptr};
  const ArgList list = ArgList::from_main(3, argv);
  EXPECT_EQ(list.program_path, "/x/zelvo");
  EXPECT_EQ(list.args, (std::vector<std::string>{"-n", "4"}));
}

TEST(ParserTest, CopiesShareVariablesAndName) {
  Fixture f;
  CommandLine copy = f.command_line;
  const ArgList args{"/bin/other", {"-n", "9"}};
  EXPECT_TRUE(copy.parse_args(args).ok());
  EXPECT_EQ(f.count, 9u);
  EXPECT_EQ(f.command_line.program_name(), "other");
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
    EXPECT_EQ(option.check_declaration().message, message);
    CommandLine command_line;
    command_line.add_node(option);
    const ArgList args{"prog", {"--t", "v"}};
    EXPECT_EQ(command_line.parse_args(args).message, message);
  }
  // Value options with choices are fine.
  EXPECT_TRUE(Option(text, "t").add_name("--t").set_choices({"a"}).check_declaration().ok());
}

TEST(ParserTest, AddNameSplitsShortGroups) {
  bool flag = false;
  EXPECT_EQ(Option(flag).add_name("-xy").names(), (std::vector<std::string>{"-x", "-y"}));
  EXPECT_EQ(Option(flag).add_name("--xy").names(), (std::vector<std::string>{"--xy"}));
  EXPECT_EQ(Option(flag).add_name("-x").names(), (std::vector<std::string>{"-x"}));
  EXPECT_EQ(Option(flag).add_name("xyz").names(), (std::vector<std::string>{"xyz"}));
}

TEST(ParserTest, HasPrefix) {
  EXPECT_TRUE(cli::has_prefix("-", 2, "--size"));
  EXPECT_FALSE(cli::has_prefix("-", 1, "--size"));
  EXPECT_TRUE(cli::has_prefix("-", 1, "-s64"));
  EXPECT_FALSE(cli::has_prefix("-", 2, "--"));
  EXPECT_FALSE(cli::has_prefix("-", 1, "-"));
  EXPECT_FALSE(cli::has_prefix("-", 2, "---x"));
  EXPECT_FALSE(cli::has_prefix("-", 1, ""));
  EXPECT_FALSE(cli::has_prefix("", 1, "-s"));
  EXPECT_FALSE(cli::has_prefix("-", 0, "-s"));
  EXPECT_TRUE(cli::has_prefix("-/", 1, "/s"));
}

// Command lines with other evaluation modes and a count option of given occurrences.
struct ModeFixture {
  bool alpha = false;
  bool help = false;
  std::uint32_t count = 0;
  ArgList held;

  std::string parse(cli::EvalMode mode, std::vector<std::string> args,
                    cli::Occurrences count_occurrences = {0, 1}) {
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

TEST(ParserModeTest, RelaxedSkipsUnknownArguments) {
  ModeFixture f;
  EXPECT_EQ(f.parse(cli::EvalMode::relaxed, {"junk", "-a", "--what", "-n", "3"}), "");
  EXPECT_TRUE(f.alpha);
  EXPECT_EQ(f.count, 3u);
  // The same arguments in mode "any" stop at the first unknown one.
  ModeFixture g;
  EXPECT_EQ(g.parse(cli::EvalMode::any, {"junk", "-a"}), "Unrecognized token: junk");
}

TEST(ParserModeTest, SequenceTakesChildrenInOrder) {
  ModeFixture f;
  EXPECT_EQ(f.parse(cli::EvalMode::sequence, {"-a", "-n", "3"}), "");
  EXPECT_TRUE(f.alpha);
  EXPECT_EQ(f.count, 3u);
  // Out of order: -a's turn is over once -n is seen, so -a is left over.
  ModeFixture g;
  EXPECT_EQ(g.parse(cli::EvalMode::sequence, {"-n", "3", "-a"}), "Unrecognized token: -a");
  EXPECT_EQ(g.count, 3u);
  // A stop from a child ends the whole parse at once.
  ModeFixture h;
  EXPECT_EQ(h.parse(cli::EvalMode::sequence, {"-n", "x"}),
            "Unable to convert 'x' to destination type");
  ModeFixture k;
  EXPECT_EQ(k.parse(cli::EvalMode::sequence, {"-a", "-h", "junk"}), "");
  EXPECT_TRUE(k.help);
}

TEST(ParserModeTest, OccurrenceMessages) {
  for (const auto mode : {cli::EvalMode::any, cli::EvalMode::sequence, cli::EvalMode::relaxed}) {
    // A required option that is missing.
    ModeFixture f;
    EXPECT_EQ(f.parse(mode, {"-a"}, {1, 1}),
              "Unrecognized argument '-a' while parsing: -n <count>");
    ModeFixture g;
    EXPECT_EQ(g.parse(mode, {}, {1, 1}), "Expected: -n <count>");
    // Enough matches pass the check.
    ModeFixture h;
    EXPECT_EQ(h.parse(mode, {"-n", "1", "-n", "2"}, {2, 0}), "");
    EXPECT_EQ(h.count, 2u);
    ModeFixture k;
    EXPECT_EQ(k.parse(mode, {"-n", "1"}, {2, 0}),
              "Unrecognized argument '-n' while parsing: -n <count>");
  }
}

TEST(ParserModeTest, UnknownModeFails) {
  ModeFixture f;
  EXPECT_EQ(f.parse(static_cast<cli::EvalMode>(7), {"-a"}),
            "Unknown evaluation mode; not one of 'any', 'sequence', or 'relaxed'.");
  EXPECT_FALSE(f.alpha);
}

TEST(ParserTest, OutcomeStates) {
  // The states the group relies on: declined leaves the cursor, consumed moves it,
  // the help flag asks to stop everything.
  bool flag = false;
  bool help = false;
  const std::vector<std::string> args = {"-x", "-h"};
  cli::TokenCursor cursor(cli::default_style(), args);
  const cli::ParseOutcome declined = Option(flag).add_name("-a").parse_tokens(cursor);
  ASSERT_TRUE(declined.ok() && declined.state);
  EXPECT_EQ(declined.state->kind, MatchKind::declined);
  EXPECT_TRUE(declined.state->cursor == cursor);

  cursor.next_argument();
  const cli::ParseOutcome stop = cli::HelpOption(help).parse_tokens(cursor);
  ASSERT_TRUE(stop.ok() && stop.state);
  EXPECT_EQ(stop.state->kind, MatchKind::stop_all);
  EXPECT_TRUE(stop.state->cursor.at_end());
}

}  // namespace
