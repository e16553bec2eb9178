#include "Session/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

// The file that writing `target` replaces: the target itself, or, for a
// symbolic link, the file it points at (which need not exist yet).
std::string PlaceOf(const std::string& target) {
  std::error_code error;
  if (!std::filesystem::is_symlink(target, error)) return target;
  const std::filesystem::path place = std::filesystem::weakly_canonical(target, error);
  return error ? target : place.string();
}

}  // namespace

TOutputFile::TOutputFile(std::string target)
    : TargetName(std::move(target)), PlaceName(PlaceOf(TargetName)) {
  struct stat status {};
  if (stat(PlaceName.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) Fail(EISDIR);
    // Renaming over a read-only file would succeed in a writable folder; the
    // user made it read-only to keep it. (Effective ids: what this process may do.)
    if (faccessat(AT_FDCWD, PlaceName.c_str(), W_OK, AT_EACCESS) != 0) Fail(errno);
  }
  std::vector<char> pattern(PlaceName.begin(), PlaceName.end());
  const char suffix[] = ".kelvane-XXXXXX";
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
      stat(PlaceName.c_str(), &status) == 0 ? status.st_mode & 07777 : NewFileMode();
  if (WriteError == 0 && std::fflush(File) != 0) WriteError = errno;
  if (WriteError == 0 && fchmod(fileno(File), mode) != 0) WriteError = errno;
  // The data must be on the disk before the new name points at it.
  if (WriteError == 0 && fsync(fileno(File)) != 0) WriteError = errno;
  std::FILE* file = File;
  File = nullptr;
  if (std::fclose(file) != 0 && WriteError == 0) WriteError = errno;
  if (WriteError == 0 && std::rename(TemporaryName.c_str(), PlaceName.c_str()) != 0)
    WriteError = errno;
  if (WriteError == 0) return;
  unlink(TemporaryName.c_str());
  Fail(WriteError);
}

void TOutputFile::Fail(int error) const {
  std::string message = "Cannot write " + TargetName + ": " + std::strerror(error);
  struct stat status {};
  if (stat(PlaceName.c_str(), &status) == 0 && S_ISREG(status.st_mode))
    message += " (" + TargetName + " keeps what it held)";
  throw TError(message);
}

void WriteFileAtomically(const std::string& fileName, const std::string& bytes) {
  TOutputFile file(fileName);
  file.Write(bytes);
  file.Commit();
}
