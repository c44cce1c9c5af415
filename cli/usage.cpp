#include "cli.h"

#include "migration.h"

#include <iostream>

void printUsage()
{
    std::cout << "Usage: VantorelSettingsMigrator <OrganizationName> <ApplicationName> <ApplicationVersionMajor> "
                 "<ApplicationVersionMinor>"
              << std::endl;
    std::cout << std::endl;
    std::cout << "  VantorelSettingsMigrator - migrates settings from previous Vantorel Application versions"
              << std::endl;
    std::cout << std::endl;
    std::cout << "  Specify an application name, major, minor version, and beta level." << std::endl;
    std::cout << "  This program will then look for previous versions and copy the " << std::endl;
    std::cout << "  settings from the first found version." << std::endl;
    std::cout << "  beta level can be e.g. prealpha, alpha, beta, release and must not contain a number." << std::endl;
    std::cout << "  The settings copied are:" << std::endl;
    for (const QString &group : settingsGroups())
        std::cout << "    <ApplicationName> <ApplicationVersionMajor>.<ApplicationVersionMinor>." << group.toStdString()
                  << std::endl;
    std::cout << std::endl;
    std::cout << std::endl;
    std::cout << "Example: "
              << "VantorelSettingsMigrator Vantorel Kelvor 9 0 beta" << std::endl;
}
