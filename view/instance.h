// How a second start from the program's folder reaches the first: a local
// socket in the user's runtime directory, named by the folder's key. The
// second sends "show"; the first shows its window and answers "shown".
#pragma once

#include <QLocalServer>
#include <QString>
#include <functional>
#include <string>

namespace qm::view {

// The socket's path for a folder's key.
QString instanceSocket(const std::string& key);

// Listens for second starts from the folder whose key it is given; show is
// called for each one. Made by the instance that holds the folder's lock,
// so a socket already there was left by one that was killed and is replaced.
class InstanceServer {
public:
    InstanceServer(const std::string& key, std::function<void()> show);
    InstanceServer(const InstanceServer&) = delete;
    InstanceServer& operator=(const InstanceServer&) = delete;
    bool listening() const { return server_.isListening(); }
    QString errorString() const { return server_.errorString(); }

private:
    QLocalServer server_;
    std::function<void()> show_;
};

// Asks the instance listening for key to show its window: true once it
// answered that it did; false when none listens or it did not answer
// within timeoutMs.
bool wakeInstance(const std::string& key, int timeoutMs = 2000);

}  // namespace qm::view
