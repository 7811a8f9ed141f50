#include "history/flashrecord.h"

#include <array>
#include <utility>

namespace {
constexpr std::array<std::pair<FlashResult, QStringView>, 7> ResultNames{{
    {FlashResult::Running, u"running"},
    {FlashResult::Success, u"success"},
    {FlashResult::Failed, u"failed"},
    {FlashResult::AbnormalEnd, u"abnormal end"},
    {FlashResult::LaunchFailed, u"could not launch"},
    {FlashResult::Refused, u"refused"},
    {FlashResult::Interrupted, u"interrupted"},
}};
} // namespace

QString flashResultName(FlashResult result)
{
    for (const auto &[value, name] : ResultNames) {
        if (value == result)
            return name.toString();
    }
    return {};
}

std::optional<FlashResult> flashResultFromName(QStringView name)
{
    for (const auto &[value, known] : ResultNames) {
        if (known == name)
            return value;
    }
    return {};
}
