// The file output on the real file system, in a fresh folder of the test's own.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/file_output.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class FileOutputBackend : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(testing::TempDir()) / (std::string("zelvo_file_") + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }
  static std::string read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // The names in the folder: no temporary file may stay.
  std::string listing() const {
    std::string names;
    for (const auto& entry : fs::directory_iterator(dir_)) names += entry.path().filename().string() + " ";
    return names;
  }

  fs::path dir_;
};

// One check before the run, one write after it.
OptError write_file(const std::string& path, std::string_view content) {
  OutputFile file;
  if (OptError e = file.prepare(path); e.failed()) return e;
  return file.write(content);
}

TEST_F(FileOutputBackend, WritesAndReplacesWholeFiles) {
  const std::string target = path("r.json");
  OutputFile probe;
  EXPECT_TRUE(probe.prepare(target).ok());
  EXPECT_EQ(listing(), "");  // the probe leaves nothing

  ASSERT_TRUE(write_file(target, "{\"a\": 1}\n").ok());
  EXPECT_EQ(read(target), "{\"a\": 1}\n");
  // A longer and then a shorter text: each replaces the file, none is appended.
  ASSERT_TRUE(write_file(target, std::string(100000, 'x')).ok());
  ASSERT_TRUE(write_file(target, "short").ok());
  EXPECT_EQ(read(target), "short");
  EXPECT_EQ(listing(), "r.json ");
}

TEST_F(FileOutputBackend, RefusesWhatCannotBeWritten) {
  struct Case {
    std::string path;
    const char* reason;
  } cases[] = {
      {path("missing/r.json"), "No such file or directory"},
      {dir_.string(), "Is a directory"},
      {"", "No such file or directory"},
  };
  for (const Case& c : cases) {
    OutputFile file;
    EXPECT_EQ(file.prepare(c.path).message(), c.reason) << c.path;
    // A write without a successful check writes nothing.
    EXPECT_TRUE(file.write("text").failed()) << c.path;
  }
  EXPECT_EQ(listing(), "");
}

}  // namespace
}  // namespace platform
