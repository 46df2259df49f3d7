#include "app/CommandLine.h"
#include "state/Log.h"
#include "state/Paths.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    // QApplication needs a valid application object for AppInfo's bundle lookup, but the command line
    // must be answered before any window system is touched: a core application is enough for that.
    if (argc >= 2 && QByteArray(argv[1]).startsWith("--")) {
        QCoreApplication core(argc, argv);
        const auto text = CommandLine::answer(argc, argv);
        std::fputs(text->toUtf8().constData(), stdout);
        return 0;
    }

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("tarnel"));
    app.setOrganizationName(QStringLiteral("tarnel"));
    app.setQuitOnLastWindowClosed(false);
    Paths::ensure(Paths::dataDirectory());
    Log::write(QStringLiteral("启动"));
    return app.exec();
}
