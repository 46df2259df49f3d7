#include "NetLog.h"

#include <QDateTime>
#include <cstdio>

namespace NetLog {

void line(const QString& text)
{
    const QByteArray bytes = (QStringLiteral("[%1] %2\n")
                                  .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), text))
                                 .toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace NetLog
