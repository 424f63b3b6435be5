#include "ui/help_window_layout.h"

#include "ui/maker.h"

namespace quorvane {
namespace {

// The maker's addresses are spliced in at compile time so the text stays one constant.
template <std::size_t N>
struct FixedText {
  char bytes[N + 1]{};
  std::size_t size = 0;
  constexpr void Append(std::string_view part) {
    for (char c : part) bytes[size++] = c;
  }
  constexpr std::string_view View() const { return {bytes, size}; }
};

constexpr std::string_view kLines[] = {
    "●软件名称：Quorvane",
    "●运行环境：WinXP、Win7、Win8、Win10",
    "●软件简介：在A电脑上显示得好好的字体，在B电脑上打开字体全变了？",
    "　　　　　那是由于两个电脑上装的字体文件不同造成的。",
    "　　　　　不同操作系统下的字体，即使同名，版本也可能不一样。如Win7下使用了“宋体”，在WinXP下的显示效果可能完全不一样。",
    "　　　　　肿么办？",
    "　　　　　如果你们的项目组，需要频繁地协同作业，那么你亟需同步每一台电脑上的字体文件夹。",
    "　　　　　手动复制字体太麻烦，用PE装字体需要启动盘，费时费力没的说。",
    "　　　　　现在好了，使用“Quorvane”，以前半个小时甚至更长时间才能完成的任务，现在只需要一分钟就能完成。",
    "●使用帮助：操作步骤过于简单，略。",
};
constexpr std::string_view kWebsiteHeading = "●官方网站：";
constexpr std::string_view kSupportHeading = "●技术支持：";
constexpr std::string_view kLineBreak = "\r\n";

constexpr std::size_t HelpTextSize() {
  std::size_t size = 0;
  for (std::string_view line : kLines) size += line.size() + kLineBreak.size();
  return size + kWebsiteHeading.size() + kWebsiteHost.size() + kLineBreak.size() + kSupportHeading.size() +
         kSupportAddress.size();
}

constexpr auto kHelpText = [] {
  FixedText<HelpTextSize()> text;
  for (std::string_view line : kLines) {
    text.Append(line);
    text.Append(kLineBreak);
  }
  text.Append(kWebsiteHeading);
  text.Append(kWebsiteHost);
  text.Append(kLineBreak);
  text.Append(kSupportHeading);
  text.Append(kSupportAddress);
  return text;
}();

constexpr Element kElements[] = {
    {.name = kHelpWindowName, .kind = Kind::Window, .rect = {0, 0, 443, 300}, .text = "帮助"},
    {.name = "透明标签1", .kind = Kind::TransLabel, .rect = {24, 16, 400, 200}, .text = kHelpText.View()},
    {.name = "按钮1", .kind = Kind::Button, .rect = {178, 224, 80, 32}, .text = "关闭", .tabStop = true},
};

constexpr Binding kBindings[] = {
    {.element = kHelpWindowName, .event = Event::CreationComplete},
    {.element = "按钮1", .event = Event::Click},
};

constexpr Layout kLayout{.elements = kElements, .bindings = kBindings};

}  // namespace

const Layout& HelpWindowLayout() { return kLayout; }

std::string_view HelpText() { return kHelpText.View(); }

}  // namespace quorvane
