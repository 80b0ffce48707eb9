#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

struct sd_bus;
struct sd_bus_message;

namespace vigil {

// A D-Bus connection (sd-bus) for plain method calls with a time-out. Errors come back as one line
// ("org.freedesktop.DBus.Error.ServiceUnknown: The name ... was not provided by any .service
// files") for the caller to report. A Bus is used from one thread at a time.
class Bus {
  public:
    // A reply message; read it with sd_bus_message_read and friends through message().
    class Reply {
      public:
        explicit Reply(sd_bus_message* message) : message_(message) {}
        Reply(Reply&& other) noexcept : message_(other.message_) { other.message_ = nullptr; }
        Reply& operator=(Reply&& other) noexcept;
        Reply(const Reply&) = delete;
        Reply& operator=(const Reply&) = delete;
        ~Reply();

        sd_bus_message* message() const { return message_; }
        // Reads one basic value (type 's', 'o' or 'g') or a boolean ('b').
        std::optional<std::string> readString(char type = 's') const;
        std::optional<bool> readBool() const;
        // Reads a variant holding one of the types above (a property's value).
        std::optional<std::string> readVariantString(char type) const;
        std::optional<bool> readVariantBool() const;

      private:
        sd_bus_message* message_;
    };

    // Appends the arguments of a call; returns a negative errno on failure.
    using Arguments = std::function<int(sd_bus_message*)>;

    struct Target {
        std::string destination;
        std::string path;
        std::string interface;
    };

    static std::unique_ptr<Bus> system(std::string* error = nullptr);
    static std::unique_ptr<Bus> session(std::string* error = nullptr);
    // A bus at an address ("unix:path=/run/x"), as a client that says Hello.
    static std::unique_ptr<Bus> open(const std::string& address, std::string* error = nullptr);

    ~Bus();
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // Calls a method and waits up to `timeout` for the answer. On failure `error` gets one line.
    std::optional<Reply> call(const Target& target, const std::string& member,
                              const Arguments& arguments, std::chrono::milliseconds timeout,
                              std::string* error = nullptr);

    // org.freedesktop.DBus.Properties.Get; the reply holds one variant.
    std::optional<Reply> getProperty(const Target& target, const std::string& property,
                                     std::chrono::milliseconds timeout,
                                     std::string* error = nullptr);

    // True when a process owns the name now (no activation is attempted).
    bool nameHasOwner(const std::string& name, std::chrono::milliseconds timeout,
                      std::string* error = nullptr);

    // An empty a{sv} options argument, the most common trailer of freedesktop methods.
    static int appendEmptyOptions(sd_bus_message* message);

    // The connection's unique name (":1.42"); empty when it has none.
    std::string uniqueName() const;

    // Serving small objects (a stand-in for a service in tests, a helper object): methods without
    // arguments in their reply, and read-only properties of type 's', 'o' or 'b'. Messages are
    // handled while process() runs.
    struct Property {
        char type = 's';
        std::string text;
        bool flag = false;
    };
    struct Interface {
        std::string name;
        // Called with the request's member name; the reply is empty.
        std::map<std::string, std::function<void(const std::string& member)>> methods;
        std::map<std::string, Property> properties;
    };
    bool serve(const std::string& path, Interface interface, std::string* error = nullptr);
    bool requestName(const std::string& name, std::string* error = nullptr);
    // Handles every pending message, then waits up to `wait` for more. False when the connection
    // failed.
    bool process(std::chrono::milliseconds wait);

    sd_bus* handle() const { return bus_; }

  private:
    struct Object;
    explicit Bus(sd_bus* bus);
    sd_bus* bus_;
    std::map<std::string, std::unique_ptr<Object>> objects_;
};

// The one-line text of a negative errno returned by sd-bus.
std::string busErrorText(int negativeErrno);

}  // namespace vigil
