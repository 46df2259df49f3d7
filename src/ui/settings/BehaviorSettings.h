#pragma once

#include "ui/settings/SettingsModel.h"

#include <QWidget>

class AppState;
class CoalescedRefresh;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

// The behaviour page: every behaviour setting as a control that writes the whole settings record through
// the hub (one save per change). The token format and the remote folder are edited as local copies,
// loaded each time the page is shown and written back on Return when valid; the two lists are written on
// every edit.
class BehaviorSettings : public QWidget {
    Q_OBJECT
public:
    explicit BehaviorSettings(AppState& app, QWidget* parent = nullptr);

    // Shows the current settings in every control (the local copies aside).
    void refresh();
    // Loads the local copies of the free-text fields from the settings.
    void loadLocalCopies();

    QComboBox* longSideBox() const { return longSide; }
    QComboBox* defaultServerBox() const { return defaultServer; }
    QLineEdit* tokenField() const { return token; }
    QLineEdit* remoteDirField() const { return remoteDir; }
    QPlainTextEdit* terminalsEditor() const { return terminals; }
    QPlainTextEdit* patternsEditor() const { return patterns; }
    QToolButton* stepButton(SettingsModel::Stepper stepper, int direction) const;
    QLabel* stepLabel(SettingsModel::Stepper stepper) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct StepperRow {
        SettingsModel::Stepper kind;
        QLabel* text;
        QToolButton* down;
        QToolButton* up;
    };

    QWidget* buildShots();
    QWidget* buildPaste();
    QWidget* buildResident();
    QWidget* buildAdvanced();
    QPlainTextEdit* listEditor(const char* name, QWidget* parent);
    void write(const Settings& settings);
    void commitToken();
    void commitRemoteDir();
    void reloadList(QPlainTextEdit* editor, const QStringList& stored);

    AppState& app;
    CoalescedRefresh* refresher;
    QComboBox* longSide;
    QList<StepperRow> steppers;
    QCheckBox* saveWhenNoServer;
    QButtonGroup* pasteModes;
    QLineEdit* token;
    QComboBox* defaultServer;
    QLabel* terminalCaption;
    QPlainTextEdit* terminals;
    QPlainTextEdit* patterns;
    QCheckBox* launchAtLogin;
    QLabel* launchAtLoginNote;
    QCheckBox* keepAlive;
    QLabel* keepAliveNote;
    QLineEdit* remoteDir;
};
