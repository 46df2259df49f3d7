#include "account/UpdateInstaller.h"

#include "platform/LaunchServices.h"
#include "platform/ProcessRunner.h"
#include "state/AtomicFile.h"
#include "state/Paths.h"

#include <QDir>
#include <QFile>
#include <sys/statvfs.h>

namespace {
const char* const script = R"SCRIPT(#!/bin/bash
# Waits for the old tarnel to quit, swaps the bundle for the staged one (the old one put back on failure), reopens it.
PID="$1"
SRC="$2"
DST="$3"
LOG="$4"
(umask 077 && : >>"$LOG") && chmod 600 "$LOG"
exec >>"$LOG" 2>&1
echo "[$(date '+%F %T')] 等 tarnel（$PID）退出"
for ((i = 0; i < 3000; i++)); do
  kill -0 "$PID" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$PID" 2>/dev/null; then
  echo "tarnel 10 分钟没退出，放弃这次更新"
  exit 1
fi
# Other copies still running from the target: give them a moment.
pattern="^$(printf '%s' "$DST" | sed 's/[][\\.*^$(){}?+|]/\\&/g')/bin/tarnel( |\$)"
for ((i = 0; i < 50; i++)); do
  pgrep -f -- "$pattern" >/dev/null || break
  sleep 0.2
done
SWAP="$(dirname -- "$LOG")/swap-update.sh"
{
  echo '#!/bin/bash'
  printf 'SRC=%q\n' "$SRC"
  printf 'DST=%q\n' "$DST"
  cat <<'BODY'
STAGE="$DST.updating"
OLD="$DST.old"
# A run that stopped between its two moves left only the old copy: put it back first, never delete it.
if [ ! -e "$DST" ] && [ -e "$OLD" ]; then mv -- "$OLD" "$DST" || exit 1; fi
rm -rf -- "$STAGE" "$OLD" || exit 1
mkdir -p -- "$(dirname -- "$DST")" || exit 1
cp -a -- "$SRC" "$STAGE" || exit 1
if [ -e "$DST" ]; then mv -- "$DST" "$OLD" || exit 1; fi
if ! mv -- "$STAGE" "$DST"; then
  if [ -e "$OLD" ]; then mv -- "$OLD" "$DST"; fi
  rm -rf -- "$STAGE"
  exit 1
fi
rm -rf -- "$OLD"
exit 0
BODY
} >"$SWAP"
chmod 700 "$SWAP"
# The administrator step is the installed bundle's own helper, run only when nobody but root can have
# changed it: root owns it and every folder above it, none writable by others (but root's sticky ones).
trusted() {
  local path uid mode
  path=$(realpath -e -- "$1" 2>/dev/null) || return 1
  [ -f "$path" ] || return 1
  while :; do
    read -r uid mode < <(stat -c '%u %a' -- "$path") || return 1
    [ "$uid" = 0 ] || return 1
    if (( (8#$mode & 8#022) != 0 )); then
      [ -d "$path" ] && (( (8#$mode & 8#1000) != 0 )) || return 1
    fi
    [ "$path" = / ] && return 0
    path=$(dirname -- "$path")
  done
}
if /bin/bash "$SWAP"; then
  echo "已换成新版本"
else
  echo "没有权限直接换，请求管理员授权"
  # A swap stopped between its two moves left the installed copy beside the target.
  HELPER="$DST/bin/tarnel-update-root"
  [ -e "$DST" ] || HELPER="$DST.old/bin/tarnel-update-root"
  if ! trusted "$HELPER"; then
    echo "$HELPER 不是只有管理员能改的程序，不用它"
    echo "没换成，保持旧版本"
  elif pkexec "$HELPER" "$SRC" "$DST"; then
    echo "已换成新版本（管理员授权）"
  else
    echo "没换成，保持旧版本"
  fi
fi
rm -f -- "$SWAP"
echo "[$(date '+%F %T')] 重新打开 $DST"
env -u TARNEL_LAUNCHD_AGENT setsid -f "$DST/bin/tarnel" </dev/null >/dev/null 2>&1
)SCRIPT";

bool onReadOnlyMount(const QString& path)
{
    struct statvfs info {};
    return ::statvfs(QFile::encodeName(path).constData(), &info) == 0 && (info.f_flag & ST_RDONLY);
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
} // namespace

UpdateInstaller::UpdateInstaller(KeepAliveAgent& agent, QString runningBundle)
    : agent(agent), runningBundle(std::move(runningBundle))
{
    startDetached = [](const QString& program, const QStringList& args) {
        return ProcessRunner::startDetached(program, args);
    };
    cgroup = [] { return readText(QStringLiteral("/proc/self/cgroup")); };
}

QString UpdateInstaller::scriptText() { return QString::fromUtf8(script); }

QString UpdateInstaller::targetFor(const QString& runningBundle, bool readOnly, const QString& home)
{
    const bool removable = runningBundle.startsWith(QLatin1String("/media/"))
        || runningBundle.startsWith(QLatin1String("/run/media/")) || runningBundle.startsWith(QLatin1String("/mnt/"));
    return removable || readOnly ? home + QStringLiteral("/.local/opt/tarnel.app") : runningBundle;
}

QString UpdateInstaller::target() const
{
    if (runningBundle.isEmpty())
        return {};
    return targetFor(runningBundle, onReadOnlyMount(runningBundle), QDir::homePath());
}

bool UpdateInstaller::insideUserService(const QString& cgroupText)
{
    for (const QString& line : cgroupText.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString path = line.section(QLatin1Char(':'), 2);
        if (path.contains(QLatin1String("/user@")) && path.section(QLatin1Char('/'), -1).endsWith(QLatin1String(".service")))
            return true;
    }
    return false;
}

QStringList UpdateInstaller::command(const QString& scriptPath, qint64 pid, const QString& source, const QString& target,
                                     const QString& log, bool throughSystemd)
{
    QStringList args{QStringLiteral("-f")};
    // A unit's stop ends every process in it: the script then runs in a scope of its own.
    if (throughSystemd)
        args << QStringLiteral("systemd-run") << QStringLiteral("--user") << QStringLiteral("--scope")
             << QStringLiteral("--collect") << QStringLiteral("--quiet") << QStringLiteral("--");
    return QStringList{QStringLiteral("/usr/bin/setsid")} + args
        + QStringList{QStringLiteral("/bin/bash"), scriptPath, QString::number(pid), source, target, log};
}

Outcome<QString> UpdateInstaller::writeScript(const QString& updatesDir)
{
    if (!Paths::ensure(updatesDir))
        return Outcome<QString>::failure(QStringLiteral("建不了 %1").arg(updatesDir));
    const QString path = updatesDir + QStringLiteral("/install-update.sh");
    if (const Outcome<> written = AtomicFile::write(path, scriptText().toUtf8(), 0700); !written.ok())
        return Outcome<QString>::failure(written.failure());
    return Outcome<QString>::success(path);
}

std::optional<QString> UpdateInstaller::launch(const QString& source, const QString& target, qint64 pid)
{
    if (target.isEmpty())
        return QStringLiteral("找不到要替换的 tarnel.app");
    const bool agentWasOn = agent.isRegistered();
    if (agentWasOn)
        agent.unregisterAgent();
    const auto failed = [&](const QString& why) {
        if (agentWasOn)
            agent.registerAgent();
        return std::optional<QString>(why);
    };
    const QString updates = Paths::updatesDirectory();
    const Outcome<QString> scriptPath = writeScript(updates);
    if (!scriptPath.ok())
        return failed(scriptPath.failure());
    const QStringList line = command(scriptPath.value(), pid, source, target, updates + QStringLiteral("/install.log"),
                                     insideUserService(cgroup()));
    if (!startDetached(line.first(), line.mid(1)))
        return failed(QStringLiteral("启动不了 %1").arg(line.first()));
    return std::nullopt;
}
