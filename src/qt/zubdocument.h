#pragma once

#include <QString>

// The project document as the window reads and writes it until the engine
// saves and opens whole projects: the tempo and the guid in the document, and
// where its "%1 - Audio and MIDI" folder lies.
class ZubDocument
{
public:
    static constexpr double FALLBACK_BPM = 120.0;

    struct Contents {
        double bpm = FALLBACK_BPM;
        long long guid = 0;
    };

    // A document that cannot be read or parsed, or whose tempo is missing or
    // out of range, reads as the fallback tempo.
    static Contents read(const QString& path);
    // Writes the document and creates its audio folder; 0 on success.
    static int write(const QString& path, double bpm);

    static QString audioFolderName(const QString& documentPath);
    // Beside the document, or in the documents folder for a sandbox guid.
    static QString audioFolder(const QString& documentPath, long long guid, const QString& documentsFolder);
};
