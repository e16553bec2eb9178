// Writing export files: every failure is an error naming the file, and a file
// that cannot be written keeps what it held.
#include "Mainform/CurveExport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "Diffunit/Diffunit.h"
#include "tests/test_support.h"

namespace {

// The message WriteExportFile refuses with, or "" when it writes.
std::string FailureOf(const char* name, const std::string& bytes) {
  try {
    WriteExportFile(QString::fromLatin1(name), bytes);
  } catch (const TError& error) {
    return error.what();
  }
  return "";
}

}  // namespace

TEST(CurveExport, UnwritableFileOrFolderIsAnErrorAndKeepsTheOldFile) {
  TWorkDir work;
  WriteFile("C1(t).txt", "old content\r\n");
  ASSERT_EQ(chmod("C1(t).txt", 0444), 0);
  ASSERT_EQ(chmod(".", 0755), 0);
  {
    TUnprivileged user;
    if (!user.Effective()) GTEST_SKIP() << "cannot test file permissions as root";
    EXPECT_EQ(FailureOf("C1(t).txt", "0.0001 ; 720\r\n"),
              "Cannot write C1(t).txt: Permission denied");
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

TEST(CurveExport, FullDiskOrAFolderInTheWayIsAnError) {
  TWorkDir work;
  ASSERT_EQ(symlink("/dev/full", "C1(t).txt"), 0);
  EXPECT_EQ(FailureOf("C1(t).txt", "0.0001 ; 720\r\n"),
            "Cannot write C1(t).txt: No space left on device");
  ASSERT_EQ(mkdir("N1(t).txt", 0755), 0);
  EXPECT_EQ(FailureOf("N1(t).txt", "0.0001 ; 720\r\n"), "Cannot write N1(t).txt: Is a directory");
}
