// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <libpq-fe.h>

#include <memory>

#include "files/error.h"

namespace quorvale::records {

// libpq, loaded when a PostgreSQL target is first used rather than at every start: its
// dependencies (TLS, Kerberos, LDAP) would double the memory and add milliseconds to the start
// of every download that records to a file or to nothing.
struct LibPq {
    decltype(&::PQconnectdbParams) connectdbParams = nullptr;
    decltype(&::PQstatus) status = nullptr;
    decltype(&::PQsetNoticeProcessor) setNoticeProcessor = nullptr;
    decltype(&::PQexecParams) execParams = nullptr;
    decltype(&::PQresultStatus) resultStatus = nullptr;
    decltype(&::PQntuples) ntuples = nullptr;
    decltype(&::PQnfields) nfields = nullptr;
    decltype(&::PQgetisnull) getisnull = nullptr;
    decltype(&::PQgetvalue) getvalue = nullptr;
    decltype(&::PQclear) clear = nullptr;
    decltype(&::PQfinish) finish = nullptr;
    decltype(&::PQdb) db = nullptr;
    decltype(&::PQhost) host = nullptr;
    decltype(&::PQerrorMessage) errorMessage = nullptr;

    // Opens the library for as long as the answer lives; refused, saying which package it
    // comes in, when it can't be.
    static Result<std::shared_ptr<const LibPq>> Load();

    ~LibPq();
    LibPq(const LibPq&) = delete;
    LibPq& operator=(const LibPq&) = delete;

private:
    LibPq() = default;
    void* m_handle = nullptr;
};

}  // namespace quorvale::records
