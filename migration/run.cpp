#include "run.h"

#include <iostream>

void printLine(const QString &line)
{
    std::cout << line.toStdString() << std::endl;
}
