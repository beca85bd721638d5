#include "interface/sessions/dialog_criar_atalhos.hpp"
#include "interface/sessions/dialog_importar.hpp"
#include "interface/widget_testing.hpp"
#include "sessions/session_transfer.hpp"

using namespace kelvra::interface::sessions;
using namespace kelvra::testing;

namespace {

QString check_states(QListWidget const* list) {
    QString out;
    for (int i = 0; i < list->count(); ++i) {
        out += QString::number(list->item(i)->checkState());
    }
    return out;
}

// A session sealed for another installation.
kelvra::session sample(QString const& name) {
    kelvra::session s;
    s.nome = name;
    s.host = s.usuario = s.comando = "mirtel";
    s.caminho = "/srv";
    return s;
}

} // namespace

class tst_transfer_dialogs : public QObject {
    Q_OBJECT

    isolated_home home_;
    machine_identity identity_;
    QTemporaryDir dir_;
    QStringList log_;

    QString import_file(QVector<kelvra::session> const& sessions) {
        QString const file = dir_.filePath("import.json");
        return write_file(file, kelvra::export_document(sessions)) ? file : "";
    }

private slots:
    void initTestCase() { QVERIFY2(identity_.is_ready(), qPrintable(identity_.error())); }

    void init() { log_.clear(); }

    // Nothing checked is refused; each checked one opens "Nova sessão" (cancel skips).
    void import_opens_a_new_session_per_checked_one() {
        dialog_importar dialog(import_file({sample("A"), sample("B"), sample("C")}), nullptr);
        QVERIFY(!dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));
        on_next_modal("dialog_importar", [this](QWidget* w) {
            auto* list = child<QListWidget>(w, "lw_sessions");
            QCOMPARE(check_states(list), QString("000"));
            answer_boxes({"OK"}, &log_);
            child<QPushButton>(w, "btn_importar")->click();
            list->item(0)->setCheckState(Qt::Checked);
            list->item(2)->setCheckState(Qt::Checked);
            on_next_modal("dialog_novo", [this](QWidget* first) {
                log_ << child<QLineEdit>(first, "le_nome")->text();
                child<QPushButton>(first, "btn_cancelar")->click();
                on_next_modal("dialog_novo", [this](QWidget* second) {
                    log_ << child<QLineEdit>(second, "le_nome")->text();
                    QCOMPARE(child<QLineEdit>(second, "le_senha")->text(), QString());
                    child<QLineEdit>(second, "le_senha")->setText("s3nh@");
                    child<QPushButton>(second, "btn_ok")->click();
                });
            });
            child<QPushButton>(w, "btn_importar")->click();
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(log_,
                 (QStringList{"Erro|Selecione ao menos uma sessão para importar|OK*", "A", "C"}));
        brano::core::v6::result::stack status;
        QVector<kelvra::session> const saved = kelvra::load_sessions(status);
        QCOMPARE(saved.size() == 1 ? saved[0].nome + saved[0].host : "", QString("Cmirtel"));
    }

    // "Cancelar" and the Escape key both ask; "Não" stays, "Sim" leaves.
    void leaving_the_import_asks_first() {
        dialog_importar dialog(import_file({sample("A")}), nullptr);
        on_next_modal("dialog_importar", [this](QWidget* w) {
            answer_boxes({"Não"}, &log_);
            child<QPushButton>(w, "btn_cancelar")->click();
            QVERIFY(w->isVisible());
            answer_boxes({"Sim"}, &log_);
            QTest::keyClick(w, Qt::Key_Escape);
        });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QString const question =
            "Cancelar Importação|Tem certeza que deseja interromper a importação ?|Não,Sim*";
        QCOMPARE(log_, (QStringList{question, question}));
    }

    // All start checked; a launcher that cannot be written is reported, the next written.
    void shortcuts_for_the_checked_sessions() {
        QString const desktop = home_.home() + "/Desktop/";
        QVERIFY(QDir().mkpath(desktop + "C.desktop")); // in the way
        dialog_criar_atalhos dialog({sample("A"), sample("B"), sample("C"), sample("D")}, nullptr);
        dialog.show();
        auto* list = child<QListWidget>(&dialog, "listWidget");
        QCOMPARE(check_states(list), QString("2222"));
        QRect const b = list->visualItemRect(list->item(1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          b.center() + QPoint(b.width() / 4, 0));
        QCOMPARE(check_states(list), QString("2022"));
        answer_boxes({"OK"}, &log_);
        child<QPushButton>(&dialog, "btn_confirmar")->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(log_.value(0).section(QLatin1Char('|'), 0, 1),
                 QString("Error|Erro ao criar atalho da sessão 'C'"));
        QCOMPARE(QDir(desktop).entryList(QDir::Files), (QStringList{"A.desktop", "D.desktop"}));
    }
};

KELVRA_INSTALLED_TEST_MAIN(tst_transfer_dialogs)
#include "tst_transfer_dialogs.moc"
