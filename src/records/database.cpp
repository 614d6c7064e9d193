// SPDX-License-Identifier: Apache-2.0
#include "records/database.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <random>

#include "records/schema.h"

namespace quorvale::records {
namespace {

std::string CreateTableSql(RecordEngine engine) {
    std::string sql = std::string("CREATE TABLE IF NOT EXISTS ") + schema::kTable + " (";
    const char* separator = "";
    for (const schema::Column& column : schema::kColumns) {
        sql.append(separator)
            .append(column.name)
            .append(" ")
            .append(engine == RecordEngine::Postgresql ? column.postgresType : column.sqliteType);
        separator = ", ";
    }
    return sql + ")";
}

std::string InsertSql() {
    std::string names;
    std::string values;
    int number = 0;
    for (const schema::Column& column : schema::kColumns) {
        const char* separator = ++number > 1 ? ", " : "";
        names.append(separator).append(column.name);
        values.append(separator).append("$").append(std::to_string(number));
    }
    return std::string("INSERT INTO ") + schema::kTable + " (" + names + ") VALUES (" + values +
           ") ON CONFLICT (id) DO NOTHING";
}

Status Refusal(const std::string& words) {
    return Refused(Error(ErrorKind::Other, 0, words));
}

// Inside the caller's transaction: the tables and indexes where missing, the version checked.
Status CreateOrCheck(Database& db) {
    if (Status made = db.Execute(schema::kVersionTable); !made) {
        return made;
    }
    const auto version = db.Query(schema::kReadVersion);
    if (!version) {
        return Refused(version.error());
    }
    const Json& found = version->empty() ? Json() : version->front().front();
    if (!found.is_null() && IntegerOf(found) > schema::kVersion) {
        char words[512];
        std::snprintf(words, sizeof words, schema::kNewerSchema, db.Name().c_str(),
                      IntegerOf(found), schema::kVersion);
        return Refusal(words);
    }
    if (Status made = db.Execute(CreateTableSql(db.Engine())); !made) {
        return made;
    }
    for (const char* index : schema::kIndexes) {
        if (Status made = db.Execute(index); !made) {
            return made;
        }
    }
    if (found.is_null()) {
        return db.Execute(schema::kWriteVersion, {schema::kVersion});
    }
    return {};
}

}  // namespace

Status Database::Execute(const std::string& sql, const std::vector<Json>& params) {
    const auto done = Query(sql, params);
    return done ? Status() : Refused(done.error());
}

Status PrepareSchema(Database& db) {
    if (Status begun = db.BeginWrite(); !begun) {
        return begun;
    }
    if (Status prepared = CreateOrCheck(db); !prepared) {
        (void)db.Execute("ROLLBACK");
        return prepared;
    }
    return db.Execute("COMMIT");
}

Status InsertRecord(Database& db, const std::string& id, const Json& record) {
    static const std::string sql = InsertSql();
    std::vector<Json> params{id};
    for (const schema::Column& column : schema::kColumns) {
        if (column.name != std::string_view("id")) {
            params.push_back(record.contains(column.name) ? record[column.name] : Json());
        }
    }
    return db.Execute(sql, params);
}

std::string NewUuid() {
    std::random_device source;
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        const std::uint32_t word = source();
        for (std::size_t j = 0; j < 4; ++j) {
            bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
        }
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4: random
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // the RFC's variant
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        text.append((i == 4 || i == 6 || i == 8 || i == 10) ? "-" : "").append(hex);
    }
    return text;
}

// PostgreSQL's text is read without the locale, which a window's toolkit may have set.
template <typename Number>
Number NumberOf(const Json& value) {
    if (value.is_number()) {
        return value.get<Number>();
    }
    Number number{};
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        std::from_chars(text.data(), text.data() + text.size(), number);
    }
    return number;
}

long long IntegerOf(const Json& value) {
    return NumberOf<long long>(value);
}

double RealOf(const Json& value) {
    return NumberOf<double>(value);
}

}  // namespace quorvale::records
