#include "sync/file_error.h"

namespace quorvane {

std::string_view StepName(FileStep step) {
  switch (step) {
    case FileStep::Open: return "open";
    case FileStep::Read: return "read";
    case FileStep::Write: return "write";
    case FileStep::Flush: return "flush";
    case FileStep::Close: return "close";
    case FileStep::Rename: return "rename";
    case FileStep::Delete: return "delete";
  }
  return "unknown";
}

std::string ReasonText(const FileError& error, Language language) {
  if (error.kind == FileErrorKind::SameFile) {
    return language == Language::English ? "source and target are the same file" : "源文件与目标文件是同一个文件";
  }
  return SystemErrorText(error.code, language);
}

}  // namespace quorvane
