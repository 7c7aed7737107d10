// Reads and drives a running program's window from outside, for the
// end-to-end tests. Prints UTF-8 lines ending in LF.
//
//   qm-inspect dump TITLE        every child control: id, class, visible,
//                                enabled, x y w h in the client area, text;
//                                then the items of list boxes and drop-down
//                                lists, and the positions of sliders and
//                                progress bars
//   qm-inspect box TITLE [SECS]  waits for a visible message box so titled
//                                and prints its text (SECS 0: looks once)
//   qm-inspect click TITLE ID    posts a click to the button ID
//   qm-inspect shown TITLE       exit 0 when the window is visible
//   qm-inspect count TITLE       how many windows so titled are visible
//   qm-inspect front -           the title of the foreground window
//   qm-inspect menu -            the screen rectangle of an open popup menu
//   qm-inspect tips -            the texts of the tips shown now
//   qm-inspect dropped -         the open list of a drop-down list: the
//                                screen place of its client area, its item
//                                height and its top item; then its items
// clang-format off
#include <windows.h>  // before every other Windows header
// clang-format on

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "win32/text.h"

namespace {

using qm::win32::utf8;
using qm::win32::wide;

// Line breaks in a text shown as \r and \n, so one control stays one line.
std::string escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string textOf(HWND w) {
    std::wstring buf(4096, L'\0');
    // WM_GETTEXT reaches another process's controls.
    const auto n = ::SendMessageW(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    buf.resize(static_cast<std::size_t>(n));
    return utf8(buf);
}

std::wstring classOf(HWND w) {
    wchar_t buf[64] = {};
    ::GetClassNameW(w, buf, 64);
    return buf;
}

// The program's top-level window with this title (a message box has the
// class #32770).
HWND find(const std::wstring& title, bool box) {
    HWND found = nullptr;
    HWND after = nullptr;
    while ((after = ::FindWindowExW(nullptr, after, box ? L"#32770" : nullptr, title.c_str()))) {
        if (box && !::IsWindowVisible(after)) continue;
        if (!box && classOf(after) == L"#32770") continue;
        found = after;
        break;
    }
    return found;
}

void items(HWND w, int id, UINT countMsg, UINT lenMsg, UINT textMsg, UINT selMsg) {
    const auto n = ::SendMessageW(w, countMsg, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        const auto len = ::SendMessageW(w, lenMsg, static_cast<WPARAM>(i), 0);
        std::wstring buf(static_cast<std::size_t>(len > 0 ? len : 0) + 1, L'\0');
        ::SendMessageW(w, textMsg, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf.data()));
        buf.resize(static_cast<std::size_t>(len > 0 ? len : 0));
        std::printf("%d\titem\t%d\t%s\n", id, static_cast<int>(i), escaped(utf8(buf)).c_str());
    }
    std::printf("%d\tselected\t%d\n", id, static_cast<int>(::SendMessageW(w, selMsg, 0, 0)));
}

int dump(HWND top) {
    RECT wr{};
    ::GetWindowRect(top, &wr);
    RECT cr{};
    ::GetClientRect(top, &cr);
    POINT origin{0, 0};
    ::ClientToScreen(top, &origin);
    std::printf("window\t%d\t%ld %ld %ld %ld\tclient %ld %ld %ld %ld\t%s\n",
                ::IsWindowVisible(top) ? 1 : 0, wr.left, wr.top, wr.right - wr.left,
                wr.bottom - wr.top, origin.x, origin.y, cr.right, cr.bottom,
                escaped(textOf(top)).c_str());
    for (HWND c = ::GetWindow(top, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
        RECT r{};
        ::GetWindowRect(c, &r);
        ::MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&r), 2);
        const int id = ::GetDlgCtrlID(c);
        const std::wstring cls = classOf(c);
        std::printf("%d\t%s\t%d\t%d\t%ld %ld %ld %ld\t%s\n", id, utf8(cls).c_str(),
                    ::IsWindowVisible(c) ? 1 : 0, ::IsWindowEnabled(c) ? 1 : 0, r.left, r.top,
                    r.right - r.left, r.bottom - r.top, escaped(textOf(c)).c_str());
        if (cls == L"ListBox") {
            items(c, id, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT, LB_GETCURSEL);
            std::printf("%d\tlines\t%d %d\n", id,
                        static_cast<int>(::SendMessageW(c, LB_GETTOPINDEX, 0, 0)),
                        static_cast<int>(::SendMessageW(c, LB_GETITEMHEIGHT, 0, 0)));
        } else if (cls == L"ComboBox")
            items(c, id, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT, CB_GETCURSEL);
        else if (cls == TRACKBAR_CLASSW)
            std::printf("%d\tposition\t%d\n", id,
                        static_cast<int>(::SendMessageW(c, TBM_GETPOS, 0, 0)));
        else if (cls == PROGRESS_CLASSW)
            std::printf("%d\tposition\t%d\n", id,
                        static_cast<int>(::SendMessageW(c, PBM_GETPOS, 0, 0)));
        else if (cls == L"Button" &&
                 (::GetWindowLongW(c, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX)
            std::printf("%d\tchecked\t%d\n", id,
                        static_cast<int>(::SendMessageW(c, BM_GETCHECK, 0, 0)));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 3) {
        std::fprintf(
            stderr,
            "usage: qm-inspect dump|box|click|shown|count|front|menu|tips|dropped TITLE [ARG]\n");
        return 2;
    }
    const std::string cmd = argv[1];
    const std::wstring title = wide(argv[2]);
    if (cmd == "box") {
        // SECS 0: one look, without waiting.
        const int tenths = (argc > 3 ? std::atoi(argv[3]) : 10) * 10;
        for (int i = 0;; ++i) {
            if (HWND box = find(title, true)) {
                std::printf("%s\n", escaped(textOf(::GetDlgItem(box, 0xFFFF))).c_str());
                return 0;
            }
            if (i >= tenths) return 1;
            ::Sleep(100);
        }
    }
    if (cmd == "menu" || cmd == "tips") {
        const wchar_t* cls = cmd == "menu" ? L"#32768" : TOOLTIPS_CLASSW;
        int found = 0;
        for (HWND w = ::FindWindowExW(nullptr, nullptr, cls, nullptr); w;
             w = ::FindWindowExW(nullptr, w, cls, nullptr)) {
            if (!::IsWindowVisible(w)) continue;
            RECT r{};
            ::GetWindowRect(w, &r);
            std::printf("%ld %ld %ld %ld\t%s\n", r.left, r.top, r.right - r.left, r.bottom - r.top,
                        escaped(textOf(w)).c_str());
            ++found;
        }
        return found ? 0 : 1;
    }
    if (cmd == "dropped") {
        for (HWND w = ::FindWindowExW(nullptr, nullptr, L"ComboLBox", nullptr); w;
             w = ::FindWindowExW(nullptr, w, L"ComboLBox", nullptr)) {
            if (!::IsWindowVisible(w)) continue;
            RECT r{};
            ::GetClientRect(w, &r);
            POINT o{0, 0};
            ::ClientToScreen(w, &o);
            std::printf("list\t%ld %ld %ld %ld\t%d\t%d\n", o.x, o.y, r.right, r.bottom,
                        static_cast<int>(::SendMessageW(w, LB_GETITEMHEIGHT, 0, 0)),
                        static_cast<int>(::SendMessageW(w, LB_GETTOPINDEX, 0, 0)));
            items(w, 0, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT, LB_GETCURSEL);
            return 0;
        }
        return 1;
    }
    if (cmd == "count") {
        int n = 0;
        for (HWND w = ::FindWindowExW(nullptr, nullptr, nullptr, title.c_str()); w;
             w = ::FindWindowExW(nullptr, w, nullptr, title.c_str()))
            n += ::IsWindowVisible(w) && classOf(w) != L"#32770";
        std::printf("%d\n", n);
        return 0;
    }
    if (cmd == "front") {
        HWND w = ::GetForegroundWindow();
        if (!w) return 1;
        std::printf("%s\n", escaped(textOf(w)).c_str());
        return 0;
    }
    HWND top = find(title, false);
    if (!top) {
        std::fprintf(stderr, "no window '%s'\n", argv[2]);
        return 1;
    }
    if (cmd == "dump") return dump(top);
    if (cmd == "shown") return ::IsWindowVisible(top) ? 0 : 1;
    if (cmd == "click" && argc > 3) {
        HWND b = ::GetDlgItem(top, std::atoi(argv[3]));
        if (!b) return 1;
        // Posted: a click that opens a box would hold a sent message.
        ::PostMessageW(b, BM_CLICK, 0, 0);
        return 0;
    }
    return 2;
}
