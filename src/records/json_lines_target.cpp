// SPDX-License-Identifier: Apache-2.0
#include "files/append_file.h"
#include "records/targets.h"

namespace quorvale::records {
namespace {

// A line per record, appended in one write: safe for several processes and threads at once.
class JsonLinesTarget final : public RecordTarget {
public:
    explicit JsonLinesTarget(std::unique_ptr<AppendFile> file) : m_file(std::move(file)) {}
    Status Write(const Json& record) override { return m_file->AppendLine(JsonLine(record)); }

private:
    std::unique_ptr<AppendFile> m_file;
};

}  // namespace

Result<std::unique_ptr<RecordTarget>> OpenJsonLinesTarget(const std::string& path) {
    auto file = AppendFile::Open(path);
    if (!file) {
        return Refused(file.error());
    }
    return std::unique_ptr<RecordTarget>(std::make_unique<JsonLinesTarget>(std::move(*file)));
}

}  // namespace quorvale::records
