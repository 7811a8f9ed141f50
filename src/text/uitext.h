#pragma once

#include <QString>
#include <QStringList>

// One user-visible text in its two forms. Which form is shown is decided each
// time the text is made, so a change of the desktop language reaches every
// window, menu and alert created afterwards.
struct UiText {
    const char *english;
    const char *chinese;

    QString text() const;
    // Fills the "%@" placeholders of a format text, in order.
    QString arg(const QString &value) const;
    QString arg(const QString &first, const QString &second) const;
};

// True when the first of the user's preferred UI languages is a Chinese one.
bool isChineseLocale();
// The rule itself, over an explicit list of language tags (most preferred first).
bool isChineseLanguageList(const QStringList &uiLanguages);

// Replaces the "%@" placeholders of a format with the values, in order; a
// value that holds "%@" itself stays as it is.
QString fillPlaceholders(const QString &format, const QStringList &values);

namespace Ui {
inline constexpr UiText Vendor{"Vendor", "制造商"};
inline constexpr UiText Product{"Product", "产品"};
inline constexpr UiText FWVersion{"FWVersion", "固件版本"};
inline constexpr UiText Preferences{"Preferences", "偏好设置"};
inline constexpr UiText Quit{"Quit %@", "退出 %@"};
inline constexpr UiText CopyDeviceInfo{"Copy Device Info", "复制设备信息"};
inline constexpr UiText UpgradeFirmware{"Upgrade Firmware", "升级固件"};
inline constexpr UiText SelectFirmwareFile{"Select Firmware File", "选择固件文件"};
inline constexpr UiText SelectBinFile{"Please select a .bin firmware file", "请选择一个 .bin 固件文件"};
inline constexpr UiText Unknown{"Unknown", "未知"};
inline constexpr UiText Device{"Device", "设备"};
inline constexpr UiText File{"File", "文件"};
inline constexpr UiText ConfirmToStart{"Confirm to start firmware upgrade?", "确认开始升级固件?"};
inline constexpr UiText ConfirmFirmwareUpgrade{"Confirm Firmware Upgrade", "确认升级固件"};
inline constexpr UiText ConfirmUpgrade{"Confirm Upgrade", "确认升级"};
inline constexpr UiText Cancel{"Cancel", "取消"};
inline constexpr UiText FirmwareUpdating{"Firmware Updating", "升级固件中"};
inline constexpr UiText DoNotDisconnect{"Upgrading firmware, do not disconnect USB device",
                                        "正在升级固件\uFF0C请勿断开USB设备"};
inline constexpr UiText TimeoutLabel{"Upgrade timeout (seconds, 0 to disable):",
                                     "升级超时\uFF08秒\uFF0C0 表示禁用\uFF09\uFF1A"};
inline constexpr UiText Save{"Save", "保存"};
inline constexpr UiText TimeoutInvalid{"Enter a whole number of seconds from 0 to 86400.",
                                       "请输入 0 到 86400 之间的整数秒数\u3002"};
inline constexpr UiText ToolExitedAbnormally{"Upgrade tool exited abnormally!", "升级工具异常退出\uFF01"};
inline constexpr UiText UpgradeSuccessful{"Firmware upgrade successful!", "固件升级成功\uFF01"};
inline constexpr UiText UpgradeFailedMessage{"Firmware upgrade failed!", "固件升级失败\uFF01"};
inline constexpr UiText UpgradeSuccess{"Upgrade Success", "升级成功"};
inline constexpr UiText UpgradeFailed{"Upgrade Failed", "升级失败"};
inline constexpr UiText FailedToLaunch{"Failed to launch upgrade tool: %@", "无法启动升级工具: %@"};
inline constexpr UiText Ok{"OK", "确定"};
inline constexpr UiText UpgradeBusy{"Another Quorvale window is upgrading or reading a dock. Try again when it has finished.",
                                    "另一个 Quorvale 窗口正在升级或读取扩展坞\uFF0C请在其完成后再试\u3002"};
inline constexpr UiText UpgradeBusyBy{"The firmware tool is in use by %@, another copy of Quorvale or a tool it started. Try again when it has finished.",
                                      "固件工具正被 %@ 使用\uFF08另一个 Quorvale 或其启动的工具\uFF09\u3002请在其完成后再试\u3002"};
inline constexpr UiText ToolLockFailed{"Quorvale cannot take the lock that keeps two firmware tools off the dock (%@). No upgrade was started.",
                                       "Quorvale 无法获取防止两个固件工具同时访问扩展坞的锁\uFF08%@\uFF09\u3002未开始升级\u3002"};
inline constexpr UiText MoreThanOneDock{"More than one dock is connected, and the firmware tool cannot tell them apart. Unplug all docks but the one to upgrade, then try again.",
                                        "连接了多个扩展坞\uFF0C固件工具无法区分它们\u3002请拔下除要升级的扩展坞以外的所有扩展坞\uFF0C然后重试\u3002"};
inline constexpr UiText ImageMissing{"The file %@ does not exist.", "文件 %@ 不存在\u3002"};
inline constexpr UiText ImageNotAFile{"%@ is not a firmware image: it is not a regular file.",
                                      "%@ 不是固件映像\uFF1A它不是普通文件\u3002"};
inline constexpr UiText ImageUnreadable{"The file %@ cannot be read: %@", "无法读取文件 %@\uFF1A%@"};
inline constexpr UiText ImageEmpty{"The file %@ is empty.", "文件 %@ 是空的\u3002"};
inline constexpr UiText ImageTooLarge{"The file %@ is larger than 256 MiB, too large for a firmware image.",
                                      "文件 %@ 大于 256 MiB\uFF0C不可能是固件映像\u3002"};
inline constexpr UiText ImageCopyFailed{"The image could not be copied for the upgrade: %@. Nothing was written to the dock.",
                                        "无法复制固件映像以进行升级\uFF1A%@\u3002未向扩展坞写入任何内容\u3002"};
inline constexpr UiText UpgradeInterrupted{"Upgrade Interrupted", "升级中断"};
inline constexpr UiText InterruptedRead{
    "Quorvale closed before the upgrade of %@ with %@, started %@, had finished. The dock now reports firmware version %@.",
    "Quorvale 在升级完成之前已关闭\uFF1A%@\uFF0C映像 %@\uFF0C开始于 %@\u3002扩展坞现在报告的固件版本为 %@\u3002"};
inline constexpr UiText InterruptedUnread{
    "Quorvale closed before the upgrade of %@ with %@, started %@, had finished. The dock's firmware version cannot be read now: upgrade it again.",
    "Quorvale 在升级完成之前已关闭\uFF1A%@\uFF0C映像 %@\uFF0C开始于 %@\u3002现在无法读取扩展坞的固件版本\uFF1A请重新升级\u3002"};
inline constexpr UiText UpgradeHistoryMenu{"Upgrade History\u2026", "升级历史\u2026"};
inline constexpr UiText UpgradeHistoryTitle{"Upgrade History", "升级历史"};
inline constexpr UiText HistoryTime{"Time", "时间"};
inline constexpr UiText HistoryDock{"Dock", "扩展坞"};
inline constexpr UiText HistoryImage{"Image", "映像"};
inline constexpr UiText HistoryVersion{"Version", "版本"};
inline constexpr UiText HistoryResult{"Result", "结果"};
inline constexpr UiText Copy{"Copy", "复制"};
inline constexpr UiText OpenLog{"Open Log", "打开日志"};
inline constexpr UiText LogGone{"The saved log %@ no longer exists: logs under /tmp are removed when the computer restarts.",
                                "保存的日志 %@ 已不存在\uFF1A/tmp 下的日志会在计算机重启时被删除\u3002"};
inline constexpr UiText NoLog{"No log was saved for this upgrade.", "此次升级没有保存日志\u3002"};
inline constexpr UiText ResultRunning{"Running", "进行中"};
inline constexpr UiText ResultSuccess{"Success", "成功"};
inline constexpr UiText ResultFailed{"Failed", "失败"};
inline constexpr UiText ResultAbnormalEnd{"Ended abnormally", "异常结束"};
inline constexpr UiText ResultLaunchFailed{"Could not launch", "无法启动"};
inline constexpr UiText ResultRefused{"Refused", "已拒绝"};
inline constexpr UiText ResultInterrupted{"Interrupted", "已中断"};
// The About window; the first is also its menu item.
inline constexpr UiText AboutQuorvale{"About Quorvale", "关于 Quorvale"};
inline constexpr UiText AboutVersion{"Version %@", "版本 %@"};
inline constexpr UiText AboutLicense{"Free software under the MIT license.", "自由软件\uFF0C以 MIT 许可证发布\u3002"};
inline constexpr UiText AboutToolFolders{"%@ is looked for in:", "%@ 的查找位置\uFF1A"};
inline constexpr UiText AboutSettings{"Settings:", "设置\uFF1A"};
inline constexpr UiText AboutHistory{"Upgrade history:", "升级历史\uFF1A"};
inline constexpr UiText AboutLogs{"Firmware tool logs:", "固件工具日志\uFF1A"};
inline constexpr UiText DetailsLastLines{"The tool's last lines:", "工具输出的最后几行\uFF1A"};
inline constexpr UiText DetailsFailureLines{"What the tool said went wrong:", "工具报告的问题\uFF1A"};
inline constexpr UiText DetailsExitStatus{"Exit status: %@", "退出状态\uFF1A%@"};
inline constexpr UiText DetailsSignal{"Ended by signal %@", "被信号 %@ 终止"};
inline constexpr UiText DetailsLog{"Saved log: %@", "保存的日志\uFF1A%@"};
inline constexpr UiText ToolMissing{"The firmware tool Talvex_Firmware_Update is missing. Quorvale looks for it in %@ and in %@.",
                                    "缺少固件工具 Talvex_Firmware_Update\u3002Quorvale 会在 %@ 和 %@ 中查找它\u3002"};
inline constexpr UiText ToolNotExecutable{"The firmware tool %@ cannot be run: it is not executable.",
                                          "无法运行固件工具 %@\uFF1A它不可执行\u3002"};
inline constexpr UiText ReadVersionAgain{"Read Version Again", "重新读取版本"};
// The command line, quorvale-cli: its help, its refusals and its reports.
inline constexpr UiText CliHelp{
    "Usage: quorvale-cli COMMAND [OPTIONS]\n"
    "Lists Talvex docks, reads their firmware version and upgrades it, without a window.\n\n"
    "Commands:\n"
    "  list             the docks connected now, with their firmware version\n"
    "  upgrade IMAGE    flashes the image on the one dock connected\n"
    "  history          the upgrades on record, newest first\n"
    "  wait             waits until a dock is connected\n\n"
    "Every command takes --json (one JSON document on standard output) and --help.\n"
    "  --version        prints the program's version\n\n"
    "Exit status: 0 done, 1 failure, 2 nothing to do, 3 no dock found, 64 usage error.",
    "用法\uFF1Aquorvale-cli 命令 [选项]\n"
    "无需窗口即可列出 Talvex 扩展坞\u3001读取并升级其固件版本\u3002\n\n"
    "命令\uFF1A\n"
    "  list             当前连接的扩展坞及其固件版本\n"
    "  upgrade IMAGE    将映像刷写到唯一连接的扩展坞\n"
    "  history          升级记录\uFF0C最新的在前\n"
    "  wait             等待扩展坞连接\n\n"
    "每个命令都接受 --json\uFF08在标准输出上输出一个 JSON 文档\uFF09和 --help\u3002\n"
    "  --version        显示程序版本\n\n"
    "退出状态\uFF1A0 完成\uFF0C1 失败\uFF0C2 无事可做\uFF0C3 未找到扩展坞\uFF0C64 用法错误\u3002"};
inline constexpr UiText CliListHelp{
    "Usage: quorvale-cli list [--json]\n"
    "Lists the docks connected now: manufacturer, product and firmware version.\n"
    "Exit status: 0 docks listed, 2 no dock connected.",
    "用法\uFF1Aquorvale-cli list [--json]\n"
    "列出当前连接的扩展坞\uFF1A制造商\u3001产品和固件版本\u3002\n"
    "退出状态\uFF1A0 已列出\uFF0C2 未连接扩展坞\u3002"};
inline constexpr UiText CliUpgradeHelp{
    "Usage: quorvale-cli upgrade IMAGE [--yes] [--timeout SECONDS] [--verbose] [--json]\n"
    "Flashes the image on the one dock connected, after a question on the terminal.\n"
    "  --yes              upgrades without asking (needed without a terminal)\n"
    "  --timeout SECONDS  the longest the tool may go without printing, 0 to 86400\n"
    "                     (0: no limit); the Preferences' value by default\n"
    "  --verbose          shows the tool's output\n"
    "Exit status: 0 upgraded, 1 failed or refused, 3 no dock connected.",
    "用法\uFF1Aquorvale-cli upgrade IMAGE [--yes] [--timeout SECONDS] [--verbose] [--json]\n"
    "在终端上确认后\uFF0C将映像刷写到唯一连接的扩展坞\u3002\n"
    "  --yes              不询问直接升级\uFF08没有终端时必须使用\uFF09\n"
    "  --timeout SECONDS  工具不输出任何内容的最长时间\uFF0C0 到 86400\n"
    "                     \uFF080\uFF1A不限制\uFF09\uFF1B默认为偏好设置中的值\n"
    "  --verbose          显示工具的输出\n"
    "退出状态\uFF1A0 已升级\uFF0C1 失败或被拒绝\uFF0C3 未连接扩展坞\u3002"};
inline constexpr UiText CliHistoryHelp{
    "Usage: quorvale-cli history [--limit N] [--json]\n"
    "The upgrades on record, newest first; --limit N shows the N newest.",
    "用法\uFF1Aquorvale-cli history [--limit N] [--json]\n"
    "升级记录\uFF0C最新的在前\uFF1B--limit N 只显示最新的 N 条\u3002"};
inline constexpr UiText CliWaitHelp{
    "Usage: quorvale-cli wait [--timeout SECONDS] [--json]\n"
    "Waits until a dock is connected and lists it; --timeout gives up after so many\n"
    "seconds (0 to 86400; 0, the default, waits without a limit).\n"
    "Exit status: 0 a dock is connected, 3 none within the timeout.",
    "用法\uFF1Aquorvale-cli wait [--timeout SECONDS] [--json]\n"
    "等待扩展坞连接并列出它\uFF1B--timeout 在指定秒数后放弃\n"
    "\uFF080 到 86400\uFF1B默认的 0 表示无限等待\uFF09\u3002\n"
    "退出状态\uFF1A0 已连接扩展坞\uFF0C3 超时仍未连接\u3002"};
inline constexpr UiText CliNoCommand{"No command given. Try \"quorvale-cli --help\".",
                                     "未指定命令\u3002请尝试 \"quorvale-cli --help\"\u3002"};
inline constexpr UiText CliUnknownCommand{"Unknown command %@. Try \"quorvale-cli --help\".",
                                          "未知命令 %@\u3002请尝试 \"quorvale-cli --help\"\u3002"};
inline constexpr UiText CliUnknownOption{"Unknown option %@. Try \"quorvale-cli %@ --help\".",
                                         "未知选项 %@\u3002请尝试 \"quorvale-cli %@ --help\"\u3002"};
inline constexpr UiText CliMissingValue{"%@ needs a value. Try \"quorvale-cli %@ --help\".",
                                        "%@ 需要一个值\u3002请尝试 \"quorvale-cli %@ --help\"\u3002"};
inline constexpr UiText CliExtraArgument{"Unexpected argument %@. Try \"quorvale-cli %@ --help\".",
                                         "多余的参数 %@\u3002请尝试 \"quorvale-cli %@ --help\"\u3002"};
inline constexpr UiText CliMissingImage{"upgrade needs the image file. Try \"quorvale-cli upgrade --help\".",
                                        "upgrade 需要映像文件\u3002请尝试 \"quorvale-cli upgrade --help\"\u3002"};
inline constexpr UiText CliBadTimeout{"--timeout takes a whole number of seconds from 0 to 86400, not %@.",
                                      "--timeout 需要 0 到 86400 之间的整数秒数\uFF0C而不是 %@\u3002"};
inline constexpr UiText CliBadLimit{"--limit takes a whole number from 0 up, not %@.",
                                    "--limit 需要一个不小于 0 的整数\uFF0C而不是 %@\u3002"};
inline constexpr UiText CliNoDock{"No dock is connected.", "未连接扩展坞\u3002"};
inline constexpr UiText CliDockGone{"The dock is no longer connected. Nothing was written to the dock.",
                                    "扩展坞已不再连接\u3002未向扩展坞写入任何内容\u3002"};
inline constexpr UiText CliConfirmPrompt{"Upgrade? [y/N] ", "是否升级\uFF1F[y/N] "};
inline constexpr UiText CliNotConfirmed{"Not upgraded: the upgrade was not confirmed.", "未升级\uFF1A升级未被确认\u3002"};
inline constexpr UiText CliNoTerminal{"Not upgraded: there is no terminal to ask for confirmation. Add --yes to upgrade without asking.",
                                      "未升级\uFF1A没有可用于确认的终端\u3002添加 --yes 可不经询问直接升级\u3002"};
inline constexpr UiText CliFlashGoesOn{"The firmware upgrade goes on; quorvale-cli will stop when it ends.",
                                       "固件升级仍在继续\uFF1Bquorvale-cli 将在升级结束后停止\u3002"};
inline constexpr UiText CliVersionNow{"Firmware version now: %@", "当前固件版本\uFF1A%@"};
inline constexpr UiText CliToolOutput{"The tool's output:", "工具的输出\uFF1A"};
inline constexpr UiText CliNoHistory{"No upgrades on record.", "没有升级记录\u3002"};
inline constexpr UiText CliWaitTimedOut{"No dock was connected within %@ s.", "%@ 秒内未连接扩展坞\u3002"};
// Read by screen readers only: the names of controls that show no text of their own.
inline constexpr UiText Docks{"Docks", "扩展坞"};
inline constexpr UiText UpgradeProgress{"Upgrade progress", "升级进度"};
inline constexpr UiText UpgradesTable{"Upgrades", "升级记录"};

// Every pair, in catalogue order; the tests walk it.
inline constexpr UiText All[] = {
    Vendor, Product, FWVersion, Preferences, Quit, CopyDeviceInfo, UpgradeFirmware,
    SelectFirmwareFile, SelectBinFile, Unknown, Device, File, ConfirmToStart,
    ConfirmFirmwareUpgrade, ConfirmUpgrade, Cancel, FirmwareUpdating, DoNotDisconnect,
    TimeoutLabel, Save, TimeoutInvalid, ToolExitedAbnormally, UpgradeSuccessful, UpgradeFailedMessage,
    UpgradeSuccess, UpgradeFailed, FailedToLaunch, Ok, UpgradeBusy, Docks, UpgradeProgress,
    UpgradeBusyBy, ToolLockFailed, MoreThanOneDock, ImageMissing, ImageNotAFile, ImageUnreadable, ImageEmpty,
    ImageTooLarge, ImageCopyFailed, UpgradeInterrupted, InterruptedRead, InterruptedUnread,
    UpgradeHistoryMenu, UpgradeHistoryTitle, HistoryTime, HistoryDock, HistoryImage, HistoryVersion, HistoryResult,
    Copy, OpenLog, LogGone, NoLog, ResultRunning, ResultSuccess, ResultFailed, ResultAbnormalEnd, ResultLaunchFailed,
    ResultRefused, ResultInterrupted, UpgradesTable,
    AboutQuorvale, AboutVersion, AboutLicense, AboutToolFolders, AboutSettings,
    AboutHistory, AboutLogs, DetailsLastLines, DetailsFailureLines, DetailsExitStatus, DetailsSignal, DetailsLog,
    ToolMissing, ToolNotExecutable, ReadVersionAgain,
    CliHelp, CliListHelp, CliUpgradeHelp, CliHistoryHelp, CliWaitHelp, CliNoCommand, CliUnknownCommand,
    CliUnknownOption, CliMissingValue, CliExtraArgument, CliMissingImage, CliBadTimeout, CliBadLimit, CliNoDock,
    CliDockGone, CliConfirmPrompt, CliNotConfirmed, CliNoTerminal, CliFlashGoesOn, CliVersionNow, CliToolOutput,
    CliNoHistory, CliWaitTimedOut,
};
} // namespace Ui
