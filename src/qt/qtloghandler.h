#pragma once

#include <QLoggingCategory>

// Per-event chatter of the shell (drags, parsed ids, sysex ends): printed
// only with MOTIFO_LOG=debug.
Q_DECLARE_LOGGING_CATEGORY(motifoDebug)

// Routes Qt's messages (the shell's qDebug lines, Qt's own warnings, the
// page's console) into the program's log.
class QtLogHandler
{
public:
    static void install();
    static void uninstall();
};
