#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace tandril {

// One SQLite database connection (the system's libsqlite3). Owns the handle; closes it
// when destroyed. Not shared between threads: the thread that opened it uses it.
class CSqliteDb {
public:
    CSqliteDb() = default;
    ~CSqliteDb();
    CSqliteDb(const CSqliteDb&) = delete;
    CSqliteDb& operator=(const CSqliteDb&) = delete;

    enum class Mode { ReadOnly, ReadWriteCreate };
    // False when the file cannot be opened (Error() says why).
    bool Open(const std::string& path, Mode mode);
    void Close();
    bool IsOpen() const { return m_db != nullptr; }
    // Runs statements without results; false on the first that fails.
    bool Exec(const char* sql);
    const std::string& Error() const { return m_error; }
    sqlite3* Handle() const { return m_db; }
    // Records the connection's last error for Error(); returns false.
    bool Fail();
    // Closing leaves the write-ahead log as it is (the next opening checkpoints it):
    // a checkpoint syncs the disk, which at the end of a run would wait for every
    // file the run wrote.
    bool KeepWalOnClose();

private:
    sqlite3* m_db = nullptr;
    std::string m_error;
};

// A prepared statement of one connection; finalized when destroyed. Bind indexes
// start at 1, column indexes at 0.
class CSqliteStatement {
public:
    CSqliteStatement(CSqliteDb& db, const char* sql);
    ~CSqliteStatement();
    CSqliteStatement(const CSqliteStatement&) = delete;
    CSqliteStatement& operator=(const CSqliteStatement&) = delete;

    bool Valid() const { return m_stmt != nullptr; }
    CSqliteStatement& Bind(int index, std::int64_t value);
    CSqliteStatement& Bind(int index, std::string_view text);
    // Binds text that stays where it is until the statement has run (not copied).
    CSqliteStatement& BindView(int index, std::string_view text);
    // Blobs are not copied either.
    CSqliteStatement& BindBlob(int index, std::string_view bytes);
    CSqliteStatement& BindNull(int index);
    // Steps once: Row, Done, or Error (the connection's Error() says why).
    enum class Step { Row, Done, Error };
    Step Next();
    // Runs a statement without rows to its end and resets it for new values.
    bool Run();
    void Reset();
    std::int64_t Int(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

private:
    CSqliteDb& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace tandril
