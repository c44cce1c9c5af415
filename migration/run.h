#pragma once

// One run of the program, from its command line to its exit: what the run keeps between the
// calls it makes, and where its lines go. The driver makes one and hands it to every function
// that reads or changes what it keeps.

#include "platform.h"

#include <QSet>
#include <QString>

class QCoreApplication;

struct Run {
    Run();
    ~Run();
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;

    // The run under way, for code that is called without one: Qt's message handler, and the
    // functions the storage below calls back, which are handed no run.
    static Run &current();

    // Stores already named in a "could not read" line: however often a search meets one, it is
    // named once.
    QSet<QString> reportedUnreadable;
    // Stores, as "organisation/store", while whose reading Qt, or a library below it, said
    // something: a value that failed to decode, or a damaged image. Qt reads a store once and may
    // hand the same contents to later objects, so what was said the first time holds for the run.
    QSet<QString> decodeFailures;
    // Type ids of the values that failed to decode, and how many messages Qt and the libraries
    // below it said: one said while a store is read means a value of it did not decode as stored.
    QSet<int> undecodableTypes;
    int messagesNoted = 0;
    // Warnings printed: a message is printed once however often it is said, as a store read again
    // says the same again.
    QSet<QString> printedWarnings;
    // The application object the run made (none in the tests, whose own stays); it lives until the
    // process ends, never destroyed at exit when Qt's own globals go.
    QCoreApplication *application = nullptr;
    // Whether values that need a GUI application were made decodable (the storage-neutral build).
    bool preparedToDecode = false;
    // Where what libraries write to standard error is held back (-1: nowhere).
    int heldBackErrors = -1;
    // The folders (or registry keys) the run made for stores, removed at its end once empty.
    MadeFolders madeFolders;
};

// Prints a line on standard output, the only place the program says anything, each line flushed
// as it is said: a run an installer kills has still logged every line before.
void printLine(const QString &line);
