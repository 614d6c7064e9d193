// SPDX-License-Identifier: Apache-2.0
// Intel HEX and S-records through libsrecord, the well-kept library for these formats.
#include <srecord/input.h>
#include <srecord/input/file.h>
#include <srecord/input/file/intel.h>
#include <srecord/quit.h>
#include <srecord/record.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "files/regular_file.h"
#include "image/image_input.h"

// Debian's libsrecord-dev leaves out the header of the S-record reader, though the library
// has it; this declares the one function taken from it.
namespace srecord {
class input_file_motorola {
public:
    static input_file::pointer create(const std::string& file_name);
};
}  // namespace srecord

namespace quorvale {
namespace {

// The library reports a malformed file ("FILE: LINE: what") and then ends the program. Here
// the report is kept, and it and any warning end the reading with an exception, so that the
// caller refuses the file.
class RefuseOnAnyReport final : public srecord::quit {
public:
    struct Refused {};
    const std::string& Text() const { return m_text; }

protected:
    void message_v(const char* format, va_list arguments) override {
        char text[4096];
        std::vsnprintf(text, sizeof text, format, arguments);
        m_text = text;
    }
    void warning_v(const char* format, va_list arguments) override {
        message_v(format, arguments);
        throw Refused{};
    }
    void exit(int) override { throw Refused{}; }

private:
    std::string m_text;
};

// The bytes already read, as a file the library can open by name: it reads exactly what was
// recognised, whatever happens to the path meanwhile, and never stdin for "-".
class MemoryFile {
public:
    explicit MemoryFile(std::span<const std::uint8_t> bytes)
        : m_fd(::memfd_create("quorvale-input", MFD_CLOEXEC)) {
        std::size_t done = 0;
        while (m_fd.get() >= 0 && done < bytes.size()) {
            const ssize_t written = ::write(m_fd.get(), bytes.data() + done, bytes.size() - done);
            if (written > 0) {
                done += static_cast<std::size_t>(written);
            } else if (errno != EINTR) {
                break;
            }
        }
        m_complete = m_fd.get() >= 0 && done == bytes.size();
    }

    bool IsOpen() const { return m_complete; }
    std::string Name() const { return "/proc/self/fd/" + std::to_string(m_fd.get()); }

private:
    const FileDescriptor m_fd;
    bool m_complete = false;
};

// The library's "NAME: LINE: what" with the input's own name in place of the memory file's.
std::string InTermsOf(const std::string& text, const std::string& from, const std::string& to) {
    return text.starts_with(from) ? to + text.substr(from.size()) : text;
}

// Where the reader is, "NAME: LINE": public on the library's input, hidden on its file input.
std::string Location(const srecord::input& input) {
    return input.filename_and_line();
}

// "line N", from the library's "NAME: N".
std::string LineOf(const std::string& location, const std::string& name) {
    return "line " + InTermsOf(location, name + ": ", "");
}

}  // namespace

Result<std::vector<Segment>> ReadRecordFile(std::span<const std::uint8_t> bytes,
                                            const std::string& path, InputFormat format) {
    if (const auto problem = RecordLinesProblem(bytes, format)) {
        return Malformed(path + ": " + *problem);
    }
    const MemoryFile file(bytes);
    if (!file.IsOpen()) {
        return Refused(Error::FromSystem(errno, "cannot hold the input in memory"));
    }
    RefuseOnAnyReport reports;
    std::vector<Segment> segments;
    try {
        const srecord::input_file::pointer input =
            format == InputFormat::IntelHex ? srecord::input_file_intel::create(file.Name())
                                            : srecord::input_file_motorola::create(file.Name());
        input->set_quit(reports);
        srecord::record record;
        while (input->read(record)) {
            if (record.get_type() != srecord::record::type_data || record.get_length() == 0) {
                continue;
            }
            const std::uint8_t* data = record.get_data();
            Segment* last = segments.empty() ? nullptr : &segments.back();
            // Records that continue one another make one segment, named by its first line.
            if (last && last->address + last->bytes.size() == record.get_address()) {
                last->bytes.insert(last->bytes.end(), data, data + record.get_length());
            } else {
                segments.push_back({record.get_address(),
                                    {data, data + record.get_length()},
                                    LineOf(Location(*input), file.Name())});
            }
        }
    } catch (const RefuseOnAnyReport::Refused&) {
        return Malformed(InTermsOf(reports.Text(), file.Name(), path));
    }
    return segments;
}

}  // namespace quorvale
