#pragma once

#include "ui/kit/Sheet.h"

class LinkManager;
class QLineEdit;
class QPushButton;
class StatusLabel;

// Renames this machine: its display name and its ssh alias. The checks and the change belong to the
// device link; the sheet collects the two values and shows the outcome.
class RenameDeviceSheet : public Sheet {
    Q_OBJECT
public:
    explicit RenameDeviceSheet(LinkManager& link, QWidget* parent = nullptr);

    QLineEdit* nameField() const { return name; }
    QLineEdit* aliasField() const { return alias; }
    QPushButton* saveButton() const { return save; }
    QPushButton* cancelButton() const { return cancel; }
    QString error() const;

private:
    void prefill();
    void keepAliasLower();
    void submit();

    LinkManager& link;
    QLineEdit* name;
    QLineEdit* alias;
    StatusLabel* errorText;
    QPushButton* cancel;
    QPushButton* save;
};
