#include "platform/HttpFetch.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace vigil::platform {

namespace {

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct BodySink {
    std::string* body;
    std::size_t limit;
    bool overflowed = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* context) {
    auto* sink = static_cast<BodySink*>(context);
    size_t bytes = size * count;
    if (sink->body->size() + bytes > sink->limit) {
        sink->overflowed = true;
        return 0;  // libcurl ends the transfer with CURLE_WRITE_ERROR
    }
    sink->body->append(data, bytes);
    return bytes;
}

int checkCancel(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancel = static_cast<const std::atomic<bool>*>(context);
    return cancel && cancel->load() ? 1 : 0;
}

using Easy = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using Headers = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

void applyCredentials(CURL* curl, const HttpCredentials& credentials, Headers& headers) {
    if (!credentials.user.empty()) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(curl, CURLOPT_USERNAME, credentials.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, credentials.password.c_str());
    } else if (!credentials.token.empty()) {
        std::string header = "Authorization: Bearer " + credentials.token;
        headers.reset(curl_slist_append(nullptr, header.c_str()));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    }
}

// One request on `c`, whose options are set afresh (a kept handle keeps its connections).
HttpAnswer perform(CURL* c, const HttpRequest& request) {
    HttpAnswer answer;
    if (!c) {
        answer.error = "cannot start an HTTP request";
        return answer;
    }
    curl_easy_reset(c);
    BodySink sink{&answer.body, request.maxBody};
    Headers headers(nullptr, &curl_slist_free_all);
    curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Vigil");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    applyCredentials(c, request.credentials, headers);
    if (request.cancel) {
        curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, checkCancel);
        curl_easy_setopt(c, CURLOPT_XFERINFODATA, request.cancel);
    }

    CURLcode result = curl_easy_perform(c);
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &answer.status);
    if (sink.overflowed) {
        answer.error = "answer larger than " + std::to_string(request.maxBody) + " bytes";
    } else if (result == CURLE_OPERATION_TIMEDOUT) {
        // libcurl's own text carries the bytes and milliseconds of this try: one cause per server
        // needs a text that stays the same.
        answer.error =
            "no complete answer within " + std::to_string(request.timeout.count()) + " ms";
    } else if (result != CURLE_OK) {
        answer.error = curl_easy_strerror(result);  // the same text each time for one cause
    } else if (answer.status < 200 || answer.status > 299) {
        answer.error = "HTTP status " + std::to_string(answer.status);
    }
    if (!answer.ok())
        answer.body.clear();
    return answer;
}

}  // namespace

HttpAnswer httpGet(const HttpRequest& request) {
    initialiseOnce();
    Easy curl(curl_easy_init(), &curl_easy_cleanup);
    return perform(curl.get(), request);
}

HttpSession::HttpSession() {
    initialiseOnce();
    handle_ = curl_easy_init();
}

HttpSession::~HttpSession() {
    if (handle_)
        curl_easy_cleanup(handle_);
}

HttpAnswer HttpSession::get(const HttpRequest& request) {
    return perform(handle_, request);
}

std::string urlEscape(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string escaped;
    for (unsigned char c : text) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            escaped += static_cast<char>(c);
        } else {
            escaped += '%';
            escaped += hex[c >> 4];
            escaped += hex[c & 15];
        }
    }
    return escaped;
}

}  // namespace vigil::platform
