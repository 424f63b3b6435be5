#include "ui/main_window_layout.h"

namespace quorvane {
namespace {

constexpr ListColumn kFileColumns[] = {
    {.title = "序号", .width = 50},
    {.title = "文件名", .width = 130},
    {.title = "文件路径", .width = 350},
    {.title = "状态", .width = 60},
};

constexpr std::string_view kFeatureText =
    "软件功能：批量复制源（字体）文件夹下的所有文件到目标（字体）文件夹，自动忽略或替换同名（字体）文件。"
    "免除了手动同步（字体）文件夹时，需要频繁确认是否需要替换同名（字体）文件的烦恼。";
constexpr std::string_view kTargetNoteText =
    "说明：WinXP、Win7、Win8、Win10系统默认字体文件夹为“C:\\Windows\\Fonts”，"
    "如无特殊情况，无需修改“目标字体文件夹”编辑框内的设置。";

// The window's stored position (50, 50) is not used: the frame centres it.
constexpr Element kElements[] = {
    {.name = kMainWindowName, .kind = Kind::Window, .rect = {50, 50, 718, 567}, .text = "Quorvane V1.7 - Tallowmere专用"},
    {.name = "按钮_清空", .kind = Kind::Button, .rect = {512, 472, 80, 32}, .text = "清空", .tabStop = true},
    {.name = "单选框_同名替换",
     .kind = Kind::RadioBox,
     .container = "分组框3",
     .rect = {24, 56, 80, 24},
     .text = "同名替换",
     .tabStop = true},
    {.name = "单选框_同名忽略",
     .kind = Kind::RadioBox,
     .container = "分组框3",
     .rect = {24, 24, 80, 24},
     .text = "同名忽略",
     .tabStop = true,
     .checked = true},
    {.name = "分组框3", .kind = Kind::GroupBox, .rect = {568, 56, 120, 100}, .text = "高级选项"},
    {.name = "时钟1", .kind = Kind::Timer, .rect = {376, 472, 26, 26}, .visible = false},
    {.name = "进度条1", .kind = Kind::ProcessBar, .container = "分组框2", .rect = {24, 264, 616, 16}},
    {.name = "按钮_帮助", .kind = Kind::Button, .rect = {120, 472, 80, 32}, .text = "帮助", .tabStop = true},
    {.name = "按钮_官网", .kind = Kind::Button, .rect = {24, 472, 80, 32}, .text = "官网", .tabStop = true},
    {.name = "按钮_结束",
     .kind = Kind::Button,
     .rect = {608, 472, 80, 32},
     .text = "结束",
     .visible = false,
     .tabStop = true},
    {.name = "状态条1", .kind = Kind::StatusBar, .rect = {0, 0, 0, 20}},
    {.name = "按钮_执行", .kind = Kind::Button, .rect = {608, 472, 80, 32}, .text = "执行", .tabStop = true},
    {.name = "透明标签2", .kind = Kind::TransLabel, .rect = {24, 16, 664, 32}, .text = kFeatureText},
    {.name = "超级列表框1",
     .kind = Kind::ListView,
     .container = "分组框2",
     .rect = {24, 72, 616, 184},
     .tabStop = true,
     .columns = kFileColumns},
    {.name = "编辑框2", .kind = Kind::EditBox, .container = "分组框2", .rect = {24, 32, 528, 20}, .tabStop = true},
    {.name = "按钮_浏览2",
     .kind = Kind::Button,
     .container = "分组框2",
     .rect = {560, 24, 80, 32},
     .text = "浏览",
     .tabStop = true},
    {.name = "分组框2", .kind = Kind::GroupBox, .rect = {24, 168, 664, 296}, .text = "源字体文件夹"},
    {.name = "透明标签1",
     .kind = Kind::TransLabel,
     .container = "分组框1",
     .rect = {24, 64, 488, 32},
     .text = kTargetNoteText},
    {.name = "编辑框1", .kind = Kind::EditBox, .container = "分组框1", .rect = {24, 32, 304, 20}, .tabStop = true},
    {.name = "按钮_默认",
     .kind = Kind::Button,
     .container = "分组框1",
     .rect = {344, 24, 80, 32},
     .text = "默认",
     .tabStop = true},
    {.name = "按钮_浏览1",
     .kind = Kind::Button,
     .container = "分组框1",
     .rect = {432, 24, 80, 32},
     .text = "浏览",
     .tabStop = true},
    {.name = "分组框1", .kind = Kind::GroupBox, .rect = {24, 56, 536, 100}, .text = "目标字体文件夹"},
};

// Dropping a folder on the window is the same as choosing it as the source.
constexpr Binding kBindings[] = {
    {.element = kMainWindowName, .event = Event::CreationComplete},
    {.element = kMainWindowName, .event = Event::FilesDropped},
    {.element = "时钟1", .event = Event::Tick},
    {.element = "按钮_清空", .event = Event::Click},
    {.element = "按钮_帮助", .event = Event::Click},
    {.element = "按钮_官网", .event = Event::Click},
    {.element = "按钮_结束", .event = Event::Click},
    {.element = "按钮_执行", .event = Event::Click},
    {.element = "按钮_浏览2", .event = Event::Click},
    {.element = "按钮_默认", .event = Event::Click},
    {.element = "按钮_浏览1", .event = Event::Click},
};

// Choosing the source folder is the first step of the job.
constexpr Layout kLayout{.elements = kElements, .bindings = kBindings, .initialFocus = "按钮_浏览2"};

}  // namespace

const Layout& MainWindowLayout() { return kLayout; }

}  // namespace quorvane
