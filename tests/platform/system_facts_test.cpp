#include "platform/system_facts.h"

#include <gtest/gtest.h>

#include "platform/file_output.h"

namespace platform {
namespace {

TEST(SystemFacts, BracketedChoiceOfKernelChoiceFiles) {
  EXPECT_EQ(bracketed_choice("always [madvise] never\n"), "madvise");
  EXPECT_EQ(bracketed_choice("[always] madvise never"), "always");
  EXPECT_EQ(bracketed_choice("always madvise never"), "");  // nothing selected
  EXPECT_EQ(bracketed_choice("always [madvise"), "");        // cut short
  EXPECT_EQ(bracketed_choice(""), "");
}

TEST(SystemFacts, OsReleaseValues) {
  const char* text =
      "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
      "NAME=\"Debian GNU/Linux\"\n"
      "VERSION_ID=\"12\"\n"
      "ID=debian\n"
      "  VARIANT='Server \\'edition\\''\r\n"
      "EMPTY=\n";
  EXPECT_EQ(os_release_value(text, "NAME"), "Debian GNU/Linux");  // not PRETTY_NAME's
  EXPECT_EQ(os_release_value(text, "VERSION_ID"), "12");
  EXPECT_EQ(os_release_value(text, "ID"), "debian");  // unquoted
  EXPECT_EQ(os_release_value(text, "VARIANT"), "Server 'edition'");
  EXPECT_EQ(os_release_value(text, "EMPTY"), "");
  EXPECT_EQ(os_release_value(text, "VERSION"), "");  // absent; VERSION_ID is another key
  EXPECT_EQ(os_release_value("", "NAME"), "");
}

ProcessorRelation record(RelationKind kind, std::vector<GroupAffinity> masks, std::uint32_t node = 0) {
  ProcessorRelation r;
  r.kind = kind;
  r.masks = std::move(masks);
  r.node_number = node;
  return r;
}

TEST(SystemFacts, CountsProcessorsCoresPackagesNodesAndGroups) {
  EXPECT_EQ(count_processors({}).logical_processors, 0u);
  // Two packages of two SMT cores; the second package in group 1, a NUMA node
  // per package given as one record per group, plus caches that count nothing.
  const std::vector<ProcessorRelation> records = {
      record(RelationKind::kProcessorCore, {{0, 0x3}}),
      record(RelationKind::kProcessorCore, {{0, 0xC}}),
      record(RelationKind::kProcessorCore, {{1, 0x3}}),
      record(RelationKind::kProcessorCore, {{1, 0xC}}),
      record(RelationKind::kCache, {{0, 0xF}}),
      record(RelationKind::kProcessorPackage, {{0, 0xF}}),
      record(RelationKind::kProcessorPackage, {{1, 0xF}}),
      record(RelationKind::kNumaNode, {{0, 0xF}}, 0),
      record(RelationKind::kNumaNode, {{1, 0x3}}, 1),
      record(RelationKind::kNumaNode, {{1, 0xC}}, 1),
  };
  const ProcessorCounts c = count_processors(records);
  EXPECT_EQ(c.logical_processors, 8u);
  EXPECT_EQ(c.cores, 4u);
  EXPECT_EQ(c.packages, 2u);
  EXPECT_EQ(c.numa_nodes, 2u);
  EXPECT_EQ(c.processor_groups, 2u);

  // The node a placement entry lies on, found in the tree of the same records.
  const Topology tree = detect_topology(records);
  EXPECT_EQ(numa_node_of(tree, LogicalProcessor{0, 0, 2, 1}), 1u);
  EXPECT_EQ(numa_node_of(tree, LogicalProcessor{0, 0, 2, 0}), 0u);
  EXPECT_EQ(numa_node_of(tree, LogicalProcessor{0, 0, 9, 0}), std::nullopt);
}

TEST(FileOutput, TemporarySiblingStaysInTheFolder) {
  EXPECT_EQ(temporary_sibling("r.json", 7), ".r.json.7.tmp");
  EXPECT_EQ(temporary_sibling("out/r.json", 7), "out/.r.json.7.tmp");
  EXPECT_EQ(temporary_sibling("/a.b/r", 12), "/a.b/.r.12.tmp");
  EXPECT_EQ(temporary_sibling("C:\\runs\\r.json", 3), "C:\\runs\\.r.json.3.tmp");
  EXPECT_EQ(temporary_sibling("C:/runs\\sub/r.json", 3), "C:/runs\\sub/.r.json.3.tmp");
}

TEST(FileOutput, ReasonsReadTheSameOnEverySystem) {
  EXPECT_EQ(file_error_text({FileErrorKind::kNoSuchFolder, {}}), "No such file or directory");
  EXPECT_EQ(file_error_text({FileErrorKind::kPermissionDenied, {}}), "Permission denied");
  EXPECT_EQ(file_error_text({FileErrorKind::kIsFolder, {}}), "Is a directory");
  EXPECT_EQ(file_error_text({FileErrorKind::kNoSpace, {}}), "No space left on device");
  EXPECT_EQ(file_error_text({FileErrorKind::kOther, "File too large"}), "File too large");
  EXPECT_EQ(file_error_text({FileErrorKind::kOther, {}}), "unknown error");
}

}  // namespace
}  // namespace platform
