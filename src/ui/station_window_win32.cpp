// SPDX-License-Identifier: Apache-2.0
// The station on Windows: one window of the station's own class, drawn with GDI into a
// buffer the size of the window, so that tiles changing a few times a second don't flicker.
#include "ui/station_window_win32.h"

#include <algorithm>

#include "station/station_texts.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace quorvale {
namespace {

constexpr char kWindowClass[] = "QuorvaleStation";
constexpr char kFace[] = "Segoe UI";
constexpr int kIcon = 128;
// Wakes the window's thread for the changes the slots posted.
constexpr UINT kPostedChanges = WM_APP + 1;

// In pixels at 96 DPI: what a tile needs to show a state in large text, wrapped, with its
// lines below; the gaps around and between; the bar's height and the corners' radius.
constexpr int kTileWidth = 380;
constexpr int kTileHeight = 270;
constexpr int kGap = 12;
constexpr int kMargin = 12;
constexpr int kTilePaddingX = 16;
constexpr int kTilePaddingY = 12;
constexpr int kBarHeight = 22;
constexpr int kCorner = 16;
constexpr int kScrollStep = 40;

COLORREF Colour(Rgb rgb) {
    return RGB(rgb.red, rgb.green, rgb.blue);
}

// The DPI of the monitor the window is on, where the system can say (Windows 10 from 1607);
// the system's DPI otherwise. Looked up at run time, so that older systems still start.
UINT DpiOf(HWND window) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow && window) {
        if (const UINT dpi = getDpiForWindow(window)) {
            return dpi;
        }
    }
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The work area of the monitor the window is on, or of the primary one before it exists.
RECT WorkArea(HWND window) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    const HMONITOR monitor = window ? MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST)
                                    : MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY);
    if (!GetMonitorInfoA(monitor, &info)) {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &info.rcWork, 0);
    }
    return info.rcWork;
}

// A memory picture of the window, copied to it in one go when painting ends.
class BufferedPaint {
public:
    BufferedPaint(HDC target, const RECT& client) : m_target(target), m_client(client) {
        m_dc = CreateCompatibleDC(target);
        m_bitmap = CreateCompatibleBitmap(target, std::max<LONG>(client.right, 1),
                                          std::max<LONG>(client.bottom, 1));
        m_old = SelectObject(m_dc, m_bitmap);
    }
    ~BufferedPaint() {
        BitBlt(m_target, 0, 0, m_client.right, m_client.bottom, m_dc, 0, 0, SRCCOPY);
        SelectObject(m_dc, m_old);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    BufferedPaint(const BufferedPaint&) = delete;
    BufferedPaint& operator=(const BufferedPaint&) = delete;
    HDC dc() const { return m_dc; }

private:
    HDC m_target;
    RECT m_client;
    HDC m_dc;
    HBITMAP m_bitmap;
    HGDIOBJ m_old;
};

}  // namespace

// Where everything goes at the window's present size.
struct StationWindowWin32::Layout {
    RECT file{};
    RECT header{};
    RECT job{};
    RECT line{};
    RECT tiles{};  // the visible part of the tiles' area
    RECT totals{};
    RECT record{};
    int columns = 1;
    int tileWidth = 0;
    int tileHeight = 0;
    int contentHeight = 0;  // of every row of tiles, visible or not
};

StationWindowWin32::StationWindowWin32(HINSTANCE instance, StationOptions options)
    : m_instance(instance), m_core(std::move(options), *this) {
    for (std::size_t i = 0; i < m_core.SlotCount(); ++i) {
        m_looks.push_back(m_core.Tile(i));
    }
    m_totals = m_core.TotalsText();
}

StationWindowWin32::~StationWindowWin32() {
    m_core.Stop();
    DropFonts();
}

int StationWindowWin32::Run(int show) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = m_instance;
    windowClass.hIcon = LoadIconA(m_instance, MAKEINTRESOURCEA(kIcon));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExA(&windowClass);
    m_dpi = DpiOf(nullptr);
    const SIZE size = InitialSize();
    m_window = CreateWindowExA(0, kWindowClass, StationTexts::Title,
                               WS_OVERLAPPEDWINDOW | WS_VSCROLL, CW_USEDEFAULT, CW_USEDEFAULT,
                               size.cx, size.cy, nullptr, nullptr, m_instance, this);
    if (!m_window) {
        return 1;
    }
    ShowWindow(m_window, show);
    UpdateWindow(m_window);
    m_core.Start();
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

LRESULT CALLBACK StationWindowWin32::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* station = static_cast<StationWindowWin32*>(
            reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(station));
        station->m_window = window;
    }
    auto* station = reinterpret_cast<StationWindowWin32*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    return station ? station->Handle(message, wParam, lParam)
                   : DefWindowProcA(window, message, wParam, lParam);
}

LRESULT StationWindowWin32::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            m_dpi = DpiOf(m_window);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            const HDC dc = BeginPaint(m_window, &paint);
            RECT client;
            GetClientRect(m_window, &client);
            {
                const BufferedPaint buffer(dc, client);
                Paint(buffer.dc(), client);
            }
            EndPaint(m_window, &paint);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;  // the buffered paint covers every pixel
        case WM_SIZE:
            UpdateScrollBar();
            return 0;
        case WM_VSCROLL:
            OnScroll(wParam);
            return 0;
        case WM_MOUSEWHEEL:
            ScrollTo(m_scroll - GET_WHEEL_DELTA_WPARAM(wParam) * Pixels(kScrollStep) / WHEEL_DELTA);
            return 0;
        case WM_KEYDOWN:
            // A key of the window itself, as on Linux, so that it needs no menu.
            if (wParam == 'Q' && (GetKeyState(VK_CONTROL) & 0x8000)) {
                Close();
            }
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case kPostedChanges:
            m_posted.RunAll();
            return 0;
        case WM_CLOSE:
            Close();
            return 0;
        case WM_ENDSESSION:
            // The system is going down: the downloads under way end, recorded as cancelled.
            if (wParam) {
                m_core.Stop();
            }
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(m_window, message, wParam, lParam);
    }
}

void StationWindowWin32::Close() {
    // Returns once every slot has ended, its download cancelled and recorded.
    m_core.Stop();
    DestroyWindow(m_window);
}

void StationWindowWin32::ShowTile(std::size_t slot, const TileLook& look) {
    m_looks[slot] = look;
    InvalidateRect(m_window, nullptr, FALSE);
}

void StationWindowWin32::ShowTotals(const std::string& text) {
    m_totals = text;
    InvalidateRect(m_window, nullptr, FALSE);
}

// The record's line is painted from the core's text; a change only needs a paint.
void StationWindowWin32::ShowRecord(const std::string&) {
    InvalidateRect(m_window, nullptr, FALSE);
}

void StationWindowWin32::Post(std::function<void()> change) {
    m_posted.Add(std::move(change));
    // Should the thread's queue be full, the change waits for the next wake-up.
    PostMessageA(m_window, kPostedChanges, 0, 0);
}

int StationWindowWin32::Pixels(int dips) const {
    return MulDiv(dips, static_cast<int>(m_dpi), 96);
}

HFONT StationWindowWin32::Font(int points, bool bold) {
    const auto key = std::make_pair(points, bold);
    auto found = m_fonts.find(key);
    if (found == m_fonts.end()) {
        const HFONT font = CreateFontA(-MulDiv(points, static_cast<int>(m_dpi), 72), 0, 0, 0,
                                       bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                       CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, kFace);
        found = m_fonts.emplace(key, font).first;
    }
    return found->second;
}

void StationWindowWin32::DropFonts() {
    for (const auto& [key, font] : m_fonts) {
        DeleteObject(font);
    }
    m_fonts.clear();
}

int StationWindowWin32::TextHeight(HDC dc, const std::string& text, HFONT font, int width) {
    RECT box{0, 0, width, 0};
    const HGDIOBJ old = SelectObject(dc, font);
    DrawTextA(dc, text.empty() ? " " : text.c_str(), -1, &box,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    return box.bottom - box.top;
}

StationWindowWin32::Layout StationWindowWin32::Measure(HDC dc, int width, int height) {
    Layout layout;
    const int margin = Pixels(kMargin);
    const int textWidth = std::max(width - 2 * margin, 1);
    const bool refused = m_core.Refused();
    int y = margin;
    const auto place = [&](RECT& box, const std::string& text, HFONT font) {
        const int tall = TextHeight(dc, text, font, textWidth);
        box = {margin, y, margin + textWidth, y + tall};
        y += tall;
    };
    place(layout.file, m_core.FileText(), Font(14, true));
    place(layout.header, m_core.HeaderText(), refused ? Font(14, true) : Font(12, false));
    if (!m_core.JobText().empty()) {
        place(layout.job, m_core.JobText(), Font(12, true));
    }
    place(layout.line, m_core.LineText(), Font(12, false));
    const int tilesTop = y + Pixels(kGap);

    int bottom = height - margin;
    const int recordTall = TextHeight(dc, m_core.RecordText(), Font(11, false), textWidth);
    layout.record = {margin, bottom - recordTall, margin + textWidth, bottom};
    bottom -= recordTall;
    const int totalsTall = TextHeight(dc, m_totals, Font(14, true), textWidth);
    layout.totals = {margin, bottom - totalsTall, margin + textWidth, bottom};
    const int tilesBottom = std::max(tilesTop, bottom - totalsTall - Pixels(kGap));
    layout.tiles = {margin, tilesTop, margin + textWidth, tilesBottom};

    const RECT work = WorkArea(m_window);
    const int screenRoom = (work.right - work.left) * 9 / 10;
    layout.columns = StationColumns(m_looks.size(), screenRoom / Pixels(kTileWidth));
    const int gap = Pixels(kGap);
    layout.tileWidth =
        std::max((textWidth - gap * (layout.columns - 1)) / layout.columns, Pixels(kTileWidth) / 2);
    layout.tileHeight = Pixels(kTileHeight);
    const int rows = (static_cast<int>(m_looks.size()) + layout.columns - 1) / layout.columns;
    layout.contentHeight = std::max(rows * (layout.tileHeight + gap) - gap, 0);
    return layout;
}

// Wide enough for the columns the screen allows, tall enough for every row up to most of the
// screen's height; more rows scroll.
SIZE StationWindowWin32::InitialSize() {
    const RECT work = WorkArea(nullptr);
    const int screenWidth = work.right - work.left;
    const int screenHeight = work.bottom - work.top;
    const int columns = StationColumns(m_looks.size(), screenWidth * 9 / 10 / Pixels(kTileWidth));
    const int rows = (static_cast<int>(m_looks.size()) + columns - 1) / columns;
    const int tilesWidth = columns * (Pixels(kTileWidth) + Pixels(kGap));
    const int tilesHeight =
        std::min(rows * (Pixels(kTileHeight) + Pixels(kGap)), screenHeight * 6 / 10);
    RECT frame{0, 0, tilesWidth + 2 * Pixels(kMargin) + GetSystemMetrics(SM_CXVSCROLL),
               tilesHeight + Pixels(230)};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW | WS_VSCROLL, FALSE, 0);
    return {std::min<LONG>(frame.right - frame.left, screenWidth),
            std::min<LONG>(frame.bottom - frame.top, screenHeight)};
}

int StationWindowWin32::PaintText(HDC dc, const std::string& text, HFONT font, RECT box,
                                  COLORREF colour, UINT format) {
    const HGDIOBJ old = SelectObject(dc, font);
    SetTextColor(dc, colour);
    const int tall = DrawTextA(dc, text.c_str(), -1, &box, DT_WORDBREAK | DT_NOPREFIX | format);
    SelectObject(dc, old);
    return tall;
}

void StationWindowWin32::Paint(HDC dc, const RECT& client) {
    FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
    SetBkMode(dc, TRANSPARENT);
    const Layout layout = Measure(dc, client.right, client.bottom);
    const COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
    const bool refused = m_core.Refused();
    PaintText(dc, m_core.FileText(), Font(14, true), layout.file, text);
    PaintText(dc, m_core.HeaderText(), refused ? Font(14, true) : Font(12, false), layout.header,
              refused ? Colour(kRefusalColour) : text);
    PaintText(dc, m_core.JobText(), Font(12, true), layout.job, text);
    PaintText(dc, m_core.LineText(), Font(12, false), layout.line, text);

    const HRGN clip = CreateRectRgnIndirect(&layout.tiles);
    SelectClipRgn(dc, clip);
    const int gap = Pixels(kGap);
    for (std::size_t i = 0; i < m_looks.size(); ++i) {
        const int column = static_cast<int>(i) % layout.columns;
        const int row = static_cast<int>(i) / layout.columns;
        const int left = layout.tiles.left + column * (layout.tileWidth + gap);
        const int top = layout.tiles.top + row * (layout.tileHeight + gap) - m_scroll;
        const RECT box{left, top, left + layout.tileWidth, top + layout.tileHeight};
        RECT seen;
        if (IntersectRect(&seen, &box, &layout.tiles)) {
            PaintTile(dc, box, m_looks[i]);
        }
    }
    SelectClipRgn(dc, nullptr);
    DeleteObject(clip);

    PaintText(dc, m_totals, Font(14, true), layout.totals, text);
    PaintText(dc, m_core.RecordText(), Font(11, false), layout.record, text);
}

void StationWindowWin32::PaintTile(HDC dc, const RECT& box, const TileLook& look) {
    const HBRUSH fill = CreateSolidBrush(Colour(StateColour(look.state)));
    const HGDIOBJ oldBrush = SelectObject(dc, fill);
    const HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    RoundRect(dc, box.left, box.top, box.right + 1, box.bottom + 1, Pixels(kCorner),
              Pixels(kCorner));
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(fill);

    const COLORREF white = Colour(kTileTextColour);
    RECT inner{box.left + Pixels(kTilePaddingX), box.top + Pixels(kTilePaddingY),
               box.right - Pixels(kTilePaddingX), box.bottom - Pixels(kTilePaddingY)};
    inner.top += PaintText(dc, look.name, Font(13, true), inner, white);
    if (!look.note.empty()) {
        inner.top += PaintText(dc, look.note, Font(10, false), inner, white);
    }
    inner.top += PaintText(dc, look.stateText, Font(30, true), inner, white);
    if (look.percent >= 0) {
        RECT bar{inner.left, inner.top + Pixels(4), inner.right,
                 inner.top + Pixels(4) + Pixels(kBarHeight)};
        FrameRect(dc, &bar, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        RECT done = bar;
        InflateRect(&done, -Pixels(2), -Pixels(2));
        done.right = done.left + (done.right - done.left) * look.percent / 100;
        FillRect(dc, &done, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        // The percentage in the tile's colour on the filled part would vanish; in black on a
        // white outline it reads either side of the fill.
        PaintText(dc, std::to_string(look.percent) + "%", Font(10, true), bar, RGB(0, 0, 0),
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        inner.top = bar.bottom + Pixels(6);
    }
    // The hint and the counts sit at the bottom; the detail takes the room between.
    const HDC measure = dc;
    const int countsTall =
        TextHeight(measure, look.counts, Font(12, true), inner.right - inner.left);
    RECT counts{inner.left, inner.bottom - countsTall, inner.right, inner.bottom};
    PaintText(dc, look.counts, Font(12, true), counts, white);
    if (!look.hint.empty()) {
        const int hintTall =
            TextHeight(measure, look.hint, Font(12, true), inner.right - inner.left);
        RECT hint{inner.left, counts.top - hintTall, inner.right, counts.top};
        PaintText(dc, look.hint, Font(12, true), hint, white);
        counts.top = hint.top;
    }
    RECT detail{inner.left, inner.top, inner.right, counts.top};
    PaintText(dc, look.detail, Font(12, false), detail, white, DT_END_ELLIPSIS);
}

void StationWindowWin32::UpdateScrollBar() {
    RECT client;
    GetClientRect(m_window, &client);
    const HDC dc = GetDC(m_window);
    const Layout layout = Measure(dc, client.right, client.bottom);
    ReleaseDC(m_window, dc);
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
    info.nMin = 0;
    info.nMax = std::max(layout.contentHeight - 1, 0);
    info.nPage = static_cast<UINT>(std::max<LONG>(layout.tiles.bottom - layout.tiles.top, 0));
    m_scroll =
        std::clamp(m_scroll, 0, std::max(layout.contentHeight - static_cast<int>(info.nPage), 0));
    info.nPos = m_scroll;
    SetScrollInfo(m_window, SB_VERT, &info, TRUE);
}

void StationWindowWin32::ScrollTo(int position) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE;
    GetScrollInfo(m_window, SB_VERT, &info);
    const int last = std::max(info.nMax - static_cast<int>(info.nPage) + 1, 0);
    m_scroll = std::clamp(position, 0, last);
    info.fMask = SIF_POS;
    info.nPos = m_scroll;
    SetScrollInfo(m_window, SB_VERT, &info, TRUE);
    InvalidateRect(m_window, nullptr, FALSE);
}

void StationWindowWin32::OnScroll(WPARAM wParam) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(m_window, SB_VERT, &info);
    switch (LOWORD(wParam)) {
        case SB_LINEUP:
            ScrollTo(m_scroll - Pixels(kScrollStep));
            break;
        case SB_LINEDOWN:
            ScrollTo(m_scroll + Pixels(kScrollStep));
            break;
        case SB_PAGEUP:
            ScrollTo(m_scroll - static_cast<int>(info.nPage));
            break;
        case SB_PAGEDOWN:
            ScrollTo(m_scroll + static_cast<int>(info.nPage));
            break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
            ScrollTo(info.nTrackPos);
            break;
        case SB_TOP:
            ScrollTo(0);
            break;
        case SB_BOTTOM:
            ScrollTo(info.nMax);
            break;
        default:
            break;
    }
}

// Moved to a monitor of another DPI, or the user changed its scale: the fonts and sizes follow,
// and the window takes the size the system suggests for the new DPI.
void StationWindowWin32::OnDpiChanged(UINT dpi, const RECT& suggested) {
    m_dpi = dpi;
    DropFonts();
    SetWindowPos(m_window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    UpdateScrollBar();
    InvalidateRect(m_window, nullptr, FALSE);
}

}  // namespace quorvale
