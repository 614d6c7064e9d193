// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "dialog/posted_changes.h"
#include "station/station_core.h"

namespace quorvale {

// The station as a native window: the core's header, its tiles drawn with GDI in large type
// on their colours, a scroll bar when the slots outgrow the screen, its totals and record.
// Sizes follow the monitor's DPI. The close box or Ctrl+Q ends it.
class StationWindowWin32 final : private StationView {
public:
    StationWindowWin32(HINSTANCE instance, StationOptions options);
    ~StationWindowWin32() override;
    StationWindowWin32(const StationWindowWin32&) = delete;
    StationWindowWin32& operator=(const StationWindowWin32&) = delete;

    bool Refused() const { return m_core.Refused(); }
    // Shows the window, starts the slots and runs the window's messages until it has closed.
    int Run(int show);

private:
    struct Layout;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void ShowTile(std::size_t slot, const TileLook& look) override;
    void ShowTotals(const std::string& text) override;
    void ShowRecord(const std::string& text) override;
    void Post(std::function<void()> change) override;

    int Pixels(int dips) const;
    HFONT Font(int points, bool bold);
    void DropFonts();
    Layout Measure(HDC dc, int width, int height);
    int TextHeight(HDC dc, const std::string& text, HFONT font, int width);
    void Paint(HDC dc, const RECT& client);
    void PaintTile(HDC dc, const RECT& box, const TileLook& look);
    int PaintText(HDC dc, const std::string& text, HFONT font, RECT box, COLORREF colour,
                  UINT format = 0);
    void UpdateScrollBar();
    void ScrollTo(int position);
    void OnScroll(WPARAM wParam);
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    void Close();
    SIZE InitialSize();

    HINSTANCE m_instance;
    HWND m_window = nullptr;
    UINT m_dpi = 96;
    std::map<std::pair<int, bool>, HFONT> m_fonts;
    std::vector<TileLook> m_looks;
    std::string m_totals;
    int m_scroll = 0;
    PostedChanges m_posted;
    // Last, so that it goes first: its slots report to everything above.
    StationCore m_core;
};

}  // namespace quorvale
