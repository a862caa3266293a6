// Folivo — multi-page TIFF editor.
// Files written over through a temporary file: all or nothing.
#include "formats/atomicfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "formats/errors.h"

namespace folivo {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("folivo-atomic-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  size_t FileCount() const {
    return std::distance(fs::directory_iterator(dir_), fs::directory_iterator());
  }
  fs::path dir_;
};

TEST_F(AtomicFileTest, CommitReplacesAndKeepsPermissions) {
  fs::path target = dir_ / "doc.tif";
  std::ofstream(target) << "old";
  chmod(target.c_str(), 0640);
  WriteFileAtomically(target.string(), "new bytes");
  EXPECT_EQ(Slurp(target), "new bytes");
  struct stat st {};
  stat(target.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(FileCount(), 1u);
}

TEST_F(AtomicFileTest, AbandonedWriteLeavesTheOldFile) {
  fs::path target = dir_ / "doc.tif";
  std::ofstream(target) << "old";
  {
    TAtomicFile file(target.string());
    file.Stream().Write("half", 4);
  }  // no Commit: as when a save fails or is aborted
  EXPECT_EQ(Slurp(target), "old");
  EXPECT_EQ(FileCount(), 1u);
}

TEST_F(AtomicFileTest, MissingFolderIsAFileError) {
  EXPECT_THROW(WriteFileAtomically((dir_ / "no" / "such.tif").string(), "x"), TFileError);
  EXPECT_EQ(FileCount(), 0u);
}

}  // namespace
}  // namespace folivo
