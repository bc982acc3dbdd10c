// Http.cpp: HTTP GET over one libcurl easy handle per request.
#include "platform/Http.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <exception>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>

namespace velmoran::platform {

namespace {

// A large receive buffer keeps loopback and fast links at full speed; the 1 KiB pieces
// the callers want are cut from it in our own code.
constexpr long kReceiveBufferSize = 64 * 1024;

// A whole number of seconds above 0 from the environment, or fallback.
int SecondsFromEnvironment(const char* name, int fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr) {
        return fallback;
    }
    const std::string_view view(text);
    int value = 0;
    const auto [end, ec] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (ec != std::errc() || end != view.data() + view.size() || value <= 0) {
        return fallback;
    }
    return value;
}

using Clock = std::chrono::steady_clock;

// The address with spaces, control characters and bytes beyond ASCII percent-encoded, as
// WinInet sends them; libcurl refuses such addresses. Client paths may well hold spaces.
std::string Escaped(const std::string& url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

// What one transfer collects while libcurl runs it.
struct Transfer {
    const HttpSink* sink = nullptr;
    std::int64_t bytes = 0;
    std::exception_ptr sinkError;
    long pendingStatus = 0; // status line of the answer whose headers are being read
    long answers = 0;       // answers (not 1xx) whose headers arrived in full

    // The stall clock runs while a connection stands and is reset by every byte of an
    // answer; connecting has a time-out of its own.
    Clock::duration stallLimit{};
    bool connected = false;
    bool stalled = false;
    Clock::time_point lastActivity;
    // Bytes of answers (headers and bodies) so far, and where the current stall period
    // began, for the floor.
    std::int64_t stallFloor = 0;
    std::int64_t received = 0;
    std::int64_t periodStartBytes = 0;
    Clock::time_point periodStart;
    bool tooSlow = false;

    void StartPeriod(Clock::time_point now) {
        periodStart = now;
        periodStartBytes = received;
    }
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t total = size * count;
    transfer.lastActivity = Clock::now();
    transfer.received += static_cast<std::int64_t>(total);
    try {
        for (std::size_t offset = 0; offset < total; offset += kHttpPieceSize) {
            const std::size_t piece = std::min(kHttpPieceSize, total - offset);
            (*transfer.sink)(data + offset, piece);
            transfer.bytes += static_cast<std::int64_t>(piece);
        }
    } catch (...) {
        // An exception must not cross libcurl's C frames; keep it for HttpGet.
        transfer.sinkError = std::current_exception();
        return CURL_WRITEFUNC_ERROR;
    }
    return total;
}

// Counts the answers whose headers ended, so that a failure on the way to the final
// answer (a redirect to a dead address) is told from a failure inside its body.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    transfer.lastActivity = Clock::now();
    transfer.received += static_cast<std::int64_t>(size * count);
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        const std::size_t space = line.find(' ');
        long status = 0;
        if (space != std::string_view::npos) {
            std::from_chars(line.data() + space + 1, line.data() + line.size(), status);
        }
        transfer.pendingStatus = status;
    } else if (line == "\r\n" || line == "\n") {
        // Informational answers (100 Continue) are followed by the real one; trailers of a
        // chunked body end with a blank line too but have no status line before them.
        if (transfer.pendingStatus >= 200) {
            ++transfer.answers;
        }
        transfer.pendingStatus = 0;
    }
    return size * count;
}

// A new socket for the first connection or a redirect's: connecting starts.
int OnSocket(void* context, curl_socket_t, curlsocktype) {
    static_cast<Transfer*>(context)->connected = false;
    return CURL_SOCKOPT_OK;
}

// The connection stands (TLS and proxy tunnel included) and the request goes out.
int OnConnected(void* context, char*, char*, int, int) {
    auto& transfer = *static_cast<Transfer*>(context);
    transfer.connected = true;
    transfer.lastActivity = Clock::now();
    transfer.StartPeriod(transfer.lastActivity);
    return CURL_PREREQFUNC_OK;
}

// libcurl calls this often while data flows and about once a second when none does.
// libcurl's own low-speed limit averages over several seconds, so after a burst it notices
// silence only seconds late; the silence is measured here instead.
int OnProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& transfer = *static_cast<Transfer*>(context);
    if (!transfer.connected || transfer.stallLimit <= Clock::duration::zero()) {
        return 0;
    }
    const auto now = Clock::now();
    if (now - transfer.lastActivity >= transfer.stallLimit) {
        transfer.stalled = true;
        return 1;
    }
    // Every byte resets the silence clock, so a trickle needs a floor of its own.
    if (transfer.stallFloor > 0 && now - transfer.periodStart >= transfer.stallLimit) {
        if (transfer.received - transfer.periodStartBytes < transfer.stallFloor) {
            transfer.stalled = true;
            transfer.tooSlow = true;
            return 1;
        }
        transfer.StartPeriod(now);
    }
    return 0;
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

HttpResult Failed(std::string error) {
    HttpResult result;
    result.error = std::move(error);
    return result;
}

} // namespace

HttpOptions DefaultHttpOptions() {
    HttpOptions options;
    options.connectTimeoutSeconds =
        SecondsFromEnvironment("VELMORAN_CONNECT_TIMEOUT", options.connectTimeoutSeconds);
    options.stallTimeoutSeconds =
        SecondsFromEnvironment("VELMORAN_STALL_TIMEOUT", options.stallTimeoutSeconds);
    options.stallFloorBytes = static_cast<std::int64_t>(kHttpPieceSize);
    return options;
}

bool HttpGlobalInit() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

HttpResult HttpGet(const std::string& url, const HttpSink& sink, const HttpOptions& options) {
    if (!HttpGlobalInit()) {
        return Failed("libcurl could not be initialised");
    }
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        return Failed("libcurl could not create a request");
    }
    // An empty "Accept:" removes libcurl's default header, leaving Host and User-Agent.
    std::unique_ptr<curl_slist, SlistDeleter> headers(curl_slist_append(nullptr, "Accept:"));
    if (!headers) {
        return Failed("out of memory");
    }

    Transfer transfer;
    transfer.sink = &sink;
    transfer.stallLimit = std::chrono::seconds(std::max(0, options.stallTimeoutSeconds));
    transfer.stallFloor = std::max<std::int64_t>(0, options.stallFloorBytes);
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* handle = easy.get();
    const std::string address = Escaped(url);

    curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, kHttpUserAgent);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    // Anything else (file://, ftp://, ...) is not an update server, neither as the address
    // nor as a redirect target.
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS,
                     static_cast<long>(std::max(0, options.maxRedirects)));
    if (options.connectTimeoutSeconds > 0) {
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT,
                         static_cast<long>(options.connectTimeoutSeconds));
    }
    curl_easy_setopt(handle, CURLOPT_SOCKOPTFUNCTION, OnSocket);
    curl_easy_setopt(handle, CURLOPT_SOCKOPTDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, OnConnected);
    curl_easy_setopt(handle, CURLOPT_PREREQDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    // A proxy's answer to CONNECT is not the server's; keep it away from the answer count.
    curl_easy_setopt(handle, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);

    const CURLcode code = curl_easy_perform(handle);

    long status = 0;
    long redirects = 0;
    curl_off_t contentLength = -1;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(handle, CURLINFO_REDIRECT_COUNT, &redirects);
    curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &contentLength);
    easy.reset();

    if (transfer.sinkError) {
        std::rethrow_exception(transfer.sinkError);
    }

    HttpResult result;
    result.bytes = transfer.bytes;
    // Every redirect followed used up one answer; the final answer is the one after them.
    // A redirect that was not followed for being one too many is no final answer.
    result.opened = code != CURLE_TOO_MANY_REDIRECTS && status != 0 &&
                    (code == CURLE_OK || transfer.answers > redirects);
    result.status = result.opened ? status : 0;
    if (transfer.tooSlow) {
        result.error = "fewer than " + std::to_string(transfer.stallFloor) + " bytes arrived in " +
                       std::to_string(options.stallTimeoutSeconds) + " seconds";
    } else if (transfer.stalled) {
        result.error =
            "nothing arrived for " + std::to_string(options.stallTimeoutSeconds) + " seconds";
    } else if (code != CURLE_OK) {
        result.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    } else if (contentLength >= 0 && transfer.bytes != contentLength) {
        result.error = "the body ended after " + std::to_string(transfer.bytes) + " of " +
                       std::to_string(contentLength) + " bytes";
    } else {
        result.complete = true;
    }
    return result;
}

} // namespace velmoran::platform
