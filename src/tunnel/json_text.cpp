#include "tunnel/json_text.hpp"

#include "core/hex_digits.hpp"

namespace kelvra::tunnel::json_text {

namespace {

void append_escape(QByteArray& out, char16_t unit) {
    char const escape[] = {'\\',
                           'u',
                           hex::lower_digit(unit >> 12u),
                           hex::lower_digit(unit >> 8u),
                           hex::lower_digit(unit >> 4u),
                           hex::lower_digit(unit)};
    out.append(escape, sizeof escape);
}

} // namespace

void append_string(QByteArray& out, QString const& text) {
    out.append('"');
    auto const* unit = reinterpret_cast<char16_t const*>(text.constData());
    auto const* const end = unit + text.size();
    while (unit != end) {
        char16_t const u = *unit++;
        if (u < 0x80) {
            switch (u) {
            case u'"':
                out.append("\\\"", 2);
                break;
            case u'\\':
                out.append("\\\\", 2);
                break;
            case u'\b':
                out.append("\\b", 2);
                break;
            case u'\f':
                out.append("\\f", 2);
                break;
            case u'\n':
                out.append("\\n", 2);
                break;
            case u'\r':
                out.append("\\r", 2);
                break;
            case u'\t':
                out.append("\\t", 2);
                break;
            default:
                if (u < 0x20) {
                    append_escape(out, u);
                } else {
                    out.append(static_cast<char>(u));
                }
            }
        } else if (u < 0x800) {
            out.append(static_cast<char>(0xc0 | (u >> 6)));
            out.append(static_cast<char>(0x80 | (u & 0x3f)));
        } else if (u >= 0xd800 && u < 0xdc00 && unit != end && *unit >= 0xdc00 && *unit < 0xe000) {
            char32_t const c =
                0x10000 + ((char32_t(u) - 0xd800) << 10) + (char32_t(*unit++) - 0xdc00);
            out.append(static_cast<char>(0xf0 | (c >> 18)));
            out.append(static_cast<char>(0x80 | ((c >> 12) & 0x3f)));
            out.append(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
            out.append(static_cast<char>(0x80 | (c & 0x3f)));
        } else if (u >= 0xd800 && u < 0xe000) {
            append_escape(out, u); // a surrogate without its other half
        } else {
            out.append(static_cast<char>(0xe0 | (u >> 12)));
            out.append(static_cast<char>(0x80 | ((u >> 6) & 0x3f)));
            out.append(static_cast<char>(0x80 | (u & 0x3f)));
        }
    }
    out.append('"');
}

void append_number(QByteArray& out, std::int64_t value) {
    out.append(QByteArray::number(static_cast<qlonglong>(value)));
}

} // namespace kelvra::tunnel::json_text
