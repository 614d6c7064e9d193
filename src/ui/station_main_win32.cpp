// SPDX-License-Identifier: Apache-2.0
// quorvale-station.exe: the station's command line, what the last station remembered in the
// registry, and its window.
#include <windows.h>

#include <memory>
#include <variant>

#include "station/station_texts.h"
#include "ui/registry_store_win32.h"
#include "ui/station_window_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    quorvale::RegistryStore settings(quorvale::kStationApplication);
    auto parsed = quorvale::ParseStationArguments(__argc, __argv, settings);
    if (const auto* end = std::get_if<quorvale::StationEnd>(&parsed)) {
        // Started from the Start menu there is no standard error to have read the message on.
        const HANDLE standardError = GetStdHandle(STD_ERROR_HANDLE);
        if (!end->error.empty() && (!standardError || standardError == INVALID_HANDLE_VALUE)) {
            MessageBoxA(nullptr, end->error.c_str(), quorvale::StationTexts::Title,
                        MB_OK | MB_ICONERROR);
        }
        return end->exitCode;
    }
    const auto& options = std::get<quorvale::StationOptions>(parsed);
    // The slots' threads and the image are too large a home for the stack.
    const auto window = std::make_unique<quorvale::StationWindowWin32>(instance, options);
    if (!window->Refused()) {
        // Only a station that could start is offered again.
        quorvale::RememberStation(options, settings);
    }
    return window->Run(show);
}
