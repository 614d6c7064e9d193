// SPDX-License-Identifier: Apache-2.0
#include "records/libpq_library.h"

#include <dlfcn.h>

namespace quorvale::records {
namespace {

constexpr char kLibrary[] = "libpq.so.5";

template <typename Function>
bool Find(void* handle, const char* name, Function& into) {
    into = reinterpret_cast<Function>(::dlsym(handle, name));
    return into != nullptr;
}

}  // namespace

Result<std::shared_ptr<const LibPq>> LibPq::Load() {
    std::shared_ptr<LibPq> pq(new LibPq());
    pq->m_handle = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!pq->m_handle) {
        const char* why = ::dlerror();
        return Refused({ErrorKind::NotFound, 0,
                        std::string("PostgreSQL records need ") + kLibrary +
                            " (Debian's package libpq5): " + (why ? why : "not found")});
    }
    void* h = pq->m_handle;
    const bool all =
        Find(h, "PQconnectdbParams", pq->connectdbParams) && Find(h, "PQstatus", pq->status) &&
        Find(h, "PQsetNoticeProcessor", pq->setNoticeProcessor) &&
        Find(h, "PQexecParams", pq->execParams) && Find(h, "PQresultStatus", pq->resultStatus) &&
        Find(h, "PQntuples", pq->ntuples) && Find(h, "PQnfields", pq->nfields) &&
        Find(h, "PQgetisnull", pq->getisnull) && Find(h, "PQgetvalue", pq->getvalue) &&
        Find(h, "PQclear", pq->clear) && Find(h, "PQfinish", pq->finish) &&
        Find(h, "PQdb", pq->db) && Find(h, "PQhost", pq->host) &&
        Find(h, "PQerrorMessage", pq->errorMessage);
    if (!all) {
        return Refused({ErrorKind::Other, 0,
                        std::string(kLibrary) + " lacks a function PostgreSQL records use"});
    }
    return std::shared_ptr<const LibPq>(std::move(pq));
}

LibPq::~LibPq() {
    if (m_handle) {
        ::dlclose(m_handle);
    }
}

}  // namespace quorvale::records
