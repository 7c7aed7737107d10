#include "view/instance.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace qm::view {

QString instanceSocket(const std::string& key) {
    // Private to the user (mode 0700), and gone with the session.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/quillmere-") + QString::fromStdString(key);
}

InstanceServer::InstanceServer(const std::string& key, std::function<void()> show)
    : show_(std::move(show)) {
    const QString path = instanceSocket(key);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(path) && server_.serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(path);
        (void)server_.listen(path);
    }
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] {
        while (QLocalSocket* c = server_.nextPendingConnection()) {
            QObject::connect(c, &QLocalSocket::disconnected, c, &QObject::deleteLater);
            QObject::connect(c, &QLocalSocket::readyRead, c, [this, c] {
                if (!c->canReadLine()) return;
                if (c->readLine().trimmed() == "show") {
                    show_();
                    c->write("shown\n");
                    c->flush();
                }
                c->disconnectFromServer();
            });
        }
    });
}

bool wakeInstance(const std::string& key, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QLocalSocket s;
    s.connectToServer(instanceSocket(key));
    if (!s.waitForConnected(static_cast<int>(deadline.remainingTime()))) return false;
    s.write("show\n");
    if (!s.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) return false;
    while (!s.canReadLine())
        if (!s.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) return false;
    return s.readLine().trimmed() == "shown";
}

}  // namespace qm::view
