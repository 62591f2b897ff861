// SQLite: one file in WAL mode, every commit synced, so that a run answered
// 201 survives a kill of the hub or of the machine.
#include "DatabasePool.h"

#include <sqlite3.h>

#include <map>

namespace hub {
namespace {

class SqliteConnection : public Connection {
public:
    explicit SqliteConnection(const std::string& path)
    {
        const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw DatabaseError("cannot open the database '" + path + "': " + why);
        }
        sqlite3_busy_timeout(db_, 10000);
        try {
            query("PRAGMA journal_mode=WAL", {});
            query("PRAGMA synchronous=FULL", {});
            query("PRAGMA foreign_keys=ON", {});
        } catch (...) {
            close();
            throw;
        }
    }
    ~SqliteConnection() override { close(); }

    std::vector<Row> query(const std::string& sql, const std::vector<Param>& params) override
    {
        sqlite3_stmt* stmt = prepare(sql);
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        for (size_t i = 0; i < params.size(); ++i) {
            const Param& p = params[i];
            const int at = static_cast<int>(i) + 1;
            int rc = SQLITE_OK;
            if (p.kind == Param::Int) {
                rc = sqlite3_bind_int64(stmt, at, p.number);
            } else if (p.kind == Param::Text) {
                rc = sqlite3_bind_text(stmt, at, p.bytes.data(), static_cast<int>(p.bytes.size()), SQLITE_TRANSIENT);
            } else {
                rc = sqlite3_bind_blob(stmt, at, p.bytes.data(), static_cast<int>(p.bytes.size()), SQLITE_TRANSIENT);
            }
            if (rc != SQLITE_OK) {
                fail("bind");
            }
        }
        std::vector<Row> rows;
        for (;;) {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_DONE) {
                break;
            }
            if (rc != SQLITE_ROW) {
                sqlite3_reset(stmt);
                fail("step");
            }
            Row row;
            const int n = sqlite3_column_count(stmt);
            for (int c = 0; c < n; ++c) {
                if (sqlite3_column_type(stmt, c) == SQLITE_NULL) {
                    row.emplace_back();
                    continue;
                }
                const void* data = sqlite3_column_blob(stmt, c);
                const int size = sqlite3_column_bytes(stmt, c);
                row.emplace_back(std::string(static_cast<const char*>(data), static_cast<size_t>(size)));
            }
            rows.push_back(std::move(row));
        }
        sqlite3_reset(stmt);
        return rows;
    }

    void begin(bool write) override { query(write ? "BEGIN IMMEDIATE" : "BEGIN DEFERRED", {}); }
    void commit() override { query("COMMIT", {}); }
    void rollback() noexcept override
    {
        if (!sqlite3_get_autocommit(db_)) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    const char* blobType() const override { return "BLOB"; }
    const char* idColumn() const override { return "INTEGER PRIMARY KEY AUTOINCREMENT"; }
    // Writers take the database's one write lock, so the largest number so
    // far plus one cannot be taken twice.
    const char* nextRunSeq() const override { return "(SELECT COALESCE(MAX(seq), 0) + 1 FROM runs)"; }
    std::vector<std::string> extraSchema() const override { return {}; }
    const char* lockRow() const override { return ""; }
    void lockSchema() override {}

private:
    sqlite3_stmt* prepare(const std::string& sql)
    {
        auto found = statements_.find(sql);
        if (found != statements_.end()) {
            return found->second;
        }
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
            fail("prepare");
        }
        statements_.emplace(sql, stmt);
        return stmt;
    }

    [[noreturn]] void fail(const char* what)
    {
        throw DatabaseError(std::string("sqlite ") + what + ": " + sqlite3_errmsg(db_));
    }

    void close()
    {
        for (auto& [sql, stmt] : statements_) {
            sqlite3_finalize(stmt);
        }
        statements_.clear();
        sqlite3_close(db_);
        db_ = nullptr;
    }

    sqlite3* db_ = nullptr;
    std::map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace

std::unique_ptr<Database> openSqlite(const std::string& path, int connections)
{
    std::vector<std::unique_ptr<Connection>> conns;
    for (int i = 0; i < connections; ++i) {
        conns.push_back(std::make_unique<SqliteConnection>(path));
    }
    return std::make_unique<PooledDatabase>("sqlite", std::move(conns));
}

}  // namespace hub
