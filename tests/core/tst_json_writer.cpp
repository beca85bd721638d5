// The JSON writer against Qt's own printing of the same values.
#include "core/json_writer.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

#include <limits>

using kelvra::json_writer;

class tst_json_writer : public QObject {
    Q_OBJECT

private slots:
    // Every UTF-16 code unit on its own (control characters, quotes,
    // backslashes, lone surrogates, non-characters), then random strings
    // mixing them with surrogate pairs, halves in the wrong order and runs
    // of plain ASCII.
    void strings_are_printed_as_qt_prints_them() {
        QJsonArray expected;
        json_writer out;
        out.begin_array();
        auto both = [&](QString const& text) {
            expected.append(text);
            out.value(text);
        };
        for (int unit = 0; unit <= 0xffff; ++unit) {
            both(QString(QChar(unit)));
        }
        char16_t const pieces[] = {0,      0x1f,   0x20,   '"',    '\\',   '/',    0x7f,
                                   0x80,   0x7ff,  0x800,  0xd7ff, 0xd800, 0xdbff, 0xdc00,
                                   0xdfff, 0xe000, 0xfffe, 0xffff, 'a',    0xe3};
        QRandomGenerator random(20261207);
        for (int i = 0; i < 2000; ++i) {
            QString text;
            for (int length = random.bounded(12); length > 0; --length) {
                text += QChar(pieces[random.bounded(int(std::size(pieces)))]);
            }
            both(text);
        }
        out.end_array();
        QCOMPARE(out.text(), QJsonDocument(expected).toJson(QJsonDocument::Indented));
    }

    // What the session files (checked byte for byte) do not show: empty
    // containers, alone and nested, and the ends of int.
    void layout_is_qt_indented_layout() {
        int const low = std::numeric_limits<int>::min(), high = std::numeric_limits<int>::max();
        json_writer out;
        out.begin_array().begin_object().name(QLatin1String("a")).begin_array().end_array();
        out.name(QLatin1String("b")).begin_object().end_object().member(QLatin1String("c"), low);
        out.end_object().value(-1).value(high).end_array();
        QJsonArray const expected{
            QJsonObject{{"a", QJsonArray{}}, {"b", QJsonObject{}}, {"c", low}}, -1, high};
        QCOMPARE(out.text(), QJsonDocument(expected).toJson(QJsonDocument::Indented));
        json_writer empty;
        empty.begin_array().end_array();
        QCOMPARE(empty.text(), QJsonDocument(QJsonArray{}).toJson(QJsonDocument::Indented));
    }
};

QTEST_GUILESS_MAIN(tst_json_writer)
#include "tst_json_writer.moc"
