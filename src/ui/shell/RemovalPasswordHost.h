#pragma once

#include <QObject>
#include <QPointer>

class AppState;
#include "ui/panel/PasswordPrompt.h"

// Finishes removals that need the server's password, whichever window started them: while the hub holds
// a pending removal it shows one prompt; the answer runs the uninstall with the password (or flashes that
// the key line stayed), and the next request, if any, gets its own prompt.
class RemovalPasswordHost : public QObject {
    Q_OBJECT
public:
    explicit RemovalPasswordHost(AppState& app, QObject* parent = nullptr);
    ~RemovalPasswordHost() override;

    PasswordPrompt* prompt() const { return open; }

private:
    void follow();
    void answer(const std::optional<QString>& password);

    AppState& app;
    QPointer<PasswordPrompt> open;
};
