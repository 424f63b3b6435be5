#include "sync/files/file_error.h"

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
    case FileStep::Registry: return "registry";
    case FileStep::LoadFont: return "load-font";
    case FileStep::UnloadFont: return "unload-font";
    case FileStep::Notify: return "notify";
    case FileStep::Record: return "record";
  }
  return "unknown";
}

std::string ReasonText(const FileError& error, Language language) {
  const bool english = language == Language::English;
  switch (error.kind) {
    case FileErrorKind::System: break;
    case FileErrorKind::SameFile:
      return english ? "source and target are the same file" : "源文件与目标文件是同一个文件";
    case FileErrorKind::NoSystemCode:
      return english ? "refused by the system, which gave no reason" : "系统拒绝，未说明原因";
    case FileErrorKind::ExitStatus:
      return english ? "exited with status " + std::to_string(error.code) : "退出状态为" + std::to_string(error.code);
    case FileErrorKind::Truncated:
      return english ? "the file ended early: it changed while being read" : "文件提前结束：读取期间被修改";
    case FileErrorKind::ControlCharacter:
      return english ? "the font's name holds a control character" : "字体名称中含有控制字符";
  }
  return SystemErrorText(error.code, language);
}

}  // namespace quorvane
