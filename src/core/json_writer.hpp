#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QString>

#include <vector>

namespace kelvra {

// Writes a JSON document straight from its values, byte for byte as
// QJsonDocument::toJson(QJsonDocument::Indented) prints it: four spaces per
// level, `"name": value`, strings in UTF-8 with Qt's escapes. Building a
// QJsonObject tree only to print it costs as much as the printing, which
// shows on documents of many records. Members are printed in the order they
// are written; Qt prints them sorted by name, so callers write them so.
class json_writer {
public:
    json_writer& begin_object();
    json_writer& end_object();
    json_writer& begin_array();
    json_writer& end_array();

    // The next member of the open object; its value follows.
    json_writer& name(QLatin1String member);

    json_writer& value(QString const& text);
    json_writer& value(int number);
    json_writer& value(bool flag);
    json_writer& value(char const*) = delete; // would silently print a bool

    template <class T> json_writer& member(QLatin1String member_name, T const& member_value) {
        return name(member_name).value(member_value);
    }

    // The document so far; complete once the outermost container is closed.
    QByteArray const& text() const { return text_; }

private:
    void begin_value();
    void open(char bracket);
    void close(char bracket);
    void indent(std::size_t level);

    QByteArray text_;
    // One entry per open container: whether anything was written in it.
    std::vector<bool> written_;
    bool named_ = false; // a member's name is out, its value is due
};

} // namespace kelvra
