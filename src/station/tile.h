// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

#include "production/slot_loop.h"

namespace quorvale {

enum class TileState { NotStarted, Waiting, Downloading, Passed, Failed, Cancelled, Stopped };

// A colour as red, green and blue; every window draws the station in the same ones.
struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const Rgb&) const = default;
};

// The tile's background in each state: dark enough for white text, and told apart by hue as
// well as by words.
Rgb StateColour(TileState state);
// The colour of a refusal at the top of the station.
inline constexpr Rgb kRefusalColour{0xc6, 0x28, 0x28};
inline constexpr Rgb kTileTextColour{0xff, 0xff, 0xff};

// What one slot's tile shows, in the words a technician reads at arm's length.
struct TileLook {
    // The whole path, and the part that names the slot (a by-path link's socket).
    std::string slot;
    std::string name;
    // What stays under the name, such as the note on a kernel name; may be empty.
    std::string note;
    TileState state = TileState::NotStarted;
    std::string stateText;
    // What the state is about: bytes sent, the time taken, the exact failure text, and a
    // record that could not be written.
    std::string detail;
    // "Unplug the controller", or the last outcome while the next controller is awaited.
    std::string hint;
    std::string counts;
    // The progress bar's value in percent, or -1 while it is hidden.
    int percent = -1;
    unsigned passed = 0;
    unsigned failed = 0;
};

// One slot's tile, changed by what the slot's loop reports.
class Tile {
public:
    Tile(std::string slot, std::string note);

    void Waiting(SlotWait what);
    void Starting();
    void Progress(std::uint32_t done, std::uint32_t total);
    void Ended(const SlotOutcome& outcome);
    void RecordFailed(const std::string& error);
    void GaveUp(const std::string& why);

    const TileLook& Look() const { return m_look; }

private:
    void SetState(TileState state, std::string detail);
    void SetDetail(std::string detail);
    void Count();

    TileLook m_look;
    std::string m_detail;
    std::string m_notRecorded;
    std::string m_lastOutcome;
};

}  // namespace quorvale
