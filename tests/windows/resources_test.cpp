#include <windows.h>

#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "viewer_harness.h"

namespace {

struct Control {
    DWORD style;
    short x, y, cx, cy;
    WORD id;
    std::wstring caption;
    bool operator==(const Control& other) const
    {
        return style == other.style && x == other.x && y == other.y && cx == other.cx && cy == other.cy &&
               id == other.id && caption == other.caption;
    }
};

std::ostream& operator<<(std::ostream& out, const Control& control)
{
    char text[96];
    snprintf(text, sizeof text, "id %u style %08lx at %d,%d %dx%d", control.id, control.style, control.x, control.y,
             control.cx, control.cy);
    return out << text;
}

// Reads a zero-terminated UTF-16 string or an ordinal from a template.
const WORD* ReadSzOrOrd(const WORD* p, std::wstring* text, int* ordinal)
{
    if (*p == 0xFFFF) {
        *ordinal = p[1];
        return p + 2;
    }
    *ordinal = -1;
    text->clear();
    while (*p)
        text->push_back(static_cast<wchar_t>(*p++));
    return p + 1;
}

const WORD* AlignDword(const WORD* p)
{
    return reinterpret_cast<const WORD*>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
}

std::vector<Control> ExpectedControls()
{
    std::vector<Control> controls;
    auto side = [&](WORD group, short gx, const wchar_t* title, WORD none, WORD month, WORD day, WORD hour,
                    WORD minute) {
        controls.push_back({0x50000007, gx, 5, 126, 350, group, title});
        controls.push_back({0x50000004, short(gx + 5), 19, 40, 10, none, L"設定無し"});
        for (int n = 1; n <= 12; ++n)
            controls.push_back({0x50000004, short(gx + 5), short(35 + 10 * (n - 1)), 30, 10, WORD(month + n),
                                std::to_wstring(n) + L"月"});
        for (int n = 1; n <= 31; ++n)
            controls.push_back({0x50000004, short(gx + 35), short(35 + 10 * (n - 1)), 30, 10, WORD(day + n),
                                std::to_wstring(n) + L"日"});
        for (int h = 0; h <= 23; ++h)
            controls.push_back(
                {0x50000004, short(gx + 65), short(35 + 10 * h), 30, 10, WORD(hour + h), std::to_wstring(h) + L"時"});
        for (int m = 0; m <= 50; m += 10)
            controls.push_back(
                {0x50000004, short(gx + 95), short(35 + m), 30, 10, WORD(minute + m), std::to_wstring(m) + L"分"});
    };
    side(65535, 5, L"開始時間", 1001, 2000, 3000, 4000, 5000);
    side(65534, 136, L"停止時間", 6001, 7000, 8000, 9000, 10000);
    controls.push_back({0x50010000, 177, 360, 40, 10, IDC_TIMER_SET, L"設定する"});
    controls.push_back({0x50010000, 222, 360, 40, 10, IDC_TIMER_CANCEL, L"キャンセル"});
    return controls;
}

TEST(Resources, TimerDialogTemplateIsExact)
{
    HRSRC found = FindResourceA(nullptr, "TIMER_SETTING", MAKEINTRESOURCEA(5));
    ASSERT_NE(nullptr, found);
    auto dialog = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(nullptr, found)));
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(0x00C00040u, dialog->style);
    EXPECT_EQ(0u, dialog->dwExtendedStyle);
    ASSERT_EQ(152, dialog->cdit);
    EXPECT_EQ(10, dialog->x);
    EXPECT_EQ(10, dialog->y);
    EXPECT_EQ(267, dialog->cx);
    EXPECT_EQ(375, dialog->cy);

    const WORD* p = reinterpret_cast<const WORD*>(dialog + 1);
    std::wstring text;
    int ordinal;
    p = ReadSzOrOrd(p, &text, &ordinal);
    EXPECT_TRUE(ordinal == -1 && text.empty()) << "no menu";
    p = ReadSzOrOrd(p, &text, &ordinal);
    EXPECT_TRUE(ordinal == -1 && text.empty()) << "default class";
    p = ReadSzOrOrd(p, &text, &ordinal);
    EXPECT_EQ(L"録画タイマー設定", text);
    EXPECT_EQ(10, *p++);
    p = ReadSzOrOrd(p, &text, &ordinal);
    EXPECT_EQ(L"MS Shell Dlg", text);

    std::vector<Control> controls;
    for (int i = 0; i < dialog->cdit; ++i) {
        p = AlignDword(p);
        auto item = reinterpret_cast<const DLGITEMTEMPLATE*>(p);
        Control control{item->style, item->x, item->y, item->cx, item->cy, item->id, L""};
        EXPECT_EQ(0u, item->dwExtendedStyle);
        p = reinterpret_cast<const WORD*>(item + 1);
        p = ReadSzOrOrd(p, &text, &ordinal);
        EXPECT_EQ(0x0080, ordinal) << "BUTTON class of control " << control.id;
        p = ReadSzOrOrd(p, &control.caption, &ordinal);
        WORD extra = *p++;
        p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
        controls.push_back(control);
    }
    std::vector<Control> expected = ExpectedControls();
    ASSERT_EQ(expected.size(), controls.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(expected[i], controls[i]) << "control " << i;
}

TEST(Resources, IconHasTheSizesWindowsAsksFor)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    for (int size : {16, 32, 48}) {
        HICON icon = static_cast<HICON>(LoadImageA(instance, "FERNWOODVIEW_ICON", IMAGE_ICON, size, size, 0));
        ASSERT_NE(nullptr, icon) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(size, bitmap.bmWidth);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

TEST(Platform, AnsiCodePageIsJapanese)
{
    // The settings file keeps code-page 932 paths; the test prefix must behave as a Japanese system.
    EXPECT_EQ(932u, GetACP());
}

}  // namespace

namespace {

// The manifest as Windows reads it: resource type 24, id 1, of the executable itself.
std::string ExecutableManifest()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder.resize(folder.find_last_of(L'\\') + 1);
    HMODULE exe = LoadLibraryExW((folder + L"fernwoodview.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!exe)
        return "";
    std::string text;
    if (HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(exe, found)));
        if (bytes)
            text.assign(bytes, SizeofResource(exe, found));
    }
    FreeLibrary(exe);
    return text;
}

}  // namespace

TEST(Resources, ManifestAsksForRealPixelsModernControlsAndNoElevation)
{
    std::string manifest = ExecutableManifest();
    ASSERT_FALSE(manifest.empty()) << "no manifest resource in fernwoodview.exe";
    EXPECT_NE(std::string::npos, manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"));
    EXPECT_NE(std::string::npos, manifest.find(">true/pm</dpiAware>")) << "the fallback before Windows 10 1607";
    EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
    for (const char* os : {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                           "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_NE(std::string::npos, manifest.find(os)) << os;
}
