// The look: etc/interface.json, the style sheets in the resources, and the
// "Aparência" dialog.
#include "interface/preferences/appearance.hpp"
#include "interface/preferences/dialog_aparencia.hpp"
#include "interface/preferences/style.hpp"
#include "interface/resources.hpp"
#include "support/test_environment.hpp"

#include <brano/core/v6/converter.hpp>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <optional>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

namespace core = brano::core::v6;
namespace prefs = kelvra::interface::preferences;
using kelvra::testing::read_file;
using prefs::theme;

Q_DECLARE_METATYPE(theme)

namespace {

// "category code name=value ..." of the first item, without the conversion
// category's own description; empty for a success.
QString report(core::result::stack const& status) {
    if (!status.has_failed()) {
        return {};
    }
    auto const& item = *status.begin();
    QString text = QString("%1 %2").arg(item.get_category().name()).arg(item.get_code());
    for (auto const& argument : item.get_argument_range()) {
        if (argument.get_name() != "description") {
            text += QString(" %1=%2").arg(argument.get_name().c_str(),
                                          QString::fromStdString(argument.get_value()));
        }
    }
    return text;
}

QByteArray stored(char const* text) {
    return QByteArray("{\n    \"aparencia\": \"") + text + "\"\n}\n";
}

QString out_of_range() {
    return QString("%1 2").arg(core::converter_result_category::instance().name());
}

// Makes `path` read-only for this process, root included (a read-only bind
// mount in the test's own mount namespace).
bool make_read_only(QString const& path) {
    if (::geteuid() != 0) {
        return QFile::setPermissions(path, QFile::ReadOwner);
    }
    QByteArray const p = QFile::encodeName(path);
    return ::mount(p, p, nullptr, MS_BIND, nullptr) == 0 &&
           ::mount(nullptr, p, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

} // namespace

class tst_appearance : public QObject {
    Q_OBJECT

    std::optional<kelvra::testing::install_root> root_;
    core::result::stack status_;
    bool private_mounts_ = false;

    QString file() const { return root_->file("etc/interface.json"); }
    // The failure report of reading into `value` or of storing `value`.
    QString load(theme& value) const {
        core::result::stack status;
        prefs::detail::load_appearance(root_->bin(), value, status);
        return report(status);
    }
    QString save(theme value) const {
        core::result::stack status;
        prefs::detail::save_appearance(root_->bin(), value, status);
        return report(status);
    }
    QByteArray sheet(char const* path) const { return read_file(QString::fromLatin1(path)); }

private slots:
    void initTestCase() {
        kelvra::interface::register_resources();
        private_mounts_ =
            ::geteuid() != 0 || (::unshare(CLONE_NEWNS) == 0 &&
                                 ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0);
    }
    void cleanupTestCase() { kelvra::interface::unregister_resources(); }

    void init() {
        root_.emplace();
        status_.reset();
        qApp->setStyleSheet({});
    }

    void reading_data() {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<QString>("failure");
        QTest::addColumn<theme>("expected");
        QTest::newRow("missing file") << QByteArray() << "" << theme::light;
        QTest::newRow("dark") << QByteArray("{\"nota\": 1, \"aparencia\": \"dark\"}") << ""
                              << theme::dark;
        QTest::newRow("autodetect") << stored("autodetect") << "" << theme::autodetect;
        QTest::newRow("empty") << QByteArray("") << "kelvra-config 5 arquivo=interface.json"
                               << theme::light;
        QTest::newRow("not JSON") << QByteArray("aparencia: dark")
                                  << "kelvra-config 5 arquivo=interface.json" << theme::light;
        QTest::newRow("array") << QByteArray("[\"dark\"]") << "kelvra-config 3 elemento=aparencia"
                               << theme::light;
        QTest::newRow("no member") << QByteArray("{\"Aparencia\": \"dark\"}")
                                   << "kelvra-config 3 elemento=aparencia" << theme::light;
        QTest::newRow("number") << QByteArray("{\"aparencia\": 1}")
                                << "kelvra-config 6 campo=aparencia" << theme::light;
        QTest::newRow("null") << QByteArray("{\"aparencia\": null}")
                              << "kelvra-config 6 campo=aparencia" << theme::light;
        QTest::newRow("other case") << stored("Dark") << out_of_range() << theme::light;
        QTest::newRow("padded") << stored(" dark") << out_of_range() << theme::light;
    }
    void reading() {
        QFETCH(QByteArray, content);
        QFETCH(QString, failure);
        QFETCH(theme, expected);
        QVERIFY(content.isNull() || root_->write("etc/interface.json", content));
        theme value = theme::light;
        QCOMPARE(load(value), failure);
        QCOMPARE(value, expected);
        QCOMPARE(read_file(file()), content.isNull() ? stored("light") : content);
    }

    // The whole file is replaced in Qt's indented layout; other members go.
    void saving_data() {
        QTest::addColumn<theme>("value");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("light") << theme::light << stored("light");
        QTest::newRow("dark") << theme::dark << stored("dark");
        QTest::newRow("autodetect") << theme::autodetect << stored("autodetect");
    }
    void saving() {
        QFETCH(theme, value);
        QFETCH(QByteArray, content);
        QVERIFY(root_->write("etc/interface.json", "{\"aparencia\": \"x\", \"nota\": [1, 2, 3]}"));
        QCOMPARE(save(value), QString());
        QCOMPARE(read_file(file()), content);
    }

    void unusable_places_fail() {
        QString const no_etc = "kelvra-application-directories 1 path=" + root_->file("etc");
        QVERIFY(QDir(root_->file("etc")).removeRecursively());
        theme value = theme::light;
        QCOMPARE(load(value), no_etc);
        QCOMPARE(save(theme::dark), no_etc);

        // A read-only file is refused by both, even where the folder would
        // let a new file take its place.
        QVERIFY(root_->write("etc/interface.json", stored("dark")));
        if (!private_mounts_ || !make_read_only(file())) {
            QSKIP("cannot make a file read-only here");
        }
        auto writable = qScopeGuard([&] { ::umount2(QFile::encodeName(file()), MNT_DETACH); });
        QCOMPARE(load(value), "kelvra-config 1 arquivo=interface.json");
        QCOMPARE(value, theme::light);
        QCOMPARE(save(theme::light), "kelvra-config 1 arquivo=interface.json");
        QCOMPARE(read_file(file()), stored("dark"));
    }

    // A write cut short (here by the file size limit) leaves the old file.
    void failed_write_keeps_the_old_file() {
        QByteArray const old =
            "{\"aparencia\": \"light\", \"nota\": \"" + QByteArray(64, 'x') + "\"}";
        QVERIFY(root_->write("etc/interface.json", old));
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        auto const old_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit const small{8, limit.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        QString const failure = save(theme::dark);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, old_handler);
        QCOMPARE(failure, "kelvra-config 4 arquivo=interface.json");
        QCOMPARE(read_file(file()), old);
        QCOMPARE(QDir(root_->file("etc")).entryList(QDir::Files), QStringList{"interface.json"});
    }

    // Both sheets are compiled in, with every image they name.
    void resources_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("light") << prefs::light_style_path;
        QTest::newRow("dark") << prefs::dark_style_path;
    }
    void resources() {
        QFETCH(QString, path);
        QByteArray const text = read_file(path);
        QVERIFY(text.contains("QWidget"));
        QRegularExpression const url("url\\(\"(:[^\"]+)\"\\)");
        int images = 0;
        for (auto it = url.globalMatch(QString::fromUtf8(text)); it.hasNext(); ++images) {
            QString const image = it.next().captured(1);
            QVERIFY2(!QImage(image).isNull(), qPrintable(image));
        }
        QVERIFY(images > 20);
        QCOMPARE(QImage(":/resources/icon.ico").size(), QSize(256, 256));
        QCOMPARE(QImage(":/resources/copy.png").size(), QSize(32, 32));
    }

    void loading_a_style() {
        prefs::load_style(prefs::light_style_path, status_);
        QCOMPARE(report(status_), QString());
        QCOMPARE(qApp->styleSheet().toUtf8(), sheet(prefs::light_style_path));
        // Failures keep the sheet that was there.
        prefs::load_style(":qdarkstyle/dark/nada.qss", status_);
        QCOMPARE(report(status_), "kelvra-load-style 2 Arquivo=:qdarkstyle/dark/nada.qss");
        prefs::load_style(root_->file("etc"), status_);
        QCOMPARE(report(status_), "kelvra-load-style 1 Arquivo=" + root_->file("etc"));
        QCOMPARE(qApp->styleSheet().toUtf8(), sheet(prefs::light_style_path));
    }

    void form() {
        prefs::dialog_aparencia dialog(root_->bin(), nullptr);
        QCOMPARE(dialog.objectName(), "dialog_aparencia");
        QCOMPARE(dialog.windowTitle(), "Aparência");
        QCOMPARE(dialog.size(), QSize(201, 78));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        auto* label = dialog.findChild<QLabel*>("l_aparencia");
        auto* combo = dialog.findChild<QComboBox*>("cb_tipo_aparencia");
        auto* ok = dialog.findChild<QPushButton*>("btn_ok");
        auto* cancel = dialog.findChild<QPushButton*>("btn_cancelar");
        QVERIFY(label && combo && ok && cancel);
        QCOMPARE(label->text(), "Tema:");
        QCOMPARE(label->buddy(), combo);
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->itemText(0) + "|" + combo->itemText(1) + "|" + combo->itemText(2),
                 "Claro|Escuro|Definido pelo sistema");
        QCOMPARE(ok->text() + "|" + cancel->text(), "Ok|Cancelar");
        QVERIFY(ok->isDefault() && ok->autoDefault());
        QCOMPARE(combo->nextInFocusChain(), ok);
        QCOMPARE(ok->nextInFocusChain(), cancel);
    }

    void choosing_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("Claro") << 0 << prefs::light_style_path << stored("light");
        QTest::newRow("Escuro") << 1 << prefs::dark_style_path << stored("dark");
        QTest::newRow("Definido pelo sistema")
            << 2 << prefs::dark_style_path << stored("autodetect");
    }
    void choosing() {
        QFETCH(int, item);
        QFETCH(QString, sheet);
        QFETCH(QByteArray, content);
        prefs::current_theme() = theme(2 - item);
        {
            prefs::dialog_aparencia dialog(root_->bin(), nullptr);
            auto* combo = dialog.findChild<QComboBox*>("cb_tipo_aparencia");
            QCOMPARE(combo->currentIndex(), 2 - item);
            combo->setCurrentIndex(item);
            // Escape cancels: nothing changes.
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QVERIFY(!QFile::exists(file()) && qApp->styleSheet().isEmpty());
            dialog.findChild<QPushButton*>("btn_ok")->click();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(report(dialog.status()), QString());
        }
        QCOMPARE(prefs::current_theme(), theme(item));
        QCOMPARE(qApp->styleSheet().toUtf8(), read_file(sheet));
        QCOMPARE(read_file(file()), content);
        prefs::dialog_aparencia again(root_->bin(), nullptr);
        QCOMPARE(again.findChild<QComboBox*>("cb_tipo_aparencia")->currentIndex(), item);
    }
};

QTEST_MAIN(tst_appearance)
#include "tst_appearance.moc"
