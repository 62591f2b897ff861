// PostgreSQL through libpq: every statement goes out with PQexecParams, its
// values as parameters, never spliced into the text.
#include "DatabasePool.h"

#include <libpq-fe.h>

#include <map>

namespace hub {
namespace {

constexpr Oid kByteaOid = 17;

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// A bytea in the text form of the hex output: "\x" then two digits a byte.
std::string decodeBytea(const char* text, size_t size)
{
    std::string out;
    if (size < 2 || text[0] != '\\' || text[1] != 'x') {
        throw DatabaseError("postgres: unexpected bytea output");
    }
    out.reserve((size - 2) / 2);
    for (size_t i = 2; i + 1 < size; i += 2) {
        const int hi = hexValue(text[i]);
        const int lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) {
            throw DatabaseError("postgres: unexpected bytea output");
        }
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return out;
}

class PgConnection : public Connection {
public:
    explicit PgConnection(const std::string& url)
    {
        conn_ = PQconnectdb(url.c_str());
        if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
            std::string why = conn_ != nullptr ? PQerrorMessage(conn_) : "out of memory";
            PQfinish(conn_);
            while (!why.empty() && why.back() == '\n') {
                why.pop_back();
            }
            throw DatabaseError("cannot connect to PostgreSQL: " + why);
        }
        query("SET client_min_messages TO warning", {});
    }
    ~PgConnection() override { PQfinish(conn_); }

    // A connection that the server dropped while it waited in the pool (a
    // database restart) fails its next statement. When that statement
    // began no transaction's middle, nothing was lost with the old
    // connection: it goes out once more on the new one, so a restart costs
    // only the requests that were in flight.
    std::vector<Row> query(const std::string& sql, const std::vector<Param>& params) override
    {
        // Unknown: the last request found the server gone and could not
        // open a new connection; that request ended there.
        const PGTransactionStatusType before = PQtransactionStatus(conn_);
        const bool betweenTransactions = before == PQTRANS_IDLE || before == PQTRANS_UNKNOWN;
        reopened_ = false;
        try {
            return run(sql, params);
        } catch (const DatabaseError&) {
            if (!betweenTransactions || !reopened_ || PQstatus(conn_) != CONNECTION_OK) {
                throw;
            }
        }
        return run(sql, params);
    }

    std::vector<Row> run(const std::string& sql, const std::vector<Param>& params)
    {
        std::vector<std::string> numbers(params.size());
        std::vector<const char*> values(params.size());
        std::vector<int> lengths(params.size());
        std::vector<int> formats(params.size());
        for (size_t i = 0; i < params.size(); ++i) {
            const Param& p = params[i];
            if (p.kind == Param::Int) {
                numbers[i] = std::to_string(p.number);
                values[i] = numbers[i].c_str();
                lengths[i] = static_cast<int>(numbers[i].size());
            } else {
                values[i] = p.bytes.data();
                lengths[i] = static_cast<int>(p.bytes.size());
                formats[i] = p.kind == Param::Blob ? 1 : 0;
            }
        }
        // Each statement is prepared once per connection, so that the
        // server parses and plans it once.
        auto prepared = statements_.find(sql);
        if (prepared == statements_.end()) {
            std::string name = "s";
            name += std::to_string(statements_.size());
            PQclear(check(PQprepare(conn_, name.c_str(), sql.c_str(), static_cast<int>(params.size()), nullptr)));
            prepared = statements_.emplace(sql, name).first;
        }
        PGresult* res = check(PQexecPrepared(conn_, prepared->second.c_str(), static_cast<int>(params.size()),
                                             values.data(), lengths.data(), formats.data(), 0));
        std::vector<Row> rows;
        const int n = PQntuples(res);
        const int cols = PQnfields(res);
        rows.reserve(static_cast<size_t>(n));
        for (int r = 0; r < n; ++r) {
            Row row;
            for (int c = 0; c < cols; ++c) {
                if (PQgetisnull(res, r, c)) {
                    row.emplace_back();
                    continue;
                }
                const char* text = PQgetvalue(res, r, c);
                const size_t size = static_cast<size_t>(PQgetlength(res, r, c));
                if (PQftype(res, c) == kByteaOid) {
                    row.emplace_back(decodeBytea(text, size));
                } else {
                    row.emplace_back(std::string(text, size));
                }
            }
            rows.push_back(std::move(row));
        }
        PQclear(res);
        return rows;
    }

    // The result, or DatabaseError with the server's message.
    PGresult* check(PGresult* res)
    {
        const ExecStatusType status = PQresultStatus(res);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            return res;
        }
        std::string why = res != nullptr ? PQresultErrorMessage(res) : PQerrorMessage(conn_);
        PQclear(res);
        // A broken connection is opened again, without its prepared
        // statements, for the next statement.
        if (PQstatus(conn_) == CONNECTION_BAD) {
            PQreset(conn_);
            statements_.clear();
            reopened_ = true;
        }
        while (!why.empty() && why.back() == '\n') {
            why.pop_back();
        }
        throw DatabaseError("postgres: " + why);
    }

    void begin(bool /*write*/) override { query("BEGIN", {}); }
    void commit() override { query("COMMIT", {}); }
    void rollback() noexcept override
    {
        if (PQtransactionStatus(conn_) != PQTRANS_IDLE) {
            PQclear(PQexec(conn_, "ROLLBACK"));
        }
    }
    const char* blobType() const override { return "BYTEA"; }
    const char* idColumn() const override { return "BIGSERIAL PRIMARY KEY"; }
    const char* nextRunSeq() const override { return "nextval('run_seq')"; }
    std::vector<std::string> extraSchema() const override { return {"CREATE SEQUENCE IF NOT EXISTS run_seq"}; }
    const char* lockRow() const override { return " FOR UPDATE"; }
    // Hubs starting together take turns at the schema.
    void lockSchema() override { query("SELECT pg_advisory_xact_lock(8470)", {}); }

private:
    PGconn* conn_ = nullptr;
    std::map<std::string, std::string> statements_;
    bool reopened_ = false;  // the last statement found the connection broken and opened it again
};

}  // namespace

std::unique_ptr<Database> openPostgres(const std::string& url, int connections)
{
    std::vector<std::unique_ptr<Connection>> conns;
    for (int i = 0; i < connections; ++i) {
        conns.push_back(std::make_unique<PgConnection>(url));
    }
    return std::make_unique<PooledDatabase>("postgresql", std::move(conns));
}

}  // namespace hub
