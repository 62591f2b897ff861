#include "net/HubHttp.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace {

std::once_flag curlReady;

struct Transfer {
    HttpReply* reply;
    size_t maxReply;
    bool tooLarge = false;
    const std::atomic<bool>* cancel;
};

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (transfer->reply->body.size() + bytes > transfer->maxReply) {
        transfer->tooLarge = true;
        return 0;   // ends the transfer
    }
    transfer->reply->body.append(data, bytes);
    return bytes;
}

size_t onHeader(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    const std::string line(data, bytes);
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon > 32) {
        return bytes;
    }
    std::string head = line.substr(0, colon + 1);
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (head == "retry-after:") {
        transfer->reply->retryAfter = parseRetryAfter(line.substr(colon + 1), 30);
    } else if (head == "x-total-count:") {
        // Digits only, and no more of them than a count can hold.
        long long value = 0;
        int digits = 0;
        for (size_t i = colon + 1; i < line.size(); ++i) {
            const char c = line[i];
            if (c >= '0' && c <= '9' && digits < 15) {
                value = value * 10 + (c - '0');
                ++digits;
            } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
                digits = 0;
                break;
            }
        }
        transfer->reply->totalCount = digits > 0 ? value : -1;
    }
    return bytes;
}

// A send buffer of its own size, so that what curl has sent is close to
// what the line carried: the stall check then sees a slow line as slow, not
// as stalled once the whole body sits in the kernel.
int onSocket(void*, curl_socket_t socket, curlsocktype)
{
    const int size = 128 << 10;
    setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    return CURL_SOCKOPT_OK;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* transfer = static_cast<Transfer*>(user);
    return transfer->cancel != nullptr && transfer->cancel->load() ? 1 : 0;
}

} // namespace

long parseRetryAfter(const std::string& value, long fallback)
{
    size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) {
        ++i;
    }
    long seconds = 0;
    size_t digits = 0;
    for (; i < value.size() && std::isdigit(static_cast<unsigned char>(value[i])); ++i, ++digits) {
        seconds = std::min<long>(seconds * 10 + (value[i] - '0'), 86400);
    }
    while (i < value.size() && std::isspace(static_cast<unsigned char>(value[i]))) {
        ++i;
    }
    return digits > 0 && i == value.size() ? seconds : fallback;
}

long exchangeLimitMs(const HubTimeouts& timeouts, size_t bodyBytes)
{
    const size_t bodyMs = bodyBytes / (kSlowestBytesPerSecond / 1000);
    return timeouts.totalMs + static_cast<long>(std::min<size_t>(bodyMs, size_t{24} * 3600 * 1000));
}

HttpReply httpExchange(const HttpRequest& request, const HubTimeouts& timeouts, const std::atomic<bool>* cancel)
{
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    HttpReply reply;
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        reply.error = "no network library";
        return reply;
    }
    Transfer transfer{&reply, request.maxReply, false, cancel};
    curl_slist* headers = nullptr;
    for (const std::string& header : request.headers) {
        headers = curl_slist_append(headers, header.c_str());
    }
    // An empty Expect keeps curl from waiting for a "100 Continue" first.
    headers = curl_slist_append(headers, "Expect:");

    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, exchangeLimitMs(timeouts, request.body.size()));
    // However long the whole may take, a transfer that stalls is cut.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kStallBytesPerSecond);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, std::max(1L, timeouts.totalMs / 1000));
    if (request.body.size() > (size_t{128} << 10)) {
        curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, onSocket);
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "velto");
    if (request.method == "DELETE") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "DELETE");
    } else if (request.method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    }

    const CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
        reply.outcome = HttpReply::Outcome::Answered;
    } else {
        reply.body.clear();
        reply.error = curl_easy_strerror(code);
        if (transfer.tooLarge) {
            reply.outcome = HttpReply::Outcome::TooLarge;
        } else if (code == CURLE_ABORTED_BY_CALLBACK) {
            reply.outcome = HttpReply::Outcome::Cancelled;
        } else if (code == CURLE_OPERATION_TIMEDOUT) {
            reply.outcome = HttpReply::Outcome::TimedOut;
        } else {
            reply.outcome = HttpReply::Outcome::Unreachable;
        }
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return reply;
}
