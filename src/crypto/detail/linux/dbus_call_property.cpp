#include "crypto/detail/linux/dbus_call_property.hpp"

#include "core/hex_digits.hpp"
#include "crypto/log.hpp"
#include "crypto/status.hpp"

#include <dbus/dbus.h>

#include <memory>

namespace kelvra::crypto::detail::linux {

namespace core = brano::core::v6;

namespace {

constexpr int reply_timeout_ms = 100;

struct connection_release {
    void operator()(DBusConnection* connection) const noexcept {
        dbus_connection_unref(connection);
    }
};
struct message_release {
    void operator()(DBusMessage* message) const noexcept { dbus_message_unref(message); }
};
struct pending_release {
    void operator()(DBusPendingCall* pending) const noexcept { dbus_pending_call_unref(pending); }
};

// Frees the error however the call ends.
class scoped_error {
public:
    scoped_error() { dbus_error_init(&error_); }
    ~scoped_error() { dbus_error_free(&error_); }
    scoped_error(scoped_error const&) = delete;
    scoped_error& operator=(scoped_error const&) = delete;
    DBusError* get() noexcept { return &error_; }

private:
    DBusError error_;
};

char const* or_unknown(char const* text) {
    return text != nullptr ? text : "unknow";
}

// libdbus ends the process on a malformed name or path, so everything is
// checked before it gets there.
bool is_valid_call(dbus_method_call const& call) {
    if (!dbus_validate_bus_name(call.destination.c_str(), nullptr) ||
        !dbus_validate_path(call.path.c_str(), nullptr) ||
        !dbus_validate_interface(call.interface.c_str(), nullptr) ||
        !dbus_validate_member(call.method.c_str(), nullptr)) {
        return false;
    }
    for (auto const& argument : call.arguments) {
        if (argument.type == dbus_value::object_path &&
            !dbus_validate_path(argument.text.c_str(), nullptr)) {
            return false;
        }
        if (argument.type == dbus_value::string &&
            (argument.text.find('\0') != std::string::npos ||
             !dbus_validate_utf8(argument.text.c_str(), nullptr))) {
            return false;
        }
    }
    return true;
}

void report_call_failed(dbus_method_call const& call, core::result::stack& status) {
    core::result::stack local;
    local.push_item(status::dbus_category::instance(), status::dbus_category::call_failed)
        .set_argument("destination", call.destination)
        .set_argument("path", call.path)
        .set_argument("interface", call.interface)
        .set_argument("method", call.method);
    status = std::move(local);
}

core::result::item& report_no_reply(dbus_method_call const& call, core::result::stack& local) {
    auto& item =
        local.push_item(status::dbus_category::instance(), status::dbus_category::no_reply);
    item.set_argument("message-destination", call.destination)
        .set_argument("message-path", call.path)
        .set_argument("message-interface", call.interface)
        .set_argument("message-method", call.method);
    for (std::size_t i = 0; i < call.arguments.size(); ++i) {
        item.set_argument("Arg-" + std::to_string(i + 1), call.arguments[i].text);
    }
    return item;
}

void report_out_of_memory(char const* description, core::result::stack& status) {
    core::result::stack local;
    local.push_item(status::dbus_category::instance(), status::dbus_category::out_of_memory)
        .set_argument("description", description);
    status = std::move(local);
}

void report_value_type(int expected, int unexpected, core::result::stack& status) {
    core::result::stack local;
    local.push_item(status::dbus_category::instance(), status::dbus_category::unexpected_value_type)
        .set_argument("expected_type", std::to_string(expected))
        .set_argument("unexpected_type", std::to_string(unexpected));
    status = std::move(local);
}

} // namespace

std::mutex& dbus_mutex() {
    static std::mutex mutex;
    return mutex;
}

dbus_value dbus_call_property(dbus_method_call const& call, core::result::stack& status) {
    std::lock_guard<std::mutex> const guard(dbus_mutex());
    core::result::stack local;
    scoped_error error;

    std::unique_ptr<DBusConnection, connection_release> const connection(
        dbus_bus_get(DBUS_BUS_SYSTEM, error.get()));
    if (dbus_error_is_set(error.get()) || !connection) {
        local.push_item(status::dbus_category::instance(), status::dbus_category::internal)
            .set_argument("name", or_unknown(error.get()->name))
            .set_argument("message", or_unknown(error.get()->message));
        status = std::move(local);
        return {};
    }
    // The shared connection would otherwise end the whole program when the
    // bus goes away.
    dbus_connection_set_exit_on_disconnect(connection.get(), FALSE);

    if (!is_valid_call(call)) {
        qCDebug(log, "dbus: malformed call refused");
        report_call_failed(call, status);
        return {};
    }
    std::unique_ptr<DBusMessage, message_release> const message(dbus_message_new_method_call(
        call.destination.c_str(), call.path.c_str(), call.interface.c_str(), call.method.c_str()));
    if (!message) {
        report_call_failed(call, status);
        return {};
    }

    DBusMessageIter arguments;
    dbus_message_iter_init_append(message.get(), &arguments);
    for (auto const& argument : call.arguments) {
        if (argument.type != dbus_value::string && argument.type != dbus_value::object_path) {
            report_value_type(dbus_value::string, argument.type, status);
            return {};
        }
        char const* text = argument.text.c_str();
        if (!dbus_message_iter_append_basic(&arguments, argument.type, &text)) {
            report_out_of_memory("dbus_message_iter_append_basic()", status);
            return {};
        }
    }

    DBusPendingCall* pending_call = nullptr;
    if (!dbus_connection_send_with_reply(connection.get(), message.get(), &pending_call,
                                         reply_timeout_ms)) {
        report_out_of_memory("dbus_connection_send_with_reply()", status);
        return {};
    }
    std::unique_ptr<DBusMessage, message_release> reply;
    if (pending_call != nullptr) {
        // A closed connection gives no pending call: no reply will come.
        std::unique_ptr<DBusPendingCall, pending_release> const pending(pending_call);
        dbus_pending_call_block(pending.get());
        reply.reset(dbus_pending_call_steal_reply(pending.get()));
    }

    if (!reply) {
        report_no_reply(call, local);
        status = std::move(local);
        return {};
    }
    DBusMessageIter values;
    bool const has_values = dbus_message_iter_init(reply.get(), &values);
    // A time-out, a missing service or object, a refused call: the answer is
    // an error, not the value asked for.
    if (dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_ERROR) {
        auto& item = report_no_reply(call, local);
        item.set_argument("error-name", or_unknown(dbus_message_get_error_name(reply.get())));
        if (has_values && dbus_message_iter_get_arg_type(&values) == DBUS_TYPE_STRING) {
            char const* text = nullptr;
            dbus_message_iter_get_basic(&values, &text);
            item.set_argument("error-message", or_unknown(text));
        }
        qCDebug(log, "dbus: %s answered with an error", call.method.c_str());
        status = std::move(local);
        return {};
    }
    if (!has_values) {
        report_no_reply(call, local);
        status = std::move(local);
        return {};
    }

    int const reply_type = dbus_message_iter_get_arg_type(&values);
    if (reply_type != DBUS_TYPE_VARIANT) {
        local
            .push_item(status::dbus_category::instance(),
                       status::dbus_category::unexpected_reply_type)
            .set_argument("unexpected_type", std::to_string(reply_type))
            .set_argument("expected_type", std::to_string(DBUS_TYPE_VARIANT));
        status = std::move(local);
        return {};
    }
    DBusMessageIter variant;
    dbus_message_iter_recurse(&values, &variant);
    dbus_value value;
    value.type = dbus_message_iter_get_arg_type(&variant);
    if (value.type == DBUS_TYPE_STRING || value.type == DBUS_TYPE_OBJECT_PATH) {
        char const* text = nullptr;
        dbus_message_iter_get_basic(&variant, &text);
        value.text = or_unknown(text);
    }
    return value;
}

std::string dbus_value_text(dbus_value const& value, dbus_value::kind expected,
                            core::result::stack& status) {
    if (value.type != expected) {
        report_value_type(expected, value.type, status);
        return {};
    }
    return value.text;
}

std::string escape_object_path_element(std::string const& name) {
    std::string escaped;
    escaped.reserve(name.size());
    for (char const c : name) {
        auto const byte = static_cast<unsigned char>(c);
        bool const plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '_';
        if (plain) {
            escaped.push_back(c);
        } else {
            escaped.push_back('_');
            escaped.push_back(hex::lower_digit(byte >> 4u));
            escaped.push_back(hex::lower_digit(byte));
        }
    }
    return escaped;
}

} // namespace kelvra::crypto::detail::linux
