// Intel HEX and S-records through libsrecord, the well-kept library for these formats.
#include <srecord/input.h>
#include <srecord/input/file/intel.h>
#include <srecord/quit.h>
#include <srecord/record.h>

#include <cstdarg>
#include <cstdio>

#include "image/image_input.h"

// Debian's libsrecord-dev leaves out the header of the S-record reader, though the library
// has it; this declares the one function taken from it.
namespace srecord {
class input_file_motorola {
public:
    static input::pointer create(const std::string& file_name);
};
}  // namespace srecord

namespace quorvale {
namespace {

// The library reports a malformed file ("FILE: LINE: what") and then ends the program; here
// the report is kept and the end becomes an exception, so that the caller decides.
class KeepFailure final : public srecord::quit {
public:
    struct Failed {};
    const std::string& Text() const { return m_text; }

protected:
    void message_v(const char* format, va_list arguments) override {
        char text[1024];
        std::vsnprintf(text, sizeof text, format, arguments);
        m_text = text;
    }
    void exit(int) override { throw Failed{}; }

private:
    std::string m_text;
};

}  // namespace

std::optional<std::vector<Segment>> ReadRecordFile(const std::string& path, InputFormat format,
                                                   std::string& error) {
    KeepFailure failure;
    try {
        const srecord::input::pointer input = format == InputFormat::IntelHex
                                                  ? srecord::input_file_intel::create(path)
                                                  : srecord::input_file_motorola::create(path);
        input->set_quit(failure);
        std::vector<Segment> segments;
        srecord::record record;
        unsigned number = 0;
        while (input->read(record)) {
            if (record.get_type() != srecord::record::type_data || record.get_length() == 0) {
                continue;
            }
            ++number;
            const std::uint8_t* data = record.get_data();
            segments.push_back({record.get_address(),
                                {data, data + record.get_length()},
                                "data record " + std::to_string(number)});
        }
        return segments;
    } catch (const KeepFailure::Failed&) {
        error = failure.Text();
    }
    return std::nullopt;
}

}  // namespace quorvale
