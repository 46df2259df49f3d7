#include "support/FakeLinkProgram.h"

#include "support/TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QJsonDocument>

#include <csignal>

FakeLinkProgram::FakeLinkProgram(QString stateDir) : dir(std::move(stateDir)) { QDir().mkpath(dir); }

QString FakeLinkProgram::path() { return QStringLiteral(TARNEL_BINARY_DIR "/tests/support/fake-tarnel-net"); }

void FakeLinkProgram::script(const QJsonObject& behaviour) const
{
    // Replaced whole: the program reads it at every request and must never see half a script.
    QSaveFile file(dir + QStringLiteral("/fake.json"));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(behaviour).toJson());
        file.commit();
    }
}

namespace {
QList<QJsonObject> lines(const QString& path)
{
    QList<QJsonObject> objects;
    for (const QByteArray& line : readFile(path).split('\n'))
        if (!line.isEmpty())
            objects << QJsonDocument::fromJson(line).object();
    return objects;
}
} // namespace

QList<QJsonObject> FakeLinkProgram::runs() const { return lines(dir + QStringLiteral("/runs.jsonl")); }

QList<QJsonObject> FakeLinkProgram::commands() const { return lines(dir + QStringLiteral("/commands.jsonl")); }

QStringList FakeLinkProgram::commandNames() const
{
    QStringList names;
    for (const QJsonObject& command : commands())
        names << command.value(QStringLiteral("cmd")).toString();
    return names;
}

