#include "StatusDecoding.h"

#include <algorithm>

namespace {

const StatusEntry* find(std::span<const StatusEntry> table, std::int64_t code)
{
    auto it = std::find_if(table.begin(), table.end(),
                           [code](const StatusEntry& e) { return e.code == code; });
    return it == table.end() ? nullptr : &*it;
}

DecodedStatus fromEntry(const StatusEntry& e)
{
    return {e.level, std::string(e.message), std::string(e.advice)};
}

}  // namespace

DecodedStatus decodeStatusInfo(std::int64_t code, std::string_view printerName)
{
    if (const StatusEntry* e = find(baseStatus(), code))
        return fromEntry(*e);

    // Only the first family naming the model is consulted, even if it lacks the code.
    for (const StatusSeries& series : statusSeries()) {
        if (std::find(series.models.begin(), series.models.end(), printerName) == series.models.end())
            continue;
        if (const StatusEntry* e = find(series.table, code))
            return fromEntry(*e);
        break;
    }

    return {3, "错误码" + std::to_string(code), "请重启设备，如果错误还存在，请联系厂家"};
}

DecodedStatus noAnswerStatus(Link link)
{
    return {3, "连接断开", link == Link::usb ? "请检查设备的连接情况" : "连接断开，请查看设备的网络连接情况"};
}
