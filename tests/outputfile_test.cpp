// Writing export files: every failure is an error naming the file, and a file
// that cannot be written keeps what it held.
#include "Session/OutputFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <iterator>
#include <string>

#include "Diffunit/Diffunit.h"
#include "tests/test_support.h"

namespace {

// The message WriteFileAtomically refuses with, or "" when it writes.
std::string FailureOf(const char* name, const std::string& bytes) {
  try {
    WriteFileAtomically(name, bytes);
  } catch (const TError& error) {
    return error.what();
  }
  return "";
}

}  // namespace

TEST(OutputFile, UnwritableFileOrFolderIsAnErrorAndKeepsTheOldFile) {
  TWorkDir work;
  WriteFile("C1(t).txt", "old content\r\n");
  ASSERT_EQ(chmod("C1(t).txt", 0444), 0);
  ASSERT_EQ(chmod(".", 0755), 0);
  {
    TUnprivileged user;
    if (!user.Effective()) GTEST_SKIP() << "cannot test file permissions as root";
    EXPECT_EQ(FailureOf("C1(t).txt", "0.0001 ; 720\r\n"),
              "Cannot write C1(t).txt: Permission denied (C1(t).txt keeps what it held)");
  }
  // An unwritable folder: the file cannot be created.
  ASSERT_EQ(chmod(".", 0555), 0);
  {
    TUnprivileged user;
    EXPECT_EQ(FailureOf("N1(t).txt", "0.0001 ; 720\r\n"),
              "Cannot write N1(t).txt: Permission denied");
  }
  ASSERT_EQ(chmod(".", 0755), 0);
  EXPECT_EQ(ReadFile("C1(t).txt"), "old content\r\n");
  EXPECT_NE(access("N1(t).txt", F_OK), 0);
}

// A full disk, as the process sees it: writes past a file size limit fail
// (EFBIG) as they would with ENOSPC. The export used to truncate the old file
// and leave half a block in it; now the old file stays as it was, and the same
// export succeeds once there is room again.
TEST(OutputFile, FailedWriteKeepsTheOldFileAndAFolderInTheWayIsAnError) {
  TWorkDir work;
  const std::string old = "0.0001 ; 7.2e+20\r\n";
  WriteFile("C1(t).txt", old);
  std::string curve;
  for (int i = 1; i <= 1000; ++i) curve += "0.0001 ; " + std::to_string(i) + "\r\n";
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit full{4096, limit.rlim_max};
  const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
  const std::string failure = FailureOf("C1(t).txt", curve);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  std::signal(SIGXFSZ, previousSignal);
  EXPECT_EQ(failure, "Cannot write C1(t).txt: File too large (C1(t).txt keeps what it held)");
  EXPECT_EQ(ReadFile("C1(t).txt"), old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 1);  // no leftovers
  EXPECT_EQ(FailureOf("C1(t).txt", curve), "");
  EXPECT_EQ(ReadFile("C1(t).txt"), curve);

  ASSERT_EQ(mkdir("N1(t).txt", 0755), 0);
  EXPECT_EQ(FailureOf("N1(t).txt", curve), "Cannot write N1(t).txt: Is a directory");
}

// Writing through a symbolic link replaces the file it points at, with that
// file's permissions, and leaves the link in place (a rename onto the link
// used to swap the link for a plain file).
TEST(OutputFile, WritesThroughALinkAndKeepsPermissions) {
  TWorkDir work;
  ASSERT_EQ(mkdir("data", 0755), 0);
  WriteFile("data/N1(t).txt", "old\r\n");
  ASSERT_EQ(chmod("data/N1(t).txt", 0640), 0);
  ASSERT_EQ(symlink("data/N1(t).txt", "N1(t).txt"), 0);
  EXPECT_EQ(FailureOf("N1(t).txt", "0.0001 ; 720\r\n"), "");
  struct stat status {};
  ASSERT_EQ(lstat("N1(t).txt", &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(ReadFile("data/N1(t).txt"), "0.0001 ; 720\r\n");
  ASSERT_EQ(stat("data/N1(t).txt", &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("data"), {}), 1);
}
