// SPDX-License-Identifier: Apache-2.0
#include "station/tile.h"

#include <array>
#include <filesystem>

#include "download/texts.h"
#include "station/station_texts.h"

namespace quorvale {
namespace {

struct StateLook {
    const char* text;
    Rgb colour;
};

// By TileState.
constexpr std::array<StateLook, 7> kLooks = {{
    {StationTexts::NotStarted, {0x61, 0x61, 0x61}},
    {StationTexts::WaitingForController, {0x45, 0x5a, 0x64}},
    {StationTexts::Downloading, {0x15, 0x65, 0xc0}},
    {StationTexts::Passed, {0x2e, 0x7d, 0x32}},
    {StationTexts::Failed, {0xc6, 0x28, 0x28}},
    {StationTexts::Cancelled, {0x6d, 0x4c, 0x41}},
    {StationTexts::Stopped, {0xe6, 0x51, 0x00}},
}};

const StateLook& LookOf(TileState state) {
    return kLooks[static_cast<std::size_t>(state)];
}

std::string LastPart(const std::string& slot) {
    const std::string last = std::filesystem::path(slot).filename().string();
    return last.empty() ? slot : last;
}

}  // namespace

Rgb StateColour(TileState state) {
    return LookOf(state).colour;
}

Tile::Tile(std::string slot, std::string note) {
    m_look.name = LastPart(slot);
    m_look.slot = std::move(slot);
    m_look.note = std::move(note);
    SetState(TileState::NotStarted, {});
    Count();
}

void Tile::Waiting(SlotWait what) {
    if (what == SlotWait::ForUnplug) {
        m_look.hint = StationTexts::UnplugHint;
        return;
    }
    SetState(TileState::Waiting, {});
    m_look.hint = m_lastOutcome;
}

void Tile::Starting() {
    m_notRecorded.clear();
    SetState(TileState::Downloading, StatusTexts::InitiatingDownload);
    m_look.percent = 0;
    m_look.hint.clear();
}

void Tile::Progress(std::uint32_t done, std::uint32_t total) {
    m_look.percent = total ? static_cast<int>(std::uint64_t{done} * 100 / total) : 0;
    SetDetail(
        StationTexts::Fill(StationTexts::Bytes, {std::to_string(done), std::to_string(total)}));
}

void Tile::Ended(const SlotOutcome& outcome) {
    const std::string text = outcome.Text();
    if (outcome.result.Completed()) {
        ++m_look.passed;
        SetState(TileState::Passed, text);
    } else if (outcome.result.kind == FailureKind::Cancelled) {
        SetState(TileState::Cancelled, text);
    } else {
        ++m_look.failed;
        SetState(TileState::Failed, outcome.FailureText());
    }
    m_lastOutcome =
        StationTexts::Fill(StationTexts::LastOutcome, {m_look.stateText + " - " + text});
    m_look.hint.clear();
    Count();
}

void Tile::RecordFailed(const std::string& error) {
    m_notRecorded = StationTexts::Fill(StationTexts::NotRecorded, {error});
    SetDetail(m_detail);
}

void Tile::GaveUp(const std::string& why) {
    SetState(TileState::Stopped, why);
    m_look.hint.clear();
}

void Tile::SetState(TileState state, std::string detail) {
    m_look.state = state;
    m_look.stateText = LookOf(state).text;
    if (state != TileState::Downloading) {
        m_look.percent = -1;
    }
    SetDetail(std::move(detail));
}

void Tile::SetDetail(std::string detail) {
    m_detail = std::move(detail);
    m_look.detail = m_notRecorded.empty() ? m_detail : m_detail + "\n" + m_notRecorded;
}

void Tile::Count() {
    m_look.counts = StationTexts::Fill(
        StationTexts::Counts, {std::to_string(m_look.passed), std::to_string(m_look.failed)});
}

}  // namespace quorvale
