// Http.h: HTTP GET downloads over libcurl, the stand-in for WinInet.
//
// One request per call on a handle of its own, so calls may run on any thread at once.
// The request is a plain GET that carries only Host and User-Agent "RkClientUpdater";
// nothing is answered from a cache. Redirects are followed, the proxy environment
// variables (http_proxy, https_proxy, all_proxy, no_proxy) are honoured and HTTPS checks
// the server against the system's certificates. Only http and https addresses are fetched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace velmoran::platform {

// The agent name every request carries.
inline constexpr const char* kHttpUserAgent = "RkClientUpdater";
// The largest piece of body a sink is handed at once.
inline constexpr std::size_t kHttpPieceSize = 1024;

struct HttpOptions {
    // Seconds to wait for the connection; 0 leaves libcurl's own limit (300 s).
    int connectTimeoutSeconds = 15;
    // Seconds without a single byte of the answer, once connected, after which the
    // transfer fails; 0 waits for ever.
    int stallTimeoutSeconds = 30;
    // Bytes that must arrive in every stall period once connected; fewer fail the transfer
    // as silence does, so that a server dripping a byte now and then cannot hold a run for
    // hours. 0 looks for silence only.
    std::int64_t stallFloorBytes = 0;
    // Redirects followed before the request fails; 0 follows none.
    int maxRedirects = 5;
};

// The outcome of one request. Failures of the network are reported here, not raised.
struct HttpResult {
    bool opened = false;    // the final answer (after redirects) arrived
    long status = 0;        // its HTTP status; 0 when !opened
    bool complete = false;  // the body arrived whole: no error, and all of a Content-Length
    std::int64_t bytes = 0; // body bytes handed to the sink
    std::string error;      // what went wrong, in words, when !complete

    // A 2xx answer whose body arrived whole.
    bool Succeeded() const noexcept { return opened && complete && status >= 200 && status < 300; }
};

// Receives the body in the order it arrives, at most kHttpPieceSize bytes per call. It may
// throw: the transfer is then abandoned and HttpGet passes the exception on.
using HttpSink = std::function<void(const char* data, std::size_t size)>;

// The options the programs use: a stall floor of one piece (kHttpPieceSize bytes per stall
// period), and the time-outs taken from VELMORAN_CONNECT_TIMEOUT and VELMORAN_STALL_TIMEOUT
// (whole seconds, above 0) when those are set, so that administrators and tests can
// shorten them without rebuilding.
HttpOptions DefaultHttpOptions();

// Prepares libcurl for the whole process. Call it from main() before any thread starts;
// HttpGet calls it too, so forgetting it is only unsafe while other threads already run
// code that uses libcurl or OpenSSL. Returns whether libcurl is ready; later calls
// return the first call's answer.
bool HttpGlobalInit();

// Fetches url and hands its body to sink as it arrives. Spaces, control characters and
// bytes beyond ASCII in url are sent percent-encoded; everything else goes as it is. The body is
// handed over whatever the status, so that callers decide what an error page means. Never raises
// for a failed transfer, only the sink's own exceptions.
HttpResult HttpGet(const std::string& url, const HttpSink& sink,
                   const HttpOptions& options = DefaultHttpOptions());

} // namespace velmoran::platform
