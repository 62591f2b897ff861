#include "Database.h"

#include "DatabasePool.h"

namespace hub {

std::unique_ptr<Database> Database::open(const std::string& where, int connections)
{
    if (where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0) {
        return openPostgres(where, connections);
    }
    return openSqlite(where, connections);
}

PooledDatabase::PooledDatabase(std::string kind, std::vector<std::unique_ptr<Connection>> conns)
    : kind_(std::move(kind)), all_(std::move(conns))
{
    for (auto& c : all_) {
        free_.push_back(c.get());
    }
}

Connection* PooledDatabase::take()
{
    std::unique_lock<std::mutex> lock(mutex_);
    available_.wait(lock, [&] { return !free_.empty(); });
    Connection* c = free_.back();
    free_.pop_back();
    return c;
}

void PooledDatabase::give(Connection* conn)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(conn);
    }
    available_.notify_one();
}

}  // namespace hub
