#pragma once

// One HTTP(S) GET through libcurl, bounded: a time-out for the whole request (connect, answer and
// body: a server that hangs or trickles is cut off), a body size limit checked as bytes arrive
// (after decompression), HTTPS checked against the system's certificates, and optional basic auth
// or a bearer token. The call blocks for up to its time-out, so it runs on a thread of its caller's
// own: never on the shared sampling pool or the main thread.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

namespace vigil::platform {

struct HttpCredentials {
    std::string user;  // basic auth when not empty
    std::string password;
    std::string token;  // "Authorization: Bearer <token>" when not empty (and no user)
};

struct HttpRequest {
    std::string url;
    HttpCredentials credentials;
    std::chrono::milliseconds timeout{5000};
    std::size_t maxBody = 16 * 1024 * 1024;
    // Ends the request early (within a second) once it holds true: a source being stopped.
    const std::atomic<bool>* cancel = nullptr;
};

struct HttpAnswer {
    long status = 0;    // the HTTP status; 0 when no answer came
    std::string body;   // the whole body when `error` is empty
    std::string error;  // empty on a 2xx answer within the limits; otherwise what went wrong

    bool ok() const { return error.empty(); }
};

HttpAnswer httpGet(const HttpRequest& request);

// Requests one after the other on one libcurl handle, which keeps its connection to a server open
// between them (a source polled every few seconds does not connect afresh each time). One thread
// at a time.
class HttpSession {
  public:
    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    HttpAnswer get(const HttpRequest& request);

  private:
    void* handle_ = nullptr;  // CURL*
};

// `text` escaped for a URL's query ("%XX" for every byte outside the unreserved set).
std::string urlEscape(const std::string& text);

}  // namespace vigil::platform
