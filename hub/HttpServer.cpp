#include "HttpServer.h"

#include "Metrics.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <list>
#include <mutex>
#include <thread>

namespace hub {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using steady = std::chrono::steady_clock;

namespace {

std::chrono::milliseconds millis(double seconds)
{
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0));
}

constexpr size_t kHeaderLimit = 16 * 1024;
// How long the rest of a body refused unread is read and dropped, so that
// the client reads the answer before the connection ends.
constexpr double kDrainSeconds = 2.0;
// Freed memory is handed back to the system once this much body has gone.
constexpr size_t kTrimAfterBytes = size_t{32} << 20;
constexpr size_t kCountAnswersFrom = 64 * 1024;
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

class Session;

}  // namespace

struct HttpServer::Impl {
    ServerOptions options;
    HttpHandler& handler;
    // Sessions still waiting when the server stops end with the io_context
    // and leave() on their way: the counts must outlive it.
    std::mutex mutex;
    size_t connections = 0;
    std::map<std::string, size_t> perAddress;
    // Sessions waiting for a request, the longest waiting first.
    std::list<std::weak_ptr<Session>> idle;
    uint64_t idleClosed = 0;
    uint64_t refused = 0;
    std::atomic<uint64_t> pauses{0};
    bool pausedOnce = false;
    std::atomic<size_t> inFlight{0};
    std::atomic<size_t> releasedSinceTrim{0};
    net::io_context ioc;
    tcp::acceptor acceptor;
    net::steady_timer acceptPause;
    net::signal_set signals;
    std::function<void()> stopHandler;
    // Requests handed to the handler whose answers are not written yet.
    std::atomic<size_t> answering{0};

    Impl(const ServerOptions& o, HttpHandler& h)
        : options(o),
          handler(h),
          ioc(std::max(1, o.threads)),
          acceptor(net::make_strand(ioc)),
          acceptPause(acceptor.get_executor()),
          signals(ioc, SIGINT, SIGTERM)
    {
    }

    // Takes a slot for a new connection from `key`, closing the longest
    // idle connection when every slot is taken.
    bool admit(const std::string& key);
    // Closes the longest idle connection; false when none is idle.
    bool closeOldestIdle();
    void enterIdle(const std::shared_ptr<Session>& session);
    void leaveIdle(Session& session);
    void leave(Session& session);

    bool reserve(size_t bytes)
    {
        size_t now = inFlight.load();
        do {
            // One body is always let in, however large the route allows.
            if (now != 0 && now + bytes > options.maxBodyBytesInFlight) {
                return false;
            }
        } while (!inFlight.compare_exchange_weak(now, now + bytes));
        return true;
    }

    void release(size_t bytes)
    {
        if (bytes == 0) {
            return;
        }
        const size_t left = inFlight.fetch_sub(bytes) - bytes;
        const size_t released = releasedSinceTrim.fetch_add(bytes) + bytes;
        if (released >= kTrimAfterBytes || (left == 0 && released >= kTrimAfterBytes / 8)) {
            releasedSinceTrim = 0;
            ::malloc_trim(0);
        }
    }

    void accept();
};

namespace {

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket&& socket, HttpServer::Impl& server, std::string key)
        : stream_(std::move(socket)), server_(server), key_(std::move(key))
    {
    }
    ~Session()
    {
        answered();
        server_.leave(*this);
        server_.release(reserved_);
    }

    const std::string& key() const { return key_; }

    void start()
    {
        net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->waitForRequest(); });
    }

    // From another thread: the server needs the slot.
    void closeSoon()
    {
        net::post(stream_.get_executor(), [self = shared_from_this()] { self->close(); });
    }

    // The server's bookkeeping, under its mutex.
    bool counted = true;
    std::optional<std::list<std::weak_ptr<Session>>::iterator> idleAt;

private:
    // Idle: wait for the first bytes of the next request.
    void waitForRequest()
    {
        if (buffer_.size() > 0) {
            readHeader();
            return;
        }
        server_.enterIdle(shared_from_this());
        stream_.expires_after(millis(server_.options.idleSeconds));
        stream_.async_read_some(buffer_.prepare(4096),
                                [self = shared_from_this()](beast::error_code ec, size_t n) {
                                    self->server_.leaveIdle(*self);
                                    if (ec) {
                                        return self->close();
                                    }
                                    self->buffer_.commit(n);
                                    self->readHeader();
                                });
    }

    void readHeader()
    {
        requestStart_ = steady::now();
        route_ = "other";
        head_ = false;
        parser_.emplace();
        parser_->header_limit(kHeaderLimit);
        // The route decides the body's limit once the header is in.
        parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
        stream_.expires_after(millis(server_.options.requestSeconds));
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code ec, size_t) { self->onHeader(ec); });
    }

    void onHeader(beast::error_code ec)
    {
        if (ec == http::error::header_limit) {
            return refuse(431, "the request's header is too large");
        }
        if (ec == beast::error::timeout || ec == http::error::end_of_stream || ec == net::error::eof ||
            ec == net::error::connection_reset || ec == net::error::operation_aborted) {
            return close();
        }
        if (ec) {
            return refuse(400, "a malformed request");
        }
        const auto& req = parser_->get();
        version_ = req.version();
        keepAlive_ = req.keep_alive();
        head_ = req.method() == http::verb::head;
        HttpRequest request;
        request.method = std::string(req.method_string());
        const std::string target(req.target());
        const size_t q = target.find('?');
        request.path = target.substr(0, q);
        if (q != std::string::npos) {
            request.query = target.substr(q + 1);
        }
        for (const auto& field : req) {
            std::string name(field.name_string());
            for (char& c : name) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            request.headers[name] = std::string(field.value());
        }
        request.remote = key_;
        route_ = server_.handler.routeName(request.method, request.path);

        const size_t limit = server_.handler.bodyLimit(request.method, request.path);
        const auto length = parser_->content_length();
        const bool chunked = parser_->chunked();
        if (length && *length > limit) {
            return answerUnread(server_.handler.refusal(413, "the body is larger than " + std::to_string(limit) +
                                                                 " bytes"));
        }
        if (auto refusal = server_.handler.admit(request)) {
            return answerUnread(std::move(*refusal));
        }
        const size_t expected = length ? static_cast<size_t>(*length) : (chunked ? limit : 0);
        if (!server_.reserve(expected)) {
            HttpResponse busy = server_.handler.refusal(503, "the hub is receiving too much at once");
            busy.headers.emplace_back("Retry-After", std::to_string(server_.options.retryAfterFull));
            return answerUnread(std::move(busy));
        }
        reserved_ = expected;
        request_ = std::move(request);
        parser_->body_limit(limit);
        // The body may take its time at the slowest accepted rate on top of
        // the request timeout; silence of a request timeout ends it anyway.
        bodyDeadline_ = requestStart_ + millis(server_.options.requestSeconds + static_cast<double>(expected) /
                                                                                    kMinBodyRate);
        if (parser_->is_done()) {
            return onBody({});
        }
        const auto expect = req.find(http::field::expect);
        if (expect != req.end() && beast::iequals(expect->value(), "100-continue")) {
            static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
            stream_.expires_after(millis(server_.options.writeSeconds));
            return net::async_write(stream_, net::buffer(kContinue),
                                    [self = shared_from_this()](beast::error_code ec2, size_t) {
                                        if (ec2) {
                                            return self->close();
                                        }
                                        self->readBody();
                                    });
        }
        readBody();
    }

    void readBody()
    {
        stream_.expires_at(std::min(steady::now() + millis(server_.options.requestSeconds), bodyDeadline_));
        http::async_read_some(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (!ec && !self->parser_->is_done()) {
                return self->readBody();
            }
            self->onBody(ec);
        });
    }

    void onBody(beast::error_code ec)
    {
        if (ec == http::error::body_limit) {
            return refuse(413, "the body is too large");
        }
        if (ec == beast::error::timeout || ec == http::error::end_of_stream || ec == http::error::partial_message ||
            ec == net::error::eof || ec == net::error::connection_reset || ec == net::error::operation_aborted) {
            return close();
        }
        if (ec) {
            return refuse(400, "a malformed request");
        }
        request_.body = std::move(parser_->get().body());
        parser_.reset();
        stream_.expires_never();
        auto self = shared_from_this();
        server_.answering += 1;
        answering_ = true;
        server_.handler.handle(std::move(request_), [self](HttpResponse&& response) {
            auto shared = std::make_shared<HttpResponse>(std::move(response));
            net::post(self->stream_.get_executor(), [self, shared] { self->write(std::move(*shared), false); });
        });
    }

    void refuse(int status, const std::string& why)
    {
        if (!version_) {
            version_ = 11;
        }
        write(server_.handler.refusal(status, why), true);
    }

    // Answers without reading the body, which is then dropped unread.
    void answerUnread(HttpResponse&& response)
    {
        if (parser_->is_done()) {
            parser_.reset();
            return write(std::move(response), false);
        }
        drain_ = true;
        write(std::move(response), true);
    }

    void write(HttpResponse&& response, bool closeAfter)
    {
        metrics().request(route_, response.status);
        const unsigned version = version_ ? version_ : 11;
        const auto status = static_cast<http::status>(response.status);
        if (!response.file.empty()) {
            http::file_body::value_type file;
            if (!openFile(response.file, file)) {
                return write(server_.handler.refusal(500, "the file cannot be read"), closeAfter);
            }
            const size_t size = static_cast<size_t>(file.size());
            if (head_) {
                return sendHead(response, size, closeAfter);
            }
            auto res = std::make_shared<http::response<http::file_body>>(status, version);
            setFields(*res, response);
            res->body() = std::move(file);
            res->prepare_payload();
            return send(std::move(res), size, closeAfter);
        }
        if (head_) {
            return sendHead(response, response.body.size(), closeAfter);
        }
        // A large answer a client may leave unread counts against the bodies
        // in flight too.
        if (response.body.size() >= kCountAnswersFrom) {
            if (!server_.reserve(response.body.size())) {
                HttpResponse busy = server_.handler.refusal(503, "the hub is sending too much at once");
                busy.headers.emplace_back("Retry-After", std::to_string(server_.options.retryAfterFull));
                return write(std::move(busy), closeAfter);
            }
            reserved_ += response.body.size();
        }
        auto res = std::make_shared<http::response<http::string_body>>(status, version);
        setFields(*res, response);
        const size_t size = response.body.size();
        res->body() = std::move(response.body);
        res->prepare_payload();
        send(std::move(res), size, closeAfter);
    }

    template <class Message>
    static void setFields(Message& res, const HttpResponse& response)
    {
        res.set(http::field::server, "velto-hub");
        res.set(http::field::content_type, response.contentType);
        // No browser guesses another type than the one given.
        res.set("X-Content-Type-Options", "nosniff");
        for (const auto& [name, value] : response.headers) {
            res.set(name, value);
        }
    }

    // The answer to a HEAD: the header a GET would have, with its length.
    void sendHead(const HttpResponse& response, size_t length, bool closeAfter)
    {
        auto res = std::make_shared<http::response<http::empty_body>>(static_cast<http::status>(response.status),
                                                                      version_ ? version_ : 11);
        setFields(*res, response);
        res->content_length(length);
        send(std::move(res), 0, closeAfter);
    }

    // A regular file, opened without following a link.
    static bool openFile(const std::string& path, http::file_body::value_type& body)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            return false;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return false;
        }
        beast::file file;
        file.native_handle(fd);
        beast::error_code ec;
        body.reset(std::move(file), ec);
        return !ec;
    }

    // An answer may take the write timeout plus its time at kMinBodyRate;
    // a reader that takes nothing for the write timeout is cut off.
    template <class Body>
    void send(std::shared_ptr<http::response<Body>> res, size_t bytes, bool closeAfter)
    {
        res->keep_alive(keepAlive_ && !closeAfter);
        const bool keep = res->keep_alive();
        response_ = res;
        writeDeadline_ =
            steady::now() + millis(server_.options.writeSeconds + static_cast<double>(bytes) / kMinBodyRate);
        writeSome(std::make_shared<http::response_serializer<Body>>(*res), keep);
    }

    template <class Body>
    void writeSome(std::shared_ptr<http::response_serializer<Body>> serializer, bool keep)
    {
        stream_.expires_at(std::min(steady::now() + millis(server_.options.writeSeconds), writeDeadline_));
        http::async_write_some(stream_, *serializer,
                               [self = shared_from_this(), serializer, keep](beast::error_code ec, size_t) {
                                   if (!ec && !serializer->is_done()) {
                                       return self->writeSome(serializer, keep);
                                   }
                                   self->written(ec, keep);
                               });
    }

    void answered()
    {
        if (answering_) {
            answering_ = false;
            server_.answering -= 1;
        }
    }

    void written(beast::error_code ec, bool keep)
    {
        answered();
        response_.reset();
        server_.release(reserved_);
        reserved_ = 0;
        if (!ec && drain_) {
            return drain();
        }
        if (ec || !keep) {
            return close();
        }
        waitForRequest();
    }

    // Reads and drops what the client still sends, for a short while.
    void drain()
    {
        drain_ = false;
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
        buffer_.clear();
        stream_.expires_after(millis(kDrainSeconds));
        drainSome();
    }

    void drainSome()
    {
        stream_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](beast::error_code ec, size_t) {
            if (ec) {
                return self->close();
            }
            self->drainSome();
        });
    }

    void close()
    {
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
        stream_.close();
    }

    beast::tcp_stream stream_;
    HttpServer::Impl& server_;
    std::string key_;
    beast::flat_buffer buffer_{kHeaderLimit + 4096};
    std::optional<http::request_parser<http::string_body>> parser_;
    HttpRequest request_;
    std::shared_ptr<void> response_;
    std::string route_ = "other";
    steady::time_point requestStart_;
    steady::time_point bodyDeadline_;
    steady::time_point writeDeadline_;
    size_t reserved_ = 0;  // of the server's bytes in flight
    unsigned version_ = 0;
    bool keepAlive_ = true;
    bool head_ = false;
    bool drain_ = false;
    bool answering_ = false;  // a request of ours is with the handler
};

}  // namespace

bool HttpServer::Impl::admit(const std::string& key)
{
    std::shared_ptr<Session> victim;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto mine = perAddress.find(key);
        if (mine != perAddress.end() && mine->second >= options.maxConnectionsPerAddress) {
            ++refused;
            return false;
        }
        if (connections >= options.maxConnections) {
            for (auto it = idle.begin(); it != idle.end(); ++it) {
                // One that is ending already leaves by itself.
                if (auto s = it->lock()) {
                    idle.erase(it);
                    s->idleAt.reset();
                    s->counted = false;
                    --connections;
                    auto theirs = perAddress.find(s->key());
                    if (theirs != perAddress.end() && --theirs->second == 0) {
                        perAddress.erase(theirs);
                    }
                    ++idleClosed;
                    victim = std::move(s);
                    break;
                }
            }
            if (!victim) {
                ++refused;
                return false;
            }
        }
        ++connections;
        ++perAddress[key];
    }
    // Released outside the lock: its end takes the lock too.
    if (victim) {
        victim->closeSoon();
        victim.reset();
    }
    return true;
}

bool HttpServer::Impl::closeOldestIdle()
{
    std::shared_ptr<Session> victim;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = idle.begin(); it != idle.end() && !victim; ++it) {
            if (auto s = it->lock()) {
                idle.erase(it);
                s->idleAt.reset();
                ++idleClosed;
                victim = std::move(s);
            }
        }
    }
    if (victim) {
        victim->closeSoon();
    }
    return victim != nullptr;
}

void HttpServer::Impl::enterIdle(const std::shared_ptr<Session>& session)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!session->counted) {
        return;  // closed for another; going
    }
    session->idleAt = idle.insert(idle.end(), session);
}

void HttpServer::Impl::leaveIdle(Session& session)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (session.idleAt) {
        idle.erase(*session.idleAt);
        session.idleAt.reset();
    }
}

void HttpServer::Impl::leave(Session& session)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (session.idleAt) {
        idle.erase(*session.idleAt);
        session.idleAt.reset();
    }
    if (!session.counted) {
        return;
    }
    session.counted = false;
    --connections;
    auto found = perAddress.find(session.key());
    if (found != perAddress.end() && --found->second == 0) {
        perAddress.erase(found);
    }
}

void HttpServer::Impl::accept()
{
    acceptor.async_accept(net::make_strand(ioc), [this](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !acceptor.is_open()) {
            return;
        }
        if (ec == net::error::no_descriptors || ec.value() == ENFILE || ec == net::error::no_buffer_space ||
            ec == net::error::no_memory) {
            // Out of descriptors: the waiting connection stays readable, so
            // accepting again at once would spin. Make room and wait a little.
            if (!pausedOnce) {
                std::fprintf(stderr, "velto-hub: cannot accept connections: %s; pausing\n", ec.message().c_str());
                pausedOnce = true;
            }
            ++pauses;
            closeOldestIdle();
            acceptPause.expires_after(kAcceptPause);
            acceptPause.async_wait([this](beast::error_code waited) {
                if (!waited) {
                    accept();
                }
            });
            return;
        }
        if (!ec) {
            beast::error_code peerError;
            const auto peer = socket.remote_endpoint(peerError);
            const std::string key = peerError ? std::string("?") : addressKey(peer.address().to_string());
            // Close-on-exec, like every other descriptor of the hub.
            ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
            if (admit(key)) {
                std::make_shared<Session>(std::move(socket), *this, key)->start();
            }
        }
        accept();
    });
}

HttpServer::HttpServer(const ServerOptions& options, HttpHandler& handler)
    : impl_(std::make_unique<Impl>(options, handler))
{
    beast::error_code ec;
    const auto address = net::ip::make_address(options.address, ec);
    if (ec) {
        throw std::runtime_error("not an address: " + options.address);
    }
    const tcp::endpoint endpoint(address, options.port);
    impl_->acceptor.open(endpoint.protocol(), ec);
    if (!ec) {
        ::fcntl(impl_->acceptor.native_handle(), F_SETFD, FD_CLOEXEC);
        impl_->acceptor.set_option(net::socket_base::reuse_address(true), ec);
    }
    if (!ec) {
        impl_->acceptor.bind(endpoint, ec);
    }
    if (!ec) {
        impl_->acceptor.listen(net::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        throw std::runtime_error("cannot listen on " + options.address + ":" + std::to_string(options.port) + ": " +
                                 ec.message());
    }
}

HttpServer::~HttpServer() = default;

uint16_t HttpServer::port() const
{
    return impl_->acceptor.local_endpoint().port();
}

void HttpServer::setStopHandler(std::function<void()> handler)
{
    impl_->stopHandler = std::move(handler);
}

void HttpServer::stopAccepting()
{
    net::post(impl_->acceptor.get_executor(), [this] {
        beast::error_code ec;
        impl_->acceptor.close(ec);
        impl_->acceptPause.cancel();
    });
}

void HttpServer::stopAfterAnswers(double seconds)
{
    const auto until = std::chrono::steady_clock::now() + millis(seconds);
    while (impl_->answering.load() > 0 && !impl_->ioc.stopped() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop();
}

void HttpServer::run()
{
    impl_->signals.async_wait([this](beast::error_code ec, int) {
        if (ec) {
            return;
        }
        if (!impl_->stopHandler) {
            return stop();
        }
        impl_->stopHandler();
        impl_->signals.async_wait([this](beast::error_code again, int) {
            if (!again) {
                stop();
            }
        });
    });
    impl_->accept();
    std::vector<std::thread> threads;
    for (int i = 1; i < impl_->options.threads; ++i) {
        threads.emplace_back([this] { impl_->ioc.run(); });
    }
    impl_->ioc.run();
    for (auto& t : threads) {
        t.join();
    }
}

void HttpServer::stop()
{
    net::post(impl_->acceptor.get_executor(), [this] {
        beast::error_code ec;
        impl_->acceptor.close(ec);
        impl_->acceptPause.cancel();
        impl_->ioc.stop();
    });
}

ServerGauges HttpServer::gauges()
{
    ServerGauges g;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        g.connections = impl_->connections;
        g.idleConnections = impl_->idle.size();
        g.idleClosedForNew = impl_->idleClosed;
        g.refusedConnections = impl_->refused;
    }
    g.bodyBytesInFlight = impl_->inFlight.load();
    g.acceptPauses = impl_->pauses.load();
    return g;
}

std::string addressKey(const std::string& text)
{
    beast::error_code ec;
    const auto address = net::ip::make_address(text, ec);
    if (ec) {
        return text.substr(0, 64);
    }
    if (address.is_v4()) {
        return address.to_string();
    }
    const auto v6 = address.to_v6();
    if (v6.is_v4_mapped()) {
        return net::ip::make_address_v4(net::ip::v4_mapped, v6).to_string();
    }
    auto bytes = v6.to_bytes();
    for (size_t i = 8; i < bytes.size(); ++i) {
        bytes[i] = 0;
    }
    return net::ip::make_address_v6(bytes).to_string() + "/64";
}

}  // namespace hub
