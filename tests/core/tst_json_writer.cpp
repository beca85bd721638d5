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

    // Nesting, empty containers at every level, numbers at the ends of int
    // and both literals.
    void layout_is_qt_indented_layout() {
        int const low = std::numeric_limits<int>::min();
        int const high = std::numeric_limits<int>::max();
        QJsonObject const inner{{"a", QJsonArray{}}, {"b", QJsonObject{}}, {"c", low}};
        QJsonObject const expected{
            {"list", QJsonArray{inner, QJsonArray{0, -1, 1000000, high}, true, false}},
            {"n", 2}};
        json_writer out;
        out.begin_object().name(QLatin1String("list")).begin_array();
        out.begin_object().name(QLatin1String("a")).begin_array().end_array();
        out.name(QLatin1String("b")).begin_object().end_object();
        out.member(QLatin1String("c"), low).end_object();
        out.begin_array().value(0).value(-1).value(1000000).value(high).end_array();
        out.value(true).value(false).end_array();
        out.member(QLatin1String("n"), 2).end_object();
        QCOMPARE(out.text(), QJsonDocument(expected).toJson(QJsonDocument::Indented));

        json_writer empty;
        empty.begin_array().end_array();
        QCOMPARE(empty.text(), QJsonDocument(QJsonArray{}).toJson(QJsonDocument::Indented));
    }
};

QTEST_GUILESS_MAIN(tst_json_writer)
#include "tst_json_writer.moc"
