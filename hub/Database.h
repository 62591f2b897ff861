// The hub's two databases behind one small interface: a connection runs
// parameterised SQL and nothing else, so every query text is a constant and
// every value a parameter. The same query texts serve both databases: the
// parameters are written $1, $2, ... in order of their first use, which
// SQLite binds by position as PostgreSQL does.
#pragma once

#include "Metrics.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace hub {

// A failure of the database itself (not of a request): the request fails
// with 503 and the hub goes on.
class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Param {
    enum Kind { Int, Text, Blob } kind = Int;
    int64_t number = 0;
    std::string bytes;
    static Param integer(int64_t v) { return Param{Int, v, {}}; }
    static Param text(std::string v) { return Param{Text, 0, std::move(v)}; }
    static Param blob(std::string v) { return Param{Blob, 0, std::move(v)}; }
};

using Value = std::optional<std::string>;  // nullopt for NULL; blobs as their bytes
using Row = std::vector<Value>;

class Connection {
public:
    virtual ~Connection() = default;
    virtual std::vector<Row> query(const std::string& sql, const std::vector<Param>& params = {}) = 0;
    // A write transaction takes the database's write lock at once.
    virtual void begin(bool write) = 0;
    virtual void commit() = 0;
    virtual void rollback() noexcept = 0;
    // Database-specific pieces of the schema and of the queries.
    virtual const char* blobType() const = 0;          // BLOB / BYTEA
    virtual const char* idColumn() const = 0;          // an integer key that numbers itself
    virtual const char* nextRunSeq() const = 0;        // the next submission number
    virtual std::vector<std::string> extraSchema() const = 0;
    // What a SELECT ends with to lock the rows it reads until the
    // transaction ends (nothing where a write transaction locks everything).
    virtual const char* lockRow() const = 0;
    // Serialises schema changes between hubs that share the database.
    virtual void lockSchema() = 0;
};

// A fixed set of connections shared by the hub's threads.
class Database {
public:
    // "postgresql://..." or "postgres://..." opens PostgreSQL, anything else
    // is the path of an SQLite file. Throws DatabaseError.
    static std::unique_ptr<Database> open(const std::string& where, int connections);
    virtual ~Database() = default;
    virtual std::string kind() const = 0;

    // One connection, for the lifetime of the lease, which the metrics time.
    class Lease {
    public:
        Lease(Database& db) : db_(db), start_(std::chrono::steady_clock::now()), conn_(db.take()) {}
        ~Lease()
        {
            db_.give(conn_);
            metrics().database.observe(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count());
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Connection* operator->() { return conn_; }
        Connection& operator*() { return *conn_; }

    private:
        Database& db_;
        std::chrono::steady_clock::time_point start_;
        Connection* conn_;
    };

protected:
    virtual Connection* take() = 0;
    virtual void give(Connection* conn) = 0;
};

// A transaction that rolls back unless committed.
class Transaction {
public:
    Transaction(Connection& conn, bool write) : conn_(conn) { conn_.begin(write); }
    ~Transaction()
    {
        if (!done_) {
            conn_.rollback();
        }
    }
    void commit()
    {
        conn_.commit();
        done_ = true;
    }

private:
    Connection& conn_;
    bool done_ = false;
};

std::unique_ptr<Database> openSqlite(const std::string& path, int connections);
std::unique_ptr<Database> openPostgres(const std::string& url, int connections);

}  // namespace hub
