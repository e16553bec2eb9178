// A file that kelvane-run writes as the run goes and that replaces its target
// only when everything is written: until then, and whenever anything fails,
// an existing file keeps what it held. The Qt-free sibling of the window's
// QSaveFile exports.
#pragma once

#include <cstdio>
#include <string>

class TOutputFile {
 public:
  // Opens a new file beside `target`. Throws TError "Cannot write <target>:
  // <reason>" when none can be made there or `target` is a folder.
  explicit TOutputFile(std::string target);
  ~TOutputFile();  // removes the new file unless it was committed
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  void Write(const std::string& text);
  // Puts the written file in the target's place, with the target's
  // permissions when it existed. Throws TError as above (adding that the
  // target keeps what it held) when any write failed.
  void Commit();
  const std::string& Target() const { return TargetName; }

 private:
  [[noreturn]] void Fail(int error);
  std::string TargetName;
  std::string TemporaryName;
  std::FILE* File = nullptr;
  int WriteError = 0;  // errno of the first failed write
};
