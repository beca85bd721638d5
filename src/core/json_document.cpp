#include "core/json_document.hpp"

#include "core/json_duplicate_names.hpp"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

namespace kelvra {

namespace {

std::optional<QJsonDocument> parse(QByteArray const& text) {
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        return std::nullopt;
    }
    return document;
}

// `value` without the members whose names are in `renamed`, at any depth.
QJsonValue without(QJsonValue const& value, QSet<QString> const& renamed) {
    if (value.isArray()) {
        QJsonArray array;
        for (QJsonValue const& element : value.toArray()) {
            array.append(without(element, renamed));
        }
        return array;
    }
    if (!value.isObject()) {
        return value;
    }
    QJsonObject object;
    QJsonObject const original = value.toObject();
    for (auto it = original.begin(); it != original.end(); ++it) {
        if (!renamed.contains(it.key())) {
            object.insert(it.key(), without(it.value(), renamed));
        }
    }
    return object;
}

} // namespace

std::optional<QJsonDocument> parse_json(QByteArray const& text) {
    if (has_duplicate_names(text)) {
        return std::nullopt;
    }
    return parse(text);
}

std::optional<QJsonDocument> parse_json_file(QByteArray const& text) {
    int renamed = 0;
    QByteArray const distinct = rename_repeated_names(text, renamed);
    // A name of the file that happens to equal a replacement would repeat
    // again; Qt then reads the text itself, to the same values.
    if (renamed == 0 || has_duplicate_names(distinct)) {
        return parse(text);
    }
    std::optional<QJsonDocument> document = parse(distinct);
    if (!document) {
        return document;
    }
    QSet<QString> names;
    for (int number = 1; number <= renamed; ++number) {
        names.insert(replaced_name(number));
    }
    QJsonValue const root = without(document->isArray() ? QJsonValue(document->array())
                                                        : QJsonValue(document->object()),
                                    names);
    return root.isArray() ? QJsonDocument(root.toArray()) : QJsonDocument(root.toObject());
}

} // namespace kelvra
