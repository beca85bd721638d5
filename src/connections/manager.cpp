#include "connections/manager.hpp"

#include "connections/putty_profile.hpp"
#include "connections/session_key_renewal.hpp"
#include "core/application_directory.hpp"
#include "core/status.hpp"
#include "core/tunnel_port.hpp"

#include "connections/log.hpp"
#include <QCoreApplication>

#include <algorithm>

namespace kelvra {

namespace result = brano::core::v6::result;

manager::manager() {
    qRegisterMetaType<result::stack>();
}

manager& manager::instance() {
    static manager object;
    return object;
}

std::optional<connection> manager::find(QString const& connection_id) const {
    return registry_.find(connection_id);
}

QString manager::register_connection(connection const& c) {
    return registry_.add(c);
}

QString manager::new_connection_id() {
    return connection_registry::new_connection_id();
}

QStringList manager::putty_arguments(connection const& c, QString const& credential) {
    QStringList args{QStringLiteral("-load"), c.name};
    switch (c.auth_type) {
    case authentication_type::password:
        args << QStringLiteral("-pw") << credential;
        break;
    case authentication_type::key_file:
        args << QStringLiteral("-i") << credential;
        break;
    default:
        return {};
    }
    if (c.maximized) {
        args << QStringLiteral("-maximized");
    }
    args << QStringLiteral("-R") << QStringLiteral("kelvra:127.0.0.1:%1").arg(tunnel_port);
    return args;
}

void manager::open(connection const& c, result::stack& status) {
    open_from(QCoreApplication::applicationDirPath(), c, status);
}

void manager::launch(connection const& c, QString const& credential, result::stack& status) {
    launch_from(QCoreApplication::applicationDirPath(), c, credential, status);
}

void manager::open_from(QString const& executable_dir, connection const& c, result::stack& status) {
    result::stack local;
    // The renewed text is ciphertext, and it reaches the terminal program on
    // its command line, where every copy Qt makes of it lives on: there is
    // nothing here that wiping could keep secret.
    QString const credential = renew_session_key(c.session_key, local);
    if (local.has_failed()) {
        status = std::move(local);
        return;
    }
    launch_from(executable_dir, c, credential, status);
}

void manager::launch_from(QString const& executable_dir, connection const& c,
                          QString const& credential, result::stack& status) {
    QString const id = register_connection(c);

    result::stack local;
    write_putty_profile(putty_session_path(c.name), c, id, local);
    if (local.has_failed()) {
        status = std::move(local);
        return;
    }

    QStringList const args = putty_arguments(c, credential);
    if (args.isEmpty()) {
        result::stack failure;
        failure
            .push_item(status::load_session_category::instance(),
                       status::load_session_category::invalid_authentication)
            .set_argument("session-name", c.name.toStdString());
        status = std::move(failure);
        return;
    }

    QDir const root = detail::application_directory(executable_dir, QStringLiteral("."), local);
    if (local.has_failed()) {
        status = std::move(local);
        return;
    }
    QString const program = QDir::toNativeSeparators(QStringLiteral("libexec/putty"));
    if (!root.exists(program)) {
        result::stack failure;
        failure.push_item(status::application_directories_category::instance(),
                          status::application_directories_category::putty_not_found);
        status = std::move(failure);
        return;
    }

    auto* process = new QProcess();
    process->setProgram(root.absoluteFilePath(program));
    process->setArguments(args);
    // The terminal program uses Kelvra's own standard input and output, as a
    // program started from it would: without a display it runs its session
    // right there. Pipes that nobody reads would keep all of a session's
    // output in Kelvra's memory.
    process->setInputChannelMode(QProcess::ForwardedInputChannel);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this, process](int, QProcess::ExitStatus) { on_finished(process); });
    connect(process, &QProcess::errorOccurred, this,
            [this, process, name = c.name](QProcess::ProcessError error) {
                on_error(process, name, error);
            });
    running_.push_back(process);
    process->start(QIODevice::ReadWrite);
}

void manager::forget(QProcess* process) {
    auto const it = std::find(running_.begin(), running_.end(), process);
    if (it == running_.end()) {
        return;
    }
    running_.erase(it);
    process->deleteLater();
    if (running_.empty()) {
        emit all_finished();
    }
}

void manager::on_finished(QProcess* process) {
    forget(process);
}

// A program that never started never finishes: without this it would stay
// "running" for good and quitting would be refused forever.
void manager::on_error(QProcess* process, QString const& session_name,
                       QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) {
        return;
    }
    qCDebug(connections_log) << "terminal program failed to start:" << process->program()
                             << process->errorString();
    result::stack failure;
    auto& item = failure.push_item(status::application_directories_category::instance(),
                                   status::application_directories_category::putty_not_found);
    item.set_argument("path", process->program().toStdString());
    item.set_argument("description", process->errorString().toStdString());
    item.set_argument("session-name", session_name.toStdString());
    emit launch_failed(failure);
    forget(process);
}

} // namespace kelvra
