#include "app/OutputFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Diffunit/Diffunit.h"

namespace {

// Permissions for a file that did not exist: what the user's umask leaves of
// rw-rw-rw-, as any other program creating it would give.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

TOutputFile::TOutputFile(std::string target) : TargetName(std::move(target)) {
  struct stat status {};
  if (stat(TargetName.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) Fail(EISDIR);
  std::vector<char> pattern(TargetName.begin(), TargetName.end());
  const char suffix[] = ".kelvane-run-XXXXXX";
  pattern.insert(pattern.end(), suffix, suffix + sizeof suffix);
  const int descriptor = mkstemp(pattern.data());
  if (descriptor < 0) Fail(errno);
  TemporaryName = pattern.data();
  File = fdopen(descriptor, "wb");
  if (!File) {
    const int error = errno;
    close(descriptor);
    unlink(TemporaryName.c_str());
    Fail(error);
  }
}

TOutputFile::~TOutputFile() {
  if (!File) return;
  std::fclose(File);
  unlink(TemporaryName.c_str());
}

void TOutputFile::Write(const std::string& text) {
  if (WriteError != 0 || text.empty()) return;
  if (std::fwrite(text.data(), 1, text.size(), File) != text.size())
    WriteError = errno ? errno : EIO;
}

void TOutputFile::Commit() {
  struct stat status {};
  const mode_t mode =
      stat(TargetName.c_str(), &status) == 0 ? status.st_mode & 07777 : NewFileMode();
  if (WriteError == 0 && std::fflush(File) != 0) WriteError = errno;
  if (WriteError == 0 && fchmod(fileno(File), mode) != 0) WriteError = errno;
  // The data must be on the disk before the new name points at it.
  if (WriteError == 0 && fsync(fileno(File)) != 0) WriteError = errno;
  std::FILE* file = File;
  File = nullptr;
  if (std::fclose(file) != 0 && WriteError == 0) WriteError = errno;
  if (WriteError == 0 && std::rename(TemporaryName.c_str(), TargetName.c_str()) != 0)
    WriteError = errno;
  if (WriteError == 0) return;
  unlink(TemporaryName.c_str());
  Fail(WriteError);
}

void TOutputFile::Fail(int error) {
  std::string message = "Cannot write " + TargetName + ": " + std::strerror(error);
  struct stat status {};
  if (stat(TargetName.c_str(), &status) == 0 && S_ISREG(status.st_mode))
    message += " (" + TargetName + " keeps what it held)";
  throw TError(message);
}
