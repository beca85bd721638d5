#include "core/json_duplicate_names.hpp"

#include <QSet>
#include <QString>

#include <cstring>
#include <vector>

namespace kelvra {

namespace {

// Deeper documents are refused by the parser before it completes anything
// below this depth.
constexpr std::size_t max_depth = 1024;

struct container {
    bool is_object = false;
    bool expecting_name = false;
    QSet<QString> names;
};

int hex_value(char c) {
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

// The text of a string's contents (between its quotes) as the parser
// would decode it. Malformed escapes, which make the parser fail, are kept
// as they stand.
QString decode(char const* begin, char const* end) {
    QString out;
    char const* plain = begin;
    auto flush = [&](char const* upto) {
        if (upto > plain) {
            out += QString::fromUtf8(plain, static_cast<int>(upto - plain));
        }
    };
    for (char const* p = begin; p < end; ++p) {
        if (*p != '\\' || p + 1 >= end) {
            continue;
        }
        flush(p);
        char const e = p[1];
        char16_t unit = 0;
        int length = 2;
        switch (e) {
        case 'b':
            unit = u'\b';
            break;
        case 'f':
            unit = u'\f';
            break;
        case 'n':
            unit = u'\n';
            break;
        case 'r':
            unit = u'\r';
            break;
        case 't':
            unit = u'\t';
            break;
        case 'u': {
            int value = 0;
            length = 6;
            for (int i = 2; i < 6; ++i) {
                int const digit = p + i < end ? hex_value(p[i]) : -1;
                if (digit < 0) {
                    length = -1;
                    break;
                }
                value = value * 16 + digit;
            }
            unit = static_cast<char16_t>(value);
            break;
        }
        default:
            unit = static_cast<char16_t>(static_cast<unsigned char>(e));
        }
        if (length < 0) {
            plain = p;
            continue;
        }
        out += QChar(unit);
        p += length - 1;
        plain = p + 1;
    }
    flush(end);
    return out;
}

// The closing quote of the string whose contents start at `p`, or `end`.
char const* string_end(char const* p, char const* end) {
    for (;;) {
        auto const* quote = static_cast<char const*>(std::memchr(p, '"', std::size_t(end - p)));
        if (quote == nullptr) {
            return end;
        }
        // Escaped when an odd number of backslashes stands right before it.
        char const* q = quote;
        while (q > p && q[-1] == '\\') {
            --q;
        }
        if ((quote - q) % 2 == 0) {
            return quote;
        }
        p = quote + 1;
    }
}

} // namespace

bool has_duplicate_names(QByteArray const& json) {
    std::vector<container> open;
    char const* p = json.constData();
    char const* const end = p + json.size();
    while (p < end) {
        char const c = *p++;
        switch (c) {
        case '"': {
            char const* const close = string_end(p, end);
            container* const top = open.empty() ? nullptr : &open.back();
            if (top != nullptr && top->is_object && top->expecting_name) {
                top->expecting_name = false;
                QString name = decode(p, close);
                if (top->names.contains(name)) {
                    return true;
                }
                top->names.insert(std::move(name));
            }
            p = close == end ? end : close + 1;
            break;
        }
        case '{':
        case '[':
            if (open.size() == max_depth) {
                return false; // the parser refuses the document here
            }
            open.push_back(container{c == '{', c == '{', {}});
            break;
        case '}':
        case ']':
            if (!open.empty()) {
                open.pop_back();
            }
            break;
        case ',':
            if (!open.empty() && open.back().is_object) {
                open.back().expecting_name = true;
            }
            break;
        default:
            break;
        }
    }
    return false;
}

} // namespace kelvra
