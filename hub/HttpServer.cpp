#include "HttpServer.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <fcntl.h>

#include <atomic>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

namespace hub {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

std::chrono::milliseconds millis(double seconds)
{
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0));
}

constexpr size_t kHeaderLimit = 16 * 1024;

}  // namespace

struct HttpServer::Impl {
    ServerOptions options;
    HttpHandler& handler;
    // Sessions still waiting when the server stops end with the io_context
    // and leave() on their way: the counts must outlive it.
    std::mutex mutex;
    size_t connections = 0;
    std::map<std::string, size_t> perAddress;
    net::io_context ioc;
    tcp::acceptor acceptor;
    net::signal_set signals;
    std::function<void()> stopHandler;
    // Requests handed to the handler whose answers are not written yet.
    std::atomic<size_t> answering{0};

    Impl(const ServerOptions& o, HttpHandler& h)
        : options(o), handler(h), ioc(std::max(1, o.threads)), acceptor(net::make_strand(ioc)), signals(ioc, SIGINT, SIGTERM)
    {
    }

    bool admit(const std::string& address)
    {
        std::lock_guard<std::mutex> lock(mutex);
        size_t& mine = perAddress[address];
        if (connections >= options.maxConnections || mine >= options.maxConnectionsPerAddress) {
            if (mine == 0) {
                perAddress.erase(address);
            }
            return false;
        }
        ++connections;
        ++mine;
        return true;
    }

    void leave(const std::string& address)
    {
        std::lock_guard<std::mutex> lock(mutex);
        --connections;
        auto found = perAddress.find(address);
        if (found != perAddress.end() && --found->second == 0) {
            perAddress.erase(found);
        }
    }

    void accept();
};

namespace {

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket&& socket, HttpServer::Impl& server, std::string remote)
        : stream_(std::move(socket)), server_(server), remote_(std::move(remote))
    {
    }
    ~Session()
    {
        answered();
        server_.leave(remote_);
    }

    void start()
    {
        net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->waitForRequest(); });
    }

private:
    // Idle: wait for the first bytes of the next request.
    void waitForRequest()
    {
        if (buffer_.size() > 0) {
            readHeader();
            return;
        }
        stream_.expires_after(millis(server_.options.idleSeconds));
        stream_.async_read_some(buffer_.prepare(4096),
                                [self = shared_from_this()](beast::error_code ec, size_t n) {
                                    if (ec) {
                                        return self->close();
                                    }
                                    self->buffer_.commit(n);
                                    self->readHeader();
                                });
    }

    // One deadline for the whole request, header and body.
    void readHeader()
    {
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
        const std::string target(req.target());
        const std::string path = target.substr(0, target.find('?'));
        const size_t limit = server_.handler.bodyLimit(std::string(req.method_string()), path);
        const auto length = parser_->content_length();
        if (length && *length > limit) {
            return refuse(413, "the body is larger than " + std::to_string(limit) + " bytes");
        }
        parser_->body_limit(limit);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code ec2, size_t) { self->onBody(ec2); });
    }

    void onBody(beast::error_code ec)
    {
        if (ec == http::error::body_limit) {
            return refuse(413, "the body is too large");
        }
        if (ec == beast::error::timeout || ec == http::error::end_of_stream || ec == http::error::partial_message ||
            ec == net::error::eof || ec == net::error::connection_reset) {
            return close();
        }
        if (ec) {
            return refuse(400, "a malformed request");
        }
        auto req = parser_->release();
        parser_.reset();
        version_ = req.version();
        keepAlive_ = req.keep_alive();
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
        request.body = std::move(req.body());
        request.remote = remote_;
        stream_.expires_never();
        auto self = shared_from_this();
        server_.answering += 1;
        answering_ = true;
        server_.handler.handle(std::move(request), [self](HttpResponse&& response) {
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

    void write(HttpResponse&& response, bool closeAfter)
    {
        auto res = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(response.status),
                                                                       version_ ? version_ : 11);
        res->set(http::field::server, "velto-hub");
        res->set(http::field::content_type, response.contentType);
        for (const auto& [name, value] : response.headers) {
            res->set(name, value);
        }
        res->body() = std::move(response.body);
        res->keep_alive(keepAlive_ && !closeAfter);
        res->prepare_payload();
        response_ = res;
        stream_.expires_after(millis(server_.options.writeSeconds));
        http::async_write(stream_, *res, [self = shared_from_this(), closeAfter](beast::error_code ec, size_t) {
            const bool keep = !ec && !closeAfter && self->response_->keep_alive();
            self->response_.reset();
            self->answered();
            if (!keep) {
                return self->close();
            }
            self->waitForRequest();
        });
    }

    void answered()
    {
        if (answering_) {
            answering_ = false;
            server_.answering -= 1;
        }
    }

    void close()
    {
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
        stream_.close();
    }

    beast::tcp_stream stream_;
    HttpServer::Impl& server_;
    std::string remote_;
    beast::flat_buffer buffer_{kHeaderLimit + 4096};
    std::optional<http::request_parser<http::string_body>> parser_;
    std::shared_ptr<http::response<http::string_body>> response_;
    unsigned version_ = 0;
    bool keepAlive_ = true;
    bool answering_ = false;  // a request of ours is with the handler
};

}  // namespace

void HttpServer::Impl::accept()
{
    acceptor.async_accept(net::make_strand(ioc), [this](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted) {
            return;
        }
        if (!ec) {
            beast::error_code peerError;
            const auto peer = socket.remote_endpoint(peerError);
            const std::string address = peerError ? std::string("?") : peer.address().to_string();
            // Close-on-exec, like every other descriptor of the hub.
            ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
            if (admit(address)) {
                std::make_shared<Session>(std::move(socket), *this, address)->start();
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
        impl_->ioc.stop();
    });
}

}  // namespace hub
