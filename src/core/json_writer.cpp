#include "core/json_writer.hpp"

namespace kelvra {

namespace {

char const hex_digits[] = "0123456789abcdef";

void append_unicode_escape(QByteArray& out, char16_t unit) {
    char const escape[] = {'\\',
                           'u',
                           hex_digits[(unit >> 12) & 0xf],
                           hex_digits[(unit >> 8) & 0xf],
                           hex_digits[(unit >> 4) & 0xf],
                           hex_digits[unit & 0xf]};
    out.append(escape, sizeof escape);
}

// The contents of a JSON string for `text`. A lone surrogate, which has no
// UTF-8 form, is written as its \u escape, as Qt does.
void append_escaped(QByteArray& out, QString const& text) {
    char16_t const* p = reinterpret_cast<char16_t const*>(text.utf16());
    char16_t const* const end = p + text.size();
    while (p != end) {
        // A run of printable ASCII goes out as it stands.
        char16_t const* run = p;
        while (run != end && *run >= 0x20 && *run < 0x80 && *run != u'"' && *run != u'\\') {
            ++run;
        }
        if (run != p) {
            int const length = static_cast<int>(run - p);
            int const at = out.size();
            out.resize(at + length);
            char* to = out.data() + at;
            for (; p != run; ++p) {
                *to++ = static_cast<char>(*p);
            }
            continue;
        }
        char16_t const unit = *p++;
        if (unit < 0x80) {
            char const* escape = nullptr;
            switch (unit) {
            case u'"':
                escape = "\\\"";
                break;
            case u'\\':
                escape = "\\\\";
                break;
            case u'\b':
                escape = "\\b";
                break;
            case u'\f':
                escape = "\\f";
                break;
            case u'\n':
                escape = "\\n";
                break;
            case u'\r':
                escape = "\\r";
                break;
            case u'\t':
                escape = "\\t";
                break;
            default:
                break;
            }
            if (escape != nullptr) {
                out.append(escape, 2);
            } else {
                append_unicode_escape(out, unit);
            }
        } else if (unit < 0x800) {
            out.append(static_cast<char>(0xc0 | (unit >> 6)));
            out.append(static_cast<char>(0x80 | (unit & 0x3f)));
        } else if (!QChar::isSurrogate(unit)) {
            out.append(static_cast<char>(0xe0 | (unit >> 12)));
            out.append(static_cast<char>(0x80 | ((unit >> 6) & 0x3f)));
            out.append(static_cast<char>(0x80 | (unit & 0x3f)));
        } else if (QChar::isHighSurrogate(unit) && p != end && QChar::isLowSurrogate(*p)) {
            char32_t const code = QChar::surrogateToUcs4(unit, *p++);
            out.append(static_cast<char>(0xf0 | (code >> 18)));
            out.append(static_cast<char>(0x80 | ((code >> 12) & 0x3f)));
            out.append(static_cast<char>(0x80 | ((code >> 6) & 0x3f)));
            out.append(static_cast<char>(0x80 | (code & 0x3f)));
        } else {
            append_unicode_escape(out, unit);
        }
    }
}

} // namespace

void json_writer::indent(std::size_t level) {
    text_.append(static_cast<int>(4 * level), ' ');
}

void json_writer::begin_value() {
    if (named_) {
        named_ = false;
        return;
    }
    if (written_.empty()) {
        return; // the document's own container
    }
    if (written_.back()) {
        text_.append(",\n", 2);
    }
    written_.back() = true;
    indent(written_.size());
}

void json_writer::open(char bracket) {
    begin_value();
    text_.append(bracket).append('\n');
    written_.push_back(false);
}

void json_writer::close(char bracket) {
    if (written_.back()) {
        text_.append('\n');
    }
    written_.pop_back();
    indent(written_.size());
    text_.append(bracket);
    if (written_.empty()) {
        text_.append('\n');
    }
}

json_writer& json_writer::begin_object() {
    open('{');
    return *this;
}

json_writer& json_writer::end_object() {
    close('}');
    return *this;
}

json_writer& json_writer::begin_array() {
    open('[');
    return *this;
}

json_writer& json_writer::end_array() {
    close(']');
    return *this;
}

json_writer& json_writer::name(QLatin1String member) {
    begin_value();
    // Kelvra's own names: plain ASCII, printed as they stand.
    text_.append('"').append(member.data(), member.size()).append("\": ", 3);
    named_ = true;
    return *this;
}

json_writer& json_writer::value(QString const& text) {
    begin_value();
    text_.append('"');
    append_escaped(text_, text);
    text_.append('"');
    return *this;
}

json_writer& json_writer::value(int number) {
    begin_value();
    text_.append(QByteArray::number(number));
    return *this;
}

json_writer& json_writer::value(bool flag) {
    begin_value();
    text_.append(flag ? "true" : "false");
    return *this;
}

} // namespace kelvra
