#include "run.h"

#include <iostream>

namespace {
// Set by the run the driver makes, for Qt's message handler and the storage's calls back, which
// are handed no run.
Run *running = nullptr;
}  // namespace

Run::Run()
{
    running = this;
}

Run::~Run()
{
    running = nullptr;
}

Run &Run::current()
{
    return *running;
}

void printLine(const QString &line)
{
    std::cout << line.toStdString() << std::endl;
}
