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
  // A short name of its own, whatever the target's length.
  EXPECT_EQ(temporary_sibling("r.json", 7), ".zelvo-7.tmp");
  EXPECT_EQ(temporary_sibling("out/r.json", 7), "out/.zelvo-7.tmp");
  EXPECT_EQ(temporary_sibling("/a.b/" + std::string(250, 'n'), 12), "/a.b/.zelvo-12.tmp");
  EXPECT_EQ(temporary_sibling("C:\\runs\\r.json", 3), "C:\\runs\\.zelvo-3.tmp");
  EXPECT_EQ(temporary_sibling("C:/runs\\sub/r.json", 3), "C:/runs\\sub/.zelvo-3.tmp");
}

TEST(FileOutput, LinksAreFollowedFromTheirOwnFolder) {
  EXPECT_EQ(link_target_path("link.json", "real.json"), "real.json");
  EXPECT_EQ(link_target_path("runs/link.json", "../real.json"), "runs/../real.json");
  EXPECT_EQ(link_target_path("/dev/stdout", "/proc/self/fd/1"), "/proc/self/fd/1");
  EXPECT_EQ(link_target_path("runs/link.json", "/srv/r.json"), "/srv/r.json");
}

TEST(FileOutput, StickyFoldersLetOnlyOwnersReplace) {
  // user, file owner, folder owner
  const ReplaceFacts open_folder{false, false, 1000, 0, 0};
  const ReplaceFacts others_file{true, false, 1000, 1001, 0};
  const ReplaceFacts own_file{true, false, 1000, 1000, 0};
  const ReplaceFacts own_folder{true, false, 1000, 1001, 1000};
  const ReplaceFacts privileged{true, true, 0, 1001, 1002};
  EXPECT_TRUE(may_replace(open_folder));
  EXPECT_FALSE(may_replace(others_file));  // /tmp/r.json of another user
  EXPECT_TRUE(may_replace(own_file));
  EXPECT_TRUE(may_replace(own_folder));
  EXPECT_TRUE(may_replace(privileged));
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
