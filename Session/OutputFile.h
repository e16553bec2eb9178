// The one way Kelvane writes a file: to a new file beside the target, which
// replaces the target only once everything is written and on the disk. Until
// then, and whenever anything fails (a full disk, a folder that cannot be
// written, a read-only target), an existing file keeps what it held, and the
// error says so. Every export of the window and of kelvane-run goes through
// here. Plain C++ (POSIX).
#pragma once

#include <cstdio>
#include <string>

class TOutputFile {
 public:
  // Opens a new file beside `target` (beside the file a symbolic link points
  // at, which the link then keeps pointing at). Throws TError
  // "Cannot write <target>: <reason>" when none can be made there, `target`
  // is a folder, or `target` exists and may not be written.
  explicit TOutputFile(std::string target);
  ~TOutputFile();  // removes the new file unless it was committed
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  void Write(const std::string& text);
  // Puts the written file in the target's place, with the target's
  // permissions when it existed. Throws TError as above (adding that the
  // target keeps what it held) when any write failed.
  void Commit();

 private:
  [[noreturn]] void Fail(int error) const;
  std::string TargetName;  // as given, for messages
  std::string PlaceName;   // the file replaced: the target, or the file its link points at
  std::string TemporaryName;
  std::FILE* File = nullptr;
  int WriteError = 0;  // errno of the first failed write
};

// Writes `bytes` to `fileName` through a TOutputFile: all at once, or not at all.
void WriteFileAtomically(const std::string& fileName, const std::string& bytes);
