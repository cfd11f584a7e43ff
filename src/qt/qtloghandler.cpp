#include "qt/qtloghandler.h"

#include "core/log.h"

#include <cstring>

Q_LOGGING_CATEGORY(motifoDebug, "motifo.debug")

namespace {

QtMessageHandler g_previous = nullptr;

LogLevel levelOf(QtMsgType type, const QMessageLogContext& context)
{
    if (context.category && std::strcmp(context.category, "motifo.debug") == 0)
        return LogLevel::Debug;
    return type == QtDebugMsg || type == QtInfoMsg ? LogLevel::Info : LogLevel::Error;
}

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const LogLevel level = levelOf(type, context);
    if (Log::enabled(level))
        Log::write(level, qFormatLogMessage(type, context, message).toStdString());
}

} // namespace

void QtLogHandler::install()
{
    QtMessageHandler previous = qInstallMessageHandler(handle);
    if (previous != handle)
        g_previous = previous;
}

void QtLogHandler::uninstall()
{
    qInstallMessageHandler(g_previous);
    g_previous = nullptr;
}
