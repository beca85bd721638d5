#include "core/status.hpp"
#include "sessions/session_json.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QJsonArray>
#include <QTest>

namespace core = brano::core::v6;
using kelvra::authentication_type;
using kelvra::session;

namespace {

session sample() {
    session s;
    s.tipo_autenticacao = authentication_type::key_file;
    s.id = QStringLiteral("{00000000-0000-4000-8000-000000000001}");
    s.nome = QStringLiteral("Produção 1");
    s.host = QStringLiteral("mirtel.example.com");
    s.porta = 2222;
    s.usuario = QStringLiteral("joão");
    s.key = QStringLiteral("AAECAwQ=");
    s.caminho = QStringLiteral("/srv/mirtel");
    s.comando = QStringLiteral("mirtel --menu \"principal\"");
    s.impressoras = {{QStringLiteral("HP-1"), QStringLiteral("Balcão"), 3},
                     {QStringLiteral("EPSON"), QStringLiteral("Notas"), 0}};
    s.autostart = true;
    s.maximized = false;
    return s;
}

QJsonObject v2_object() {
    QJsonObject o = kelvra::session_to_json(sample()).object();
    return o;
}

QJsonDocument with(QJsonObject o, QString const& key, QJsonValue const& value) {
    if (value.isUndefined()) {
        o.remove(key);
    } else {
        o.insert(key, value);
    }
    return QJsonDocument(o);
}

} // namespace

class tst_session_json : public QObject {
    Q_OBJECT

private slots:
    void written_file_is_byte_exact() {
        QFile golden(kelvra::testing::data_file(QStringLiteral("session_v2.json")));
        QVERIFY(golden.open(QIODevice::ReadOnly));
        QCOMPARE(kelvra::session_to_json(sample()).toJson(), golden.readAll());
    }

    void round_trip_keeps_every_field() {
        core::result::stack status;
        session const original = sample();
        session read = kelvra::session_from_json(kelvra::session_to_json(original), status);
        QVERIFY(!status.has_failed());
        read.id = original.id; // the id is the file name, never in the JSON
        QVERIFY(read == original);

        session bare = original;
        bare.impressoras.clear();
        bare.tipo_autenticacao = authentication_type::password;
        QJsonDocument const doc = kelvra::session_to_json(bare);
        QVERIFY(!doc.object().contains(QStringLiteral("impressoras")));
        session back = kelvra::session_from_json(doc, status);
        QVERIFY(!status.has_failed());
        QVERIFY(back.impressoras.isEmpty());
        QCOMPARE(back.tipo_autenticacao, authentication_type::password);
    }

    void invalid_auth_type_does_not_read_back() {
        session s = sample();
        s.tipo_autenticacao = authentication_type::invalid;
        QJsonDocument const doc = kelvra::session_to_json(s);
        QCOMPARE(doc.object().value(QStringLiteral("tipo_autenticacao")).toInt(), -1);
        core::result::stack status;
        kelvra::session_from_json(doc, status);
        QCOMPARE(status.get_value(), 7);
        QCOMPARE(*status.begin()->find_argument("campo"), std::string("tipo_autenticacao"));
    }

    void accepted_values_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<int>("porta");
        QTest::addColumn<int>("auth");
        QTest::newRow("porta fraction cut") << "porta" << QJsonValue(22.9) << 22 << 1;
        QTest::newRow("porta negative fraction") << "porta" << QJsonValue(-3.7) << -3 << 1;
        QTest::newRow("porta huge saturates") << "porta" << QJsonValue(1e12) << 2147483647 << 1;
        QTest::newRow("auth 5 is invalid") << "tipo_autenticacao" << QJsonValue(5) << 2222 << 2;
        QTest::newRow("auth 0") << "tipo_autenticacao" << QJsonValue(0) << 2222 << 0;
        QTest::newRow("auth -2 is invalid") << "tipo_autenticacao" << QJsonValue(-2) << 2222 << 2;
        QTest::newRow("unknown member ignored")
            << "extra" << QJsonValue(QStringLiteral("x")) << 2222 << 1;
    }

    void accepted_values() {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QFETCH(int, porta);
        QFETCH(int, auth);
        core::result::stack status;
        session const s = kelvra::session_from_json(with(v2_object(), key, value), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(s.porta, porta);
        QCOMPARE(static_cast<int>(s.tipo_autenticacao), auth);
    }

    void reader_failures_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("campo");
        QJsonValue const missing(QJsonValue::Undefined);
        QTest::newRow("no versao") << "versao" << missing << 13 << "versao";
        QTest::newRow("versao 3") << "versao" << QJsonValue(3) << 7 << "versao";
        QTest::newRow("versao 2.5") << "versao" << QJsonValue(2.5) << 7 << "versao";
        QTest::newRow("versao -1") << "versao" << QJsonValue(-1) << 7 << "versao";
        QTest::newRow("versao text")
            << "versao" << QJsonValue(QStringLiteral("2")) << 7 << "versao";
        QTest::newRow("porta text") << "porta" << QJsonValue(QStringLiteral("22")) << 7 << "porta";
        QTest::newRow("auth 1.5") << "tipo_autenticacao" << QJsonValue(1.5) << 7
                                  << "tipo_autenticacao";
        QTest::newRow("no comando") << "comando" << missing << 13 << "comando";
        QTest::newRow("nome number") << "nome" << QJsonValue(1) << 7 << "nome";
        QTest::newRow("host null") << "host" << QJsonValue(QJsonValue::Null) << 7 << "host";
        QTest::newRow("no maximized") << "maximized" << missing << 13 << "maximized";
        QTest::newRow("autostart as 1") << "autostart" << QJsonValue(1) << 7 << "autostart";
        QTest::newRow("impressoras object")
            << "impressoras" << QJsonValue(QJsonObject{}) << 7 << "impressoras";
        QTest::newRow("printer not an object")
            << "impressoras" << QJsonValue(QJsonArray{QJsonObject{}, 5}) << 7 << "impressoras";
    }

    void reader_failures() {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QFETCH(int, code);
        QFETCH(QString, campo);
        core::result::stack status;
        kelvra::session_from_json(with(v2_object(), key, value), status);
        QCOMPARE(status.size(), std::size_t(1));
        QCOMPARE(QByteArray(status.begin()->get_category().name()),
                 QByteArray("kelvra-load-session"));
        QCOMPARE(status.get_value(), code);
        QCOMPARE(QString::fromStdString(*status.begin()->find_argument("campo")), campo);
    }

    void fields_before_failure_are_kept() {
        core::result::stack status;
        session const s = kelvra::session_from_json(
            with(v2_object(), QStringLiteral("comando"), QJsonValue(QJsonValue::Undefined)),
            status);
        QCOMPARE(status.get_value(), 13);
        QCOMPARE(s.nome, sample().nome);
        QCOMPARE(s.key, sample().key);
        QVERIFY(s.comando.isEmpty());
        QVERIFY(s.impressoras.isEmpty());
    }

    void malformed_printer_objects_are_lenient() {
        QJsonArray printers{
            QJsonObject{{"identificador", 5}, {"nome", "A"}, {"tipo", 1}},
            QJsonObject{{"identificador", "B"}, {"nome", "Bê"}, {"tipo", 2.8}},
            QJsonObject{{"identificador", "C"}, {"nome", "C"}, {"tipo", "1"}},
            QJsonObject{},
        };
        core::result::stack status;
        session const s = kelvra::session_from_json(
            with(v2_object(), QStringLiteral("impressoras"), printers), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(s.impressoras.size(), 4);
        QCOMPARE(s.impressoras[0], (kelvra::printer{}));
        QCOMPARE(s.impressoras[1], (kelvra::printer{QStringLiteral("B"), QStringLiteral("Bê"), 2}));
        QCOMPARE(s.impressoras[2], (kelvra::printer{}));
        QCOMPARE(s.impressoras[3], (kelvra::printer{}));
    }

    void non_object_documents_read_nothing() {
        core::result::stack status;
        session const s = kelvra::session_from_json(QJsonDocument(QJsonArray{1, 2}), status);
        QVERIFY(!status.has_failed());
        QVERIFY(s == session{});
        kelvra::session_from_json(QJsonDocument(), status);
        QVERIFY(!status.has_failed());
    }
};

QTEST_GUILESS_MAIN(tst_session_json)
#include "tst_session_json.moc"
