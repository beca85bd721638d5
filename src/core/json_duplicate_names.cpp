#include "core/json_duplicate_names.hpp"

#include "core/hex_digits.hpp"

#include <QHash>
#include <QString>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace kelvra {

namespace {

// Deeper documents are refused by the parser before it completes anything
// below this depth.
constexpr std::size_t max_depth = 1024;

// The contents of a member name, between its quotes, as offsets in the text.
struct name_span {
    int begin = 0;
    int end = 0;
};

// A member name seen in an open object.
struct seen_name {
    name_span span;
    bool escaped = false; // holds a backslash: compare decoded
};

// Objects with up to this many names compare them one by one, byte for byte
// where neither is escaped; larger ones move to a hash of decoded names.
constexpr std::size_t linear_names = 16;

struct container {
    bool is_object = false;
    bool expecting_name = false;
    std::size_t first_name = 0;        // its names in the shared stack of names
    QHash<QString, std::size_t> index; // once it has more than linear_names
};

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
                int const digit = p + i < end ? hex::digit_value(p[i]) : -1;
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

constexpr std::array<bool, 256> structural_bytes() {
    std::array<bool, 256> table{};
    for (unsigned char const c : {'"', '{', '}', '[', ']', ','}) {
        table[c] = true;
    }
    return table;
}
constexpr std::array<bool, 256> structural = structural_bytes();

// Walks the objects of `json` and calls `repeated(earlier)` for every member
// name that an earlier member of the same object already has, with that
// earlier occurrence; stops when `repeated` returns false.
template <class F> void scan(QByteArray const& json, F&& repeated) {
    std::vector<container> open;
    // The names of every open object, innermost last: an object's names are
    // contiguous, since an inner object's are dropped when it closes.
    std::vector<seen_name> names;
    char const* const begin = json.constData();
    auto decoded = [begin](name_span span) { return decode(begin + span.begin, begin + span.end); };
    auto same = [&](seen_name const& a, seen_name const& b) {
        int const length = a.span.end - a.span.begin;
        if (length == b.span.end - b.span.begin &&
            std::memcmp(begin + a.span.begin, begin + b.span.begin, std::size_t(length)) == 0) {
            return true;
        }
        return (a.escaped || b.escaped) && decoded(a.span) == decoded(b.span);
    };
    // Where in `names` the earlier occurrence in `top` of `name` is, or
    // `fresh` when the name is new there (and then added).
    constexpr std::size_t fresh = std::size_t(-1);
    auto record = [&](container& top, seen_name const& name) {
        std::size_t const count = names.size() - top.first_name;
        if (count < linear_names) {
            for (std::size_t i = top.first_name; i < names.size(); ++i) {
                if (same(names[i], name)) {
                    return i;
                }
            }
        } else {
            if (top.index.isEmpty()) {
                for (std::size_t i = top.first_name; i < names.size(); ++i) {
                    top.index.insert(decoded(names[i].span), i);
                }
            }
            QString key = decoded(name.span);
            auto const it = top.index.constFind(key);
            if (it != top.index.constEnd()) {
                return it.value();
            }
            top.index.insert(std::move(key), names.size());
        }
        names.push_back(name);
        return fresh;
    };
    char const* p = begin;
    char const* const end = p + json.size();
    while (p < end) {
        // Only quotes, brackets, braces and commas change the state: the
        // rest (whitespace, numbers, literals, colons) is passed over.
        while (p < end && !structural[static_cast<unsigned char>(*p)]) {
            // Indentation, most of what stands between the tokens of a
            // printed document, goes eight spaces at a time.
            if (*p++ == '\n') {
                while (end - p >= 8 && std::memcmp(p, "        ", 8) == 0) {
                    p += 8;
                }
            }
        }
        if (p == end) {
            break;
        }
        char const c = *p++;
        switch (c) {
        case '"': {
            char const* const close = string_end(p, end);
            container* const top = open.empty() ? nullptr : &open.back();
            if (top != nullptr && top->is_object && top->expecting_name) {
                top->expecting_name = false;
                seen_name const here{{static_cast<int>(p - begin), static_cast<int>(close - begin)},
                                     std::memchr(p, '\\', std::size_t(close - p)) != nullptr};
                std::size_t const earlier = record(*top, here);
                if (earlier != fresh) {
                    if (!repeated(names[earlier].span)) {
                        return;
                    }
                    // The latest occurrence stands for the name from now on
                    // (its span; escaped or not, it decodes the same).
                    names[earlier] = here;
                }
            }
            p = close == end ? end : close + 1;
            break;
        }
        case '{':
        case '[':
            if (open.size() == max_depth) {
                return; // the parser refuses the document here
            }
            open.push_back(container{c == '{', c == '{', names.size(), {}});
            break;
        case '}':
        case ']':
            if (!open.empty()) {
                names.resize(open.back().first_name);
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
}

} // namespace

bool has_duplicate_names(QByteArray const& json) {
    bool found = false;
    scan(json, [&](name_span) {
        found = true;
        return false;
    });
    return found;
}

QString replaced_name(int number) {
    return QChar(0) + QString::number(number);
}

QByteArray rename_repeated_names(QByteArray const& json, int& renamed) {
    std::vector<name_span> earlier;
    scan(json, [&](name_span span) {
        earlier.push_back(span);
        return true;
    });
    renamed = static_cast<int>(earlier.size());
    if (earlier.empty()) {
        return json;
    }
    std::sort(earlier.begin(), earlier.end(),
              [](name_span a, name_span b) { return a.begin < b.begin; });
    QByteArray out;
    out.reserve(json.size() + renamed * 12);
    int copied = 0;
    int number = 0;
    for (name_span const span : earlier) {
        out.append(json.constData() + copied, span.begin - copied);
        out.append("\\u0000").append(QByteArray::number(++number));
        copied = span.end;
    }
    out.append(json.constData() + copied, json.size() - copied);
    return out;
}

} // namespace kelvra
