#include "platform/HttpFetch.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <memory>
#include <optional>

#include "C/system/ErrorReport.h"

namespace vigil::platform {

namespace {

// libcurl is opened on first use rather than linked: with the TLS, LDAP and SSH libraries it
// brings, it is about 4 MB of resident pages that a panel watching no other machine would carry.
struct Curl {
    CURLcode (*globalInit)(long);
    CURL* (*easyInit)();
    void (*easyCleanup)(CURL*);
    void (*easyReset)(CURL*);
    CURLcode (*easySetopt)(CURL*, CURLoption, ...);
    CURLcode (*easyGetinfo)(CURL*, CURLINFO, ...);
    CURLcode (*easyPerform)(CURL*);
    const char* (*easyStrerror)(CURLcode);
    curl_slist* (*slistAppend)(curl_slist*, const char*);
    void (*slistFreeAll)(curl_slist*);
};

template <typename Function>
bool bind(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

std::optional<Curl> openCurl() {
    constexpr const char* kLibrary = "libcurl.so.4";
    void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = ::dlerror();
        ErrorReport::shared().report("dlopen", std::string(kLibrary) + ": " + (why ? why : ""));
        return std::nullopt;
    }
    Curl curl{};
    const bool complete = bind(library, "curl_global_init", curl.globalInit) &&
                          bind(library, "curl_easy_init", curl.easyInit) &&
                          bind(library, "curl_easy_cleanup", curl.easyCleanup) &&
                          bind(library, "curl_easy_reset", curl.easyReset) &&
                          bind(library, "curl_easy_setopt", curl.easySetopt) &&
                          bind(library, "curl_easy_getinfo", curl.easyGetinfo) &&
                          bind(library, "curl_easy_perform", curl.easyPerform) &&
                          bind(library, "curl_easy_strerror", curl.easyStrerror) &&
                          bind(library, "curl_slist_append", curl.slistAppend) &&
                          bind(library, "curl_slist_free_all", curl.slistFreeAll);
    if (!complete) {
        ErrorReport::shared().report("dlsym", std::string(kLibrary) + " lacks libcurl's functions");
        ::dlclose(library);
        return std::nullopt;
    }
    curl.globalInit(CURL_GLOBAL_DEFAULT);
    return curl;  // kept open for the life of the process
}

// The library's functions, or nothing where it cannot be opened (said once).
const Curl* curlLibrary() {
    static const std::optional<Curl> curl = openCurl();
    return curl ? &*curl : nullptr;
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

struct HeadersFree {
    void operator()(curl_slist* list) const { curlLibrary()->slistFreeAll(list); }
};
using Headers = std::unique_ptr<curl_slist, HeadersFree>;

void applyCredentials(const Curl& lib, CURL* curl, const HttpCredentials& credentials,
                      Headers& headers) {
    if (!credentials.user.empty()) {
        lib.easySetopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        lib.easySetopt(curl, CURLOPT_USERNAME, credentials.user.c_str());
        lib.easySetopt(curl, CURLOPT_PASSWORD, credentials.password.c_str());
    } else if (!credentials.token.empty()) {
        std::string header = "Authorization: Bearer " + credentials.token;
        headers.reset(lib.slistAppend(nullptr, header.c_str()));
        lib.easySetopt(curl, CURLOPT_HTTPHEADER, headers.get());
    }
}

// One request on `c`, whose options are set afresh (a kept handle keeps its connections).
HttpAnswer perform(CURL* c, const HttpRequest& request) {
    HttpAnswer answer;
    const Curl* lib = curlLibrary();
    if (!lib || !c) {
        answer.error = "cannot start an HTTP request";
        return answer;
    }
    lib->easyReset(c);
    BodySink sink{&answer.body, request.maxBody};
    Headers headers;
    lib->easySetopt(c, CURLOPT_URL, request.url.c_str());
    lib->easySetopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    lib->easySetopt(c, CURLOPT_NOSIGNAL, 1L);
    lib->easySetopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    lib->easySetopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.timeout.count()));
    lib->easySetopt(c, CURLOPT_ACCEPT_ENCODING, "");
    lib->easySetopt(c, CURLOPT_USERAGENT, "Vigil");
    lib->easySetopt(c, CURLOPT_WRITEFUNCTION, appendBody);
    lib->easySetopt(c, CURLOPT_WRITEDATA, &sink);
    applyCredentials(*lib, c, request.credentials, headers);
    if (request.cancel) {
        lib->easySetopt(c, CURLOPT_NOPROGRESS, 0L);
        lib->easySetopt(c, CURLOPT_XFERINFOFUNCTION, checkCancel);
        lib->easySetopt(c, CURLOPT_XFERINFODATA, request.cancel);
    }

    CURLcode result = lib->easyPerform(c);
    lib->easyGetinfo(c, CURLINFO_RESPONSE_CODE, &answer.status);
    if (sink.overflowed) {
        answer.error = "answer larger than " + std::to_string(request.maxBody) + " bytes";
    } else if (result == CURLE_OPERATION_TIMEDOUT) {
        // libcurl's own text carries the bytes and milliseconds of this try: one cause per server
        // needs a text that stays the same.
        answer.error =
            "no complete answer within " + std::to_string(request.timeout.count()) + " ms";
    } else if (result != CURLE_OK) {
        answer.error = lib->easyStrerror(result);  // the same text each time for one cause
    } else if (answer.status < 200 || answer.status > 299) {
        answer.error = "HTTP status " + std::to_string(answer.status);
    }
    if (!answer.ok())
        answer.body.clear();
    return answer;
}

}  // namespace

HttpAnswer httpGet(const HttpRequest& request) {
    HttpSession session;
    return session.get(request);
}

// The library is opened by the first request, not here: a source that is made and never polled
// costs nothing.
HttpSession::HttpSession() = default;

HttpSession::~HttpSession() {
    if (handle_)
        curlLibrary()->easyCleanup(handle_);
}

HttpAnswer HttpSession::get(const HttpRequest& request) {
    if (!handle_) {
        if (const Curl* lib = curlLibrary())
            handle_ = lib->easyInit();
    }
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
