#pragma once

#include <QWidget>

class AppState;
class QCheckBox;
class QLabel;
class QPushButton;
class StatusLabel;

// The about page: version and build, the data and log folders, the onboarding window, the account with
// sign-in or sign-out, the update check and feedback, the test update channel, the safety promises and
// how to uninstall. It follows the hub live and keeps no state of its own.
class AboutView : public QWidget {
    Q_OBJECT
public:
    explicit AboutView(AppState& app, QWidget* parent = nullptr);

    void refresh();

private:
    QWidget* buildHeader();
    QWidget* buildFolders();
    QWidget* buildAccount();

    AppState& app;
    QLabel* account;
    QPushButton* signOut;
    QPushButton* signIn;
    QPushButton* onboarding;
    QPushButton* feedback;
    QCheckBox* testChannel;
    StatusLabel* testChannelNote;
};
