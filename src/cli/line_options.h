#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

#include "link/serial_port.h"

namespace quorvale::cli {

// Takes decimal or 0x hexadecimal from `min` to `max` and hands the option its decimal form.
CLI::Validator Number(std::uint32_t min, std::uint32_t max);

// --baud, --data-bits, --parity and --stop-bits (each name after `prefix`): a serial line's
// settings, taking the items of the dialog's lists in any letter case.
void AddLineOptions(CLI::App& command, LineSettings& line, const std::string& prefix);

}  // namespace quorvale::cli
