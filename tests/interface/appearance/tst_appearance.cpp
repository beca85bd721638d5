#include "interface/preferences/appearance.hpp"
#include "interface/preferences/dialog_aparencia.hpp"
#include "interface/preferences/style.hpp"
#include "interface/widget_testing.hpp"

#include <brano/core/v6/converter.hpp>

#include <array>
#include <csignal>
#include <optional>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>

namespace core = brano::core::v6;
namespace prefs = kelvra::interface::preferences;
using kelvra::testing::read_file;
using prefs::theme;

namespace {

// "category code name=value ..." of the first item (no description), or empty.
QString report(core::result::stack const& status) {
    if (!status.has_failed()) {
        return {};
    }
    auto const& item = *status.begin();
    QString text = QString("%1 %2").arg(item.get_category().name()).arg(item.get_code());
    for (auto const& a : item.get_argument_range()) {
        if (a.get_name() != "description") {
            text += QString(" %1=%2").arg(a.get_name().c_str(), a.get_value().c_str());
        }
    }
    return text;
}

QByteArray stored(char const* text) {
    return QByteArray("{\n    \"aparencia\": \"") + text + "\"\n}\n";
}

QString const cannot_open = "kelvra-config 1 arquivo=interface.json";

} // namespace

class tst_appearance : public QObject {
    Q_OBJECT

    std::optional<kelvra::testing::install_root> root_;

    QString file() const { return root_->file("etc/interface.json"); }
    // The theme read into `value` (which starts as `light`), or the failure.
    QString load(theme& value) const {
        core::result::stack status;
        prefs::detail::load_appearance(root_->bin(), value, status);
        return status.has_failed() ? report(status)
                                   : QStringList{"light", "dark", "autodetect"}.value(int(value));
    }
    QString save(theme value) const {
        core::result::stack status;
        prefs::detail::save_appearance(root_->bin(), value, status);
        return report(status);
    }

private slots:
    void initTestCase() { kelvra::interface::register_resources(); }
    void cleanupTestCase() { kelvra::interface::unregister_resources(); }
    void init() {
        root_.emplace();
        qApp->setStyleSheet({});
    }

    void reading_data() {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<QString>("outcome");
        QTest::newRow("no file") << QByteArray() << "light";
        QTest::newRow("other members")
            << QByteArray("{\"a\": 1, \"aparencia\": \"dark\"}") << "dark";
        QTest::newRow("not JSON") << QByteArray("aparencia: dark")
                                  << "kelvra-config 5 arquivo=interface.json";
        QTest::newRow("other name")
            << QByteArray("{\"Aparencia\": \"dark\"}") << "kelvra-config 3 elemento=aparencia";
        QTest::newRow("number") << QByteArray("{\"aparencia\": 2}")
                                << "kelvra-config 6 campo=aparencia";
        QTest::newRow("other case")
            << stored("Dark") << QString(core::converter_result_category::instance().name()) + " 2";
    }
    void reading() {
        QFETCH(QByteArray, content);
        QFETCH(QString, outcome);
        QVERIFY(content.isNull() || root_->write("etc/interface.json", content));
        theme value = theme::light;
        QCOMPARE(load(value), outcome);
        QCOMPARE(value, outcome == "dark" ? theme::dark : theme::light);
        QCOMPARE(read_file(file()), content.isNull() ? stored("light") : content);
    }

    void read_only_file_fails() {
        // Read-only though the folder is writable (a bind mount: modes do not stop root).
        QVERIFY(root_->write("etc/interface.json", stored("dark")));
        QByteArray const path = QFile::encodeName(file());
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(path, path, nullptr, MS_BIND, nullptr) != 0 ||
            ::mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            QSKIP("needs root");
        }
        auto writable = qScopeGuard([&] { ::umount2(path, MNT_DETACH); });
        theme value = theme::light;
        QCOMPARE(load(value), cannot_open);
        QCOMPARE(save(theme::light), cannot_open);
        QCOMPARE(read_file(file()), stored("dark"));
    }

    // A write cut short (here by the file size limit) leaves the old file.
    void failed_write_keeps_the_old_file() {
        QByteArray const old = "{\"aparencia\": \"light\", \"a\": \"" + QByteArray(64, 'x') + "\"}";
        QVERIFY(root_->write("etc/interface.json", old));
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        auto const handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit const small{8, limit.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        QString const failure = save(theme::dark);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, handler);
        QCOMPARE(failure, "kelvra-config 4 arquivo=interface.json");
        QCOMPARE(read_file(file()), old);
        QCOMPARE(QDir(root_->file("etc")).entryList(QDir::Files), QStringList{"interface.json"});
    }

    // Both sheets are compiled in, with every image they name.
    void resources() {
        for (char const* path : {prefs::light_style_path, prefs::dark_style_path}) {
            int images = 0;
            auto it = QRegularExpression("url\\(\"(:[^\"]+)\"\\)")
                          .globalMatch(QString::fromUtf8(read_file(path)));
            for (; it.hasNext(); ++images) {
                QString const image = it.next().captured(1);
                QVERIFY2(!QImage(image).isNull(), qPrintable(image));
            }
            QVERIFY(images > 20);
        }
        QVERIFY(!QImage(":/resources/icon.ico").isNull() &&
                !QImage(":/resources/copy.png").isNull());
    }

    // A sheet that cannot be read leaves the one in force.
    void loading_a_style() {
        core::result::stack status;
        qApp->setStyleSheet("QLabel {}");
        prefs::load_style(":/nada.qss", status);
        QCOMPARE(report(status), "kelvra-load-style 2 Arquivo=:/nada.qss");
        prefs::load_style(root_->file("etc"), status);
        QCOMPARE(report(status), "kelvra-load-style 1 Arquivo=" + root_->file("etc"));
        QCOMPARE(qApp->styleSheet(), "QLabel {}");
    }

    // Its other texts are in the dialogs test.
    void form() {
        prefs::dialog_aparencia dialog(root_->bin(), nullptr);
        auto* combo = dialog.findChild<QComboBox*>("cb_tipo_aparencia");
        auto* ok = dialog.findChild<QPushButton*>("btn_ok");
        QCOMPARE(QStringList({combo->itemText(0), combo->itemText(1), combo->itemText(2),
                              QString::number(combo->count())}),
                 QStringList({"Claro", "Escuro", "Definido pelo sistema", "3"}));
        QCOMPARE(dialog.size(), QSize(201, 78));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        QVERIFY(ok->isDefault() && ok->autoDefault());
    }

    // Each item applies its sheet and replaces the file; Escape changes nothing.
    void choosing_data() {
        QTest::addColumn<int>("item"); // the system's choice applies the dark sheet here
        QTest::newRow("Claro") << 0;
        QTest::newRow("Escuro") << 1;
        QTest::newRow("Definido pelo sistema") << 2;
    }
    void choosing() {
        QFETCH(int, item);
        char const* const sheet = item == 0 ? prefs::light_style_path : prefs::dark_style_path;
        QByteArray const content = stored(std::array{"light", "dark", "autodetect"}[item]);
        QByteArray const old = "{\"aparencia\": \"light\", \"a\": 1}";
        QVERIFY(root_->write("etc/interface.json", old));
        prefs::current_theme() = theme(2 - item);
        {
            prefs::dialog_aparencia dialog(root_->bin(), nullptr);
            auto* combo = dialog.findChild<QComboBox*>("cb_tipo_aparencia");
            QCOMPARE(combo->currentIndex(), 2 - item);
            combo->setCurrentIndex(item);
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QVERIFY(read_file(file()) == old && qApp->styleSheet().isEmpty());
            dialog.findChild<QPushButton*>("btn_ok")->click();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(report(dialog.status()), QString());
        }
        QCOMPARE(prefs::current_theme(), theme(item));
        QCOMPARE(qApp->styleSheet().toUtf8(), read_file(sheet));
        QCOMPARE(read_file(file()), content);
    }
};

QTEST_MAIN(tst_appearance)
#include "tst_appearance.moc"
