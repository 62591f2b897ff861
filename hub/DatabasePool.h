// A database as a fixed set of open connections; a thread that finds none
// free waits for one.
#pragma once

#include "Database.h"

#include <condition_variable>
#include <mutex>

namespace hub {

class PooledDatabase : public Database {
public:
    PooledDatabase(std::string kind, std::vector<std::unique_ptr<Connection>> conns);
    std::string kind() const override { return kind_; }

protected:
    Connection* take() override;
    void give(Connection* conn) override;

private:
    std::string kind_;
    std::vector<std::unique_ptr<Connection>> all_;
    std::vector<Connection*> free_;
    std::mutex mutex_;
    std::condition_variable available_;
};

}  // namespace hub
