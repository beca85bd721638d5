#include "crypto/session_key.hpp"
#include "interface/sessions/dialog_alterar.hpp"
#include "interface/sessions/widget_base.hpp"
#include "interface/widget_testing.hpp"
#include "sessions/putty_session_path.hpp"
#include "support/cups_server.hpp"

#include <sys/mount.h>

#include <optional>
#include <tuple>

using kelvra::session;
using kelvra::interface::sessions::widget_base;
using namespace kelvra::testing;

namespace {

// Types nome, host, usuário, caminho, comando, authentication, secret, port.
void type_into(QWidget* form, QStringList const& v = {"Vendas", "mirtel", "op", "/srv", "menu", "0",
                                                      "s3nh@", "22"}) {
    int i = 0;
    for (char const* name : {"le_nome", "le_host", "le_usuario", "le_caminho", "le_comando"}) {
        child<QLineEdit>(form, name)->setText(v[i++]);
    }
    child<QComboBox>(form, "cb_aut")->setCurrentIndex(v[5].toInt());
    child<QLineEdit>(form, v[5] == "1" ? "le_key" : "le_senha")->setText(v[6]);
    child<QSpinBox>(form, "le_porta")->setValue(v[7].toInt());
}

QString printers(std::optional<session> const& s) {
    QStringList out;
    for (kelvra::printer const& p : s.value().impressoras) {
        out << p.identificador + '=' + p.nome + '/' + QString::number(p.tipo);
    }
    out.sort();
    return out.join(' ');
}

// The printer shown: its name, type, button and whether they can be edited.
QString shown_printer(QWidget const& form) {
    auto* name = child<QLineEdit>(&form, "le_nome_impressora");
    auto* type = child<QComboBox>(&form, "cb_tipo_impressora");
    return name->text() + '|' + type->currentText() + '|' +
           child<QPushButton>(&form, "btn_enable_disable")->text() +
           (name->isEnabled() && type->isEnabled() ? "|on" : "|off");
}

// Secret, command and path of a session key text, read with this installation's key.
QString opened(QString const& text) {
    brano::core::v6::result::stack status;
    auto const clear = kelvra::crypto::decrypt_session_key(
        text.toStdString(), machine_identity::key_for(QCoreApplication::applicationFilePath()),
        status);
    return QString::fromStdString(clear.secret.to_string() + '|' + clear.command + '|' +
                                  clear.path);
}

// What "Ok" gives; `boxes` gets the error boxes it showed (each closed).
QStringList boxes;
std::optional<session> press_ok(QWidget& form) {
    std::optional<session> got;
    boxes.clear();
    QTimer closer;
    auto* base = qobject_cast<widget_base*>(&form);
    QObject::connect(base ? base : child<widget_base>(&form, "session_widget"),
                     &widget_base::ok_clicked, &closer, [&](session s) { got = s; });
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->done(QMessageBox::Ok);
        }
    });
    closer.start(0);
    child<QPushButton>(&form, "btn_ok")->click();
    return got;
}

} // namespace

class tst_editor : public QObject {
    Q_OBJECT

    isolated_home home_;
    machine_identity identity_;
    std::optional<cups_server> cups_;
    QString const sessions_ = QCoreApplication::applicationDirPath() + "/../var/sessions";
    brano::core::v6::result::stack status_;

private slots:
    void initTestCase() {
        QVERIFY2(identity_.is_ready(), qPrintable(identity_.error()));
        cups_.emplace();
        QVERIFY2(cups_->error().isEmpty(), qPrintable(cups_->error()));
        QVERIFY(!widget_base().findChild<QWidget*>("base_impressora")->isEnabled()); // no printer
        QVERIFY(cups_->add_printer("caixa") && cups_->add_printer("etiquetas"));
    }

    // What a screen reader announces (the label, not the group), tab order, rows.
    void form_texts_and_order() {
        widget_base form;
        form.show();
        QStringList spoken; // at each Tab stop: the QLabel it is announced with, or its own name
        for (QWidget* w = child(&form, "le_nome"); spoken.size() < 18; w = w->nextInFocusChain()) {
            auto* control = QAccessible::queryAccessibleInterface(w);
            auto* label = control->relations(QAccessible::Label).value(0).first;
            if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().startsWith("qt_")) {
                spoken << w->objectName() + '=' +
                              (label && qobject_cast<QLabel*>(label->object()) ? label : control)
                                  ->text(QAccessible::Name);
            }
        }
        for (char const* group : {"groupBox", "groupBox_2"}) {
            spoken << group + ('=' + child<QGroupBox>(&form, group)->title());
        }
        QCOMPARE(spoken.join(';'),
                 "le_nome=Nome:;le_host=Host:;le_porta=Porta;le_usuario=Usuário:;"
                 "cb_aut=Autenticaçao:;le_senha=Senha:;le_key=Chave:;btn_procurar=Procurar;"
                 "le_caminho=Caminho:;le_comando=Comando:;cb_autostart=Executar automaticamente;"
                 "cb_maximized=Executar maximizado;cb_impressoras=caixa;le_nome_impressora=Nome:;"
                 "cb_tipo_impressora=Tipo:;btn_enable_disable=Habilitar;btn_ok=Ok;"
                 "btn_cancelar=Cancelar;groupBox=Sessão;groupBox_2=Opções");
        QVERIFY(child<QPushButton>(&form, "btn_ok")->isDefault());

        auto* aut = child<QComboBox>(&form, "cb_aut");
        auto* placeholder = aut->findChild<QLabel*>();
        for (auto [index, usable] : {std::pair{-1, " Selecione..."},
                                     {1, ",l_chave,le_key,btn_procurar"},
                                     {0, ",l_senha,le_senha"},
                                     {-1, " Selecione...,l_senha,le_senha"}}) {
            aut->setCurrentIndex(index);
            QString rows = placeholder->isVisible() ? placeholder->text() : QString();
            for (char const* name : {"l_senha", "le_senha", "l_chave", "le_key", "btn_procurar"}) {
                QWidget* row = child(&form, name);
                rows += row->isVisible() && row->isEnabled() ? QString(',') + name : QString();
            }
            QCOMPARE(rows, QString(usable));
        }
    }

    // The first broken rule names the box; nothing reaches the dialog.
    void validation_data() {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("box");
        // Every field from the broken one on is broken too: the order shows.
        QStringList v{"", "", "", "", "", "-1", "", "99999"};
        QStringList const names{"nome", "host", "usuário", "caminho", "comando"};
        for (int i = 0; i < 5; ++i) {
            QTest::newRow(qPrintable(names[i])) << v << "O " + names[i] + " da sessão está vazio";
            v[i] = " "; // a blank is a value: nothing is trimmed
        }
        for (char const* command : {"bash", "/usr/bin/python3", "dbus-send"}) {
            v[4] = command;
            QTest::newRow(command) << v << "O comando da sessão está inválido";
        }
        v[4] = "SH";
        QTest::newRow("no authentication") << v << "O tipo de autenticação está inválido";
        v[5] = "0";
        QTest::newRow("password") << v << "A senha da sessão está vazia";
        v[5] = "1";
        QTest::newRow("key file") << v << "A chave da sessão está vazia";
        v[6] = "/chaves/op.ppk";
        QTest::newRow("key file, port 99999") << v << QString();
    }
    void validation() {
        QFETCH(QStringList, values);
        QFETCH(QString, box);
        widget_base form;
        type_into(&form, values);
        std::optional<session> const s = press_ok(form);
        QCOMPARE(boxes, box.isEmpty() ? QStringList() : QStringList{box});
        QCOMPARE(s ? s->porta : -1, box.isEmpty() ? 99999 : -1);
    }

    void printer_rules() {
        widget_base form;
        type_into(&form);
        auto* list = child<QComboBox>(&form, "cb_impressoras");
        auto* name = child<QLineEdit>(&form, "le_nome_impressora");
        auto* type = child<QComboBox>(&form, "cb_tipo_impressora");
        auto* button = child<QPushButton>(&form, "btn_enable_disable");
        // A new session shows the first printer with nothing typed yet.
        QCOMPARE(shown_printer(form), QString("|Epson Matricial|Habilitar|off"));
        button->click();
        QCOMPARE(shown_printer(form), QString("|Epson Matricial|Desabilitar|on"));
        list->setCurrentIndex(1);
        QCOMPARE(shown_printer(form), QString("etiquetas|Epson Matricial|Habilitar|off"));
        button->click();
        name->setText(QString("Rótulos"));
        type->setCurrentIndex(type->findText(QString("Etiqueta")));
        list->setCurrentIndex(0);
        list->setCurrentIndex(1);
        QCOMPARE(shown_printer(form), QString("Rótulos|Etiqueta|Desabilitar|on"));
        QCOMPARE(printers(press_ok(form)), QString("caixa=caixa/1 etiquetas=Rótulos/12"));
        // An emptied name goes back to the system's; disabled is left out.
        name->clear();
        QTest::keyClick(name, Qt::Key_Return);
        list->setCurrentIndex(0);
        button->click();
        QCOMPARE(printers(press_ok(form)), QString("etiquetas=etiquetas/12"));
    }

    // All but the secret, and the printers this workstation has, come back.
    void fill_from_session_round_trip() {
        widget_base blank;
        type_into(&blank, {"Estoque", "10.1.2.3", "est", "/mirtel", "estoque", "1", "k", "2222"});
        session old = press_ok(blank).value();
        old.impressoras = {{"caixa", "C1", 11}, {"ausente", "F", 3}, {"etiquetas", "E", 99}};
        old.autostart = true;
        widget_base form;
        form.fill_from_session(old);
        QCOMPARE(shown_printer(form), QString("C1|Epson TM-T20|Desabilitar|on"));
        child<QComboBox>(&form, "cb_impressoras")->setCurrentIndex(1);
        QCOMPARE(shown_printer(form), QString("E||Desabilitar|on"));
        QVERIFY(!press_ok(form) && boxes == QStringList{"A chave da sessão está vazia"});

        child<QLineEdit>(&form, "le_key")->setText(QString("/chaves/est.ppk"));
        session back = press_ok(form).value();
        QCOMPARE(opened(back.key), QString("/chaves/est.ppk|estoque|/mirtel"));
        QCOMPARE(printers(back), QString("caixa=C1/11 etiquetas=E/0"));
        std::tie(back.id, back.key, back.impressoras) = std::tie(old.id, old.key, old.impressoras);
        QCOMPARE(back, old);
    }

    // A failed write keeps the dialog open; a failed removal keeps both.
    void edit_failures_keep_the_session() {
        QDir(sessions_).removeRecursively();
        widget_base blank;
        type_into(&blank);
        session const old = press_ok(blank).value();
        kelvra::save_session(old, status_);
        QString const profiles = QFileInfo(kelvra::putty_session_path(old.nome)).path();
        QVERIFY(write_file(kelvra::putty_session_path(old.nome), {}));
        auto read_only = [](QString const& folder, bool on) {
            QByteArray const path = QFile::encodeName(folder);
            return on ? ::mount(path, path, nullptr, MS_BIND, nullptr) == 0 &&
                            ::mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                                    nullptr) == 0
                      : ::umount2(path, MNT_DETACH) == 0;
        };
        auto writable =
            qScopeGuard([&] { read_only(sessions_, false), read_only(profiles, false); });
        if (!read_only(sessions_, true)) {
            QSKIP("read-only mounts need root");
        }
        kelvra::interface::sessions::dialog_alterar dialog(old);
        dialog.show();
        type_into(&dialog);
        QVERIFY(press_ok(dialog)); // the edited record, which was not stored
        QCOMPARE(boxes, QStringList{"Ocorreu um erro ao manipular o arquivo referente à sessão"});
        QVERIFY(dialog.isVisible());
        QCOMPARE(kelvra::load_sessions(status_).size(), 1);

        QVERIFY(read_only(sessions_, false) && read_only(profiles, true));
        press_ok(dialog);
        QCOMPARE(boxes, QStringList{"Ocorreu um erro ao deletar a antiga sessão"});
        QCOMPARE(kelvra::load_sessions(status_).size(), 2);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
};

KELVRA_INSTALLED_TEST_MAIN(tst_editor)
#include "tst_editor.moc"
