#pragma once

#include <QStringList>

// What Motifo is asked for on its command line: `motifo [song.zub]`, or a
// version or usage text that is answered without starting the program.
class CommandLine
{
public:
    // Prints the version (--version) or the usage (--help) to standard
    // output and returns true when that is what was asked.
    static bool answeredAlone(int argc, char** argv);
    // The songs named after the options Qt takes for itself, as absolute
    // paths from the folder the program was started in.
    static QStringList songs(const QStringList& arguments);
};
