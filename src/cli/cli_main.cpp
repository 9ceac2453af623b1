// pellory-cli: Pellory's command-line front end (see cli/cli.h).
#include <QCoreApplication>

#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_process.h"
#include "pellory_version.h"
#include "platform/port_map.h"

int main(int argc, char** argv) {
    pellory::app::cli::OccupyClosedStandardStreams();
    // Before any thread starts (the application object may start some).
    const pellory::app::cli::SignalWatch signalWatch;

    // The picture decoders find their plugins through the application object.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pellory-cli"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(pellory::kProgramVersion));
    // COM numbers set in the environment (PELLORY_COM<n>=/path), as the window reads them.
    pellory::platform::PortMap::instance().loadEnvironment();

    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return pellory::app::RunCli(args, std::cout, std::cerr);
}
