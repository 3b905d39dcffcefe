#include "platform/sqlite_db.h"

#include <sqlite3.h>

namespace tandril {

CSqliteDb::~CSqliteDb() {
    Close();
}

namespace {

// Without memory statistics SQLite takes no global lock for each allocation: the
// program never reads them, and the record's writer allocates for every row. It can be
// set only before SQLite starts, so the first opening does it (all use of SQLite here
// begins with one); when it comes too late, SQLite just keeps counting.
void TurnOffMemoryStatistics() {
    static const int once = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    (void)once;
}

}  // namespace

bool CSqliteDb::Open(const std::string& path, Mode mode) {
    Close();
    TurnOffMemoryStatistics();
    const int flags =
        mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    // NOFOLLOW: the record is never reached through a symbolic link planted in its place.
    const int rc = sqlite3_open_v2(path.c_str(), &m_db,
                                   flags | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        m_error = m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        Close();
        return false;
    }
    sqlite3_busy_timeout(m_db, 2000);
    m_error.clear();
    return true;
}

void CSqliteDb::Close() {
    if (m_db != nullptr) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

bool CSqliteDb::Exec(const char* sql) {
    if (m_db == nullptr)
        return false;
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        m_error = message != nullptr ? message : sqlite3_errmsg(m_db);
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool CSqliteDb::KeepWalOnClose() {
    int set = 0;
    return m_db != nullptr &&
           sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, &set) == SQLITE_OK &&
           set == 1;
}

bool CSqliteDb::Fail() {
    if (m_db != nullptr)
        m_error = sqlite3_errmsg(m_db);
    return false;
}

CSqliteStatement::CSqliteStatement(CSqliteDb& db, const char* sql) : m_db(db) {
    if (db.Handle() == nullptr ||
        sqlite3_prepare_v2(db.Handle(), sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
        db.Fail();
        m_stmt = nullptr;
    }
}

CSqliteStatement::~CSqliteStatement() {
    sqlite3_finalize(m_stmt);
}

CSqliteStatement& CSqliteStatement::Bind(int index, std::int64_t value) {
    if (m_stmt != nullptr)
        sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

CSqliteStatement& CSqliteStatement::Bind(int index, std::string_view text) {
    if (m_stmt != nullptr)
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    return *this;
}

CSqliteStatement& CSqliteStatement::BindView(int index, std::string_view text) {
    if (m_stmt != nullptr)
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    return *this;
}

CSqliteStatement& CSqliteStatement::BindBlob(int index, std::string_view bytes) {
    if (m_stmt != nullptr)
        sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()),
                          SQLITE_STATIC);
    return *this;
}

CSqliteStatement& CSqliteStatement::BindNull(int index) {
    if (m_stmt != nullptr)
        sqlite3_bind_null(m_stmt, index);
    return *this;
}

CSqliteStatement::Step CSqliteStatement::Next() {
    if (m_stmt == nullptr)
        return Step::Error;
    switch (sqlite3_step(m_stmt)) {
        case SQLITE_ROW:
            return Step::Row;
        case SQLITE_DONE:
            return Step::Done;
        default:
            m_db.Fail();
            return Step::Error;
    }
}

bool CSqliteStatement::Run() {
    const Step step = Next();
    Reset();
    return step == Step::Done;
}

void CSqliteStatement::Reset() {
    if (m_stmt != nullptr) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
}

std::int64_t CSqliteStatement::Int(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

std::string CSqliteStatement::Text(int column) const {
    const void* data = sqlite3_column_blob(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data != nullptr ? std::string(static_cast<const char*>(data), size) : std::string();
}

bool CSqliteStatement::IsNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

}  // namespace tandril
