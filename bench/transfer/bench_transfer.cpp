// Export and import of 1,000 sessions, against Qt's JSON alone on the same
// array in the same run: writing the document, and parsing it back.
#include "sessions/session_json.hpp"
#include "sessions/session_transfer.hpp"
#include "support/timing.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

int const session_count = 1000;
int const runs = 21;

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QVector<kelvra::session> sessions;
    kelvra::session s;
    s.host = QStringLiteral("mirtel.example.com");
    s.porta = 22;
    s.usuario = QStringLiteral("operador");
    s.tipo_autenticacao = kelvra::authentication_type::password;
    s.key = QString(200, QLatin1Char('k'));
    s.comando = QStringLiteral("mirtel");
    s.caminho = QStringLiteral("/srv/mirtel");
    s.impressoras = {{QStringLiteral("caixa"), QStringLiteral("Balcão"), 1},
                     {QStringLiteral("fiscal"), QStringLiteral("Cupom"), 11}};
    for (int i = 0; i < session_count; ++i) {
        s.nome = QStringLiteral("Sessão %1").arg(i);
        sessions.push_back(s);
    }
    QJsonArray array;
    for (kelvra::session const& each : sessions) {
        array.append(QJsonDocument::fromJson(kelvra::session_json_text(each)).object());
    }
    QTemporaryDir dir;
    QString const exported = dir.filePath(QStringLiteral("export.json"));
    QString const plain = dir.filePath(QStringLiteral("plain.json"));

    bool failed = false;
    auto const [qt_write, export_ms] = kelvra::bench::paired_median_ms(
        runs,
        [&] {
            QFile file(plain);
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                file.write(QJsonDocument(array).toJson(QJsonDocument::Indented));
            }
        },
        [&] {
            brano::core::v6::result::stack status;
            kelvra::write_export_document(exported, sessions, status);
            failed = failed || status.has_failed();
        });
    // Each reading returns what it read, freed after the clock stops.
    QByteArray text;
    auto const [qt_parse, import_ms] = kelvra::bench::paired_median_ms(
        runs,
        [&] {
            QFile file(exported);
            if (file.open(QIODevice::ReadOnly)) {
                text = file.readAll();
            }
            QJsonDocument document = QJsonDocument::fromJson(text);
            failed = failed || document.array().size() != session_count;
            return document;
        },
        [&] {
            brano::core::v6::result::stack status;
            QVector<kelvra::session> imported = kelvra::load_import_document(exported, status);
            failed = failed || imported.size() != session_count || status.has_failed();
            return imported;
        });
    // What reading the records' fields out of Qt's parsed document costs by
    // itself: one lookup per member and one string per text, the least any
    // reader built on QJsonObject does after the parse.
    QJsonArray const records = QJsonDocument::fromJson(text).array();
    QLatin1String const texts[] = {QLatin1String("nome"),    QLatin1String("host"),
                                   QLatin1String("usuario"), QLatin1String("key"),
                                   QLatin1String("comando"), QLatin1String("caminho")};
    QLatin1String const others[] = {QLatin1String("versao"), QLatin1String("porta"),
                                    QLatin1String("tipo_autenticacao"), QLatin1String("autostart"),
                                    QLatin1String("maximized")};
    double const accessors_ms = kelvra::bench::median_ms(runs, [&] {
        std::vector<QString> fields;
        fields.reserve(std::size_t(records.size()) * 10);
        for (QJsonValue const& record : records) {
            QJsonObject const object = record.toObject();
            for (QLatin1String const name : texts) {
                fields.push_back(object.value(name).toString());
            }
            for (QLatin1String const name : others) {
                failed = failed || object.value(name).isUndefined();
            }
            for (QJsonValue const& p : object.value(QLatin1String("impressoras")).toArray()) {
                QJsonObject const entry = p.toObject();
                fields.push_back(entry.value(QLatin1String("identificador")).toString());
                fields.push_back(entry.value(QLatin1String("nome")).toString());
                failed = failed || !entry.value(QLatin1String("tipo")).isDouble();
            }
        }
        return fields;
    });
    // The export is only fast if it is also exactly what Qt writes.
    failed = failed || [&] {
        QFile file(exported);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }() != QJsonDocument(array).toJson(QJsonDocument::Indented);
    if (failed) {
        std::fprintf(stderr, "export or import failed\n");
        return 1;
    }
    std::printf("# export and import of %d sessions against QJsonDocument alone (median of %d)\n",
                session_count, runs);
    std::printf("document_size_%d %lld bytes\n", session_count,
                static_cast<long long>(text.size()));
    std::printf("export_%d %.3f ms\n", session_count, export_ms);
    std::printf("qjson_write_%d %.3f ms\n", session_count, qt_write);
    std::printf("export_over_qjson_%d %.2f ratio (target 1.50)\n", session_count,
                export_ms / qt_write);
    std::printf("import_%d %.3f ms\n", session_count, import_ms);
    std::printf("qjson_parse_%d %.3f ms\n", session_count, qt_parse);
    std::printf("import_over_qjson_%d %.2f ratio (target 1.50)\n", session_count,
                import_ms / qt_parse);
    std::printf("qjson_field_reads_%d %.3f ms\n", session_count, accessors_ms);
    std::printf("parse_plus_field_reads_over_qjson_%d %.2f ratio (the least a reader on "
                "QJsonObject takes)\n",
                session_count, (qt_parse + accessors_ms) / qt_parse);
    return 0;
}
