#include "probe.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kelvra::probe {

namespace {

// A strict reader of one JSON text, enough to validate it and to pick
// top-level string members. Nesting is bounded so that hostile input cannot
// exhaust the stack.
class json_reader {
public:
    explicit json_reader(std::string const& text) : text_(text) {}

    bool object(std::string const& wanted, std::string& value) {
        skip_space();
        if (!peek('{')) {
            return false;
        }
        if (!members(0, &wanted, &value)) {
            return false;
        }
        skip_space();
        return pos_ == text_.size();
    }

private:
    static constexpr int max_depth = 256;

    bool peek(char c) const { return pos_ < text_.size() && text_[pos_] == c; }

    void skip_space() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\n' || text_[pos_] == '\r')) {
            ++pos_;
        }
    }

    bool literal(char const* word) {
        std::size_t const n = std::strlen(word);
        if (text_.compare(pos_, n, word) != 0) {
            return false;
        }
        pos_ += n;
        return true;
    }

    static int hex(char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    }

    static void append_utf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xc0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xe0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        }
    }

    bool string(std::string* out) {
        if (!peek('"')) {
            return false;
        }
        ++pos_;
        while (pos_ < text_.size()) {
            char const c = text_[pos_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                if (out != nullptr) {
                    *out += c;
                }
                continue;
            }
            if (pos_ >= text_.size()) {
                return false;
            }
            char const e = text_[pos_++];
            char plain = 0;
            switch (e) {
            case '"':
                plain = '"';
                break;
            case '\\':
                plain = '\\';
                break;
            case '/':
                plain = '/';
                break;
            case 'b':
                plain = '\b';
                break;
            case 'f':
                plain = '\f';
                break;
            case 'n':
                plain = '\n';
                break;
            case 'r':
                plain = '\r';
                break;
            case 't':
                plain = '\t';
                break;
            case 'u': {
                if (pos_ + 4 > text_.size()) {
                    return false;
                }
                unsigned code = 0;
                for (int i = 0; i < 4; ++i) {
                    int const h = hex(text_[pos_++]);
                    if (h < 0) {
                        return false;
                    }
                    code = code * 16 + static_cast<unsigned>(h);
                }
                if (out != nullptr) {
                    append_utf8(*out, code);
                }
                continue;
            }
            default:
                return false;
            }
            if (out != nullptr) {
                *out += plain;
            }
        }
        return false;
    }

    bool number() {
        std::size_t const start = pos_;
        if (peek('-')) {
            ++pos_;
        }
        auto digits = [this] {
            std::size_t const from = pos_;
            while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
                ++pos_;
            }
            return pos_ > from;
        };
        if (!digits()) {
            return false;
        }
        if (peek('.')) {
            ++pos_;
            if (!digits()) {
                return false;
            }
        }
        if (peek('e') || peek('E')) {
            ++pos_;
            if (peek('+') || peek('-')) {
                ++pos_;
            }
            if (!digits()) {
                return false;
            }
        }
        return pos_ > start;
    }

    bool value(int depth, std::string* text_value, bool* is_string) {
        if (depth > max_depth) {
            return false;
        }
        skip_space();
        if (pos_ >= text_.size()) {
            return false;
        }
        switch (text_[pos_]) {
        case '{':
            return members(depth + 1, nullptr, nullptr);
        case '[':
            return elements(depth + 1);
        case '"':
            if (is_string != nullptr) {
                *is_string = true;
            }
            return string(text_value);
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        default:
            return number();
        }
    }

    bool members(int depth, std::string const* wanted, std::string* found) {
        ++pos_; // '{'
        skip_space();
        if (peek('}')) {
            ++pos_;
            return true;
        }
        for (;;) {
            skip_space();
            std::string name;
            if (!string(&name)) {
                return false;
            }
            skip_space();
            if (!peek(':')) {
                return false;
            }
            ++pos_;
            std::string text_value;
            bool is_string = false;
            if (!value(depth, &text_value, &is_string)) {
                return false;
            }
            if (wanted != nullptr && name == *wanted) {
                *found = is_string ? text_value : std::string();
            }
            skip_space();
            if (peek(',')) {
                ++pos_;
                continue;
            }
            if (peek('}')) {
                ++pos_;
                return true;
            }
            return false;
        }
    }

    bool elements(int depth) {
        ++pos_; // '['
        skip_space();
        if (peek(']')) {
            ++pos_;
            return true;
        }
        for (;;) {
            if (!value(depth, nullptr, nullptr)) {
                return false;
            }
            skip_space();
            if (peek(',')) {
                ++pos_;
                continue;
            }
            if (peek(']')) {
                ++pos_;
                return true;
            }
            return false;
        }
    }

    std::string const& text_;
    std::size_t pos_ = 0;
};

using clock = std::chrono::steady_clock;

int remaining(clock::time_point deadline) {
    auto const left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads exactly `size` bytes; false on end of stream, error or timeout.
bool read_exactly(int fd, char* data, std::size_t size, clock::time_point deadline,
                  std::string& error) {
    while (size > 0) {
        pollfd p{fd, POLLIN, 0};
        int const ready = ::poll(&p, 1, remaining(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            error = "a estação não respondeu a tempo";
            return false;
        }
        ssize_t const n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = std::string("erro de leitura: ") + std::strerror(errno);
            return false;
        }
        if (n == 0) {
            error = "a conexão foi encerrada sem resposta (o Kelvra da estação não atendeu)";
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool is_connection_id(std::string const& id) {
    if (id.empty() || id.size() > 128) {
        return false;
    }
    for (char const c : id) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

std::string socket_path(std::string const& connection_id) {
    return "/tmp/kelvra-" + connection_id;
}

std::string json_string(std::string const& text) {
    static char const digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (char const c : text) {
        auto const byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += digits[byte >> 4];
            out += digits[byte & 0x0f];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string request_json(request const& r) {
    return "{\"connection_id\":" + json_string(r.connection_id) +
           ",\"kind\":" + json_string(r.kind) + ",\"version\":" + std::to_string(r.version) + "}";
}

std::string frame(std::string const& body) {
    auto const size = static_cast<std::uint32_t>(body.size());
    std::string out;
    out += static_cast<char>((size >> 24) & 0xff);
    out += static_cast<char>((size >> 16) & 0xff);
    out += static_cast<char>((size >> 8) & 0xff);
    out += static_cast<char>(size & 0xff);
    return out + body;
}

bool top_level_string(std::string const& json, std::string const& name, std::string& value) {
    value.clear();
    return json_reader(json).object(name, value);
}

int exchange(std::string const& path, request const& r, int timeout_ms, std::string& reply,
             std::string& error) {
    reply.clear();
    error.clear();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = "caminho do socket longo demais: " + path;
        return exit_unreachable;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return exit_unreachable;
    }
    if (::connect(fd, reinterpret_cast<sockaddr const*>(&address), sizeof address) != 0) {
        error = "não foi possível conectar a " + path + ": " + std::strerror(errno) +
                " (o encaminhamento da conexão SSH não existe neste servidor)";
        ::close(fd);
        return exit_unreachable;
    }

    std::string const message = frame(request_json(r));
    std::size_t sent = 0;
    while (sent < message.size()) {
        ssize_t const n = ::send(fd, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = std::string("erro ao enviar a requisição: ") + std::strerror(errno);
            ::close(fd);
            return exit_unreachable;
        }
        sent += static_cast<std::size_t>(n);
    }

    auto const deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    unsigned char size_field[4];
    if (!read_exactly(fd, reinterpret_cast<char*>(size_field), sizeof size_field, deadline,
                      error)) {
        ::close(fd);
        return exit_unreachable;
    }
    std::uint32_t const size = (std::uint32_t{size_field[0]} << 24) |
                               (std::uint32_t{size_field[1]} << 16) |
                               (std::uint32_t{size_field[2]} << 8) | std::uint32_t{size_field[3]};
    if (size > max_message) {
        error = "resposta grande demais: " + std::to_string(size) + " bytes";
        ::close(fd);
        return exit_bad_reply;
    }
    // Read in pieces: the buffer grows only as bytes really arrive.
    std::string body;
    char chunk[65536];
    while (body.size() < size) {
        std::size_t const want = std::min<std::size_t>(sizeof chunk, size - body.size());
        if (!read_exactly(fd, chunk, want, deadline, error)) {
            ::close(fd);
            return exit_bad_reply;
        }
        body.append(chunk, want);
    }
    ::close(fd);

    reply = body;
    std::string kind;
    if (!top_level_string(body, "kind", kind)) {
        error = "a resposta não é um objeto JSON";
        return exit_bad_reply;
    }
    return kind == "Error" ? exit_error_reply : exit_reply;
}

} // namespace kelvra::probe
