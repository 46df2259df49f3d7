#pragma once

#include "support/Processes.h"

#include <QJsonObject>
#include <QList>
#include <QString>

// Drives the scriptable stand-in for tarnel-net (tests/support/programs): what it is told to do lives in
// <state>/fake.json, what it saw in <state>/runs.jsonl (one line per start) and <state>/commands.jsonl.
class FakeLinkProgram {
public:
    explicit FakeLinkProgram(QString stateDir);

    static QString path(); // the built program

    void script(const QJsonObject& behaviour) const;
    QList<QJsonObject> runs() const;
    QList<QJsonObject> commands() const;
    QStringList commandNames() const;

private:
    QString dir;
};
