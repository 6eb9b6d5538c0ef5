#include "record/timer_spec.h"

#include <cwchar>

bool FormatTimerCaption(wchar_t* out, size_t size, bool is_start, const TimerSpec& spec)
{
    if (size == 0)
        return false;
    int n;
    if (spec.month == 0) {
        n = std::swprintf(out, size, L"%ls", is_start ? L"開始　設定無し" : L"停止　設定無し");
    } else {
        n = std::swprintf(out, size, is_start ? L"開始　%d月 %d日 %d時 %d分" : L"停止　%d月 %d日 %d時 %d分",
                          spec.month, spec.day, spec.hour, spec.minute);
    }
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[size - 1] = L'\0';
        return false;
    }
    return true;
}
