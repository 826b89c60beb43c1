#include "read/interrupt_notifier.h"
#include "read/read_options.h"
#include "read/read_session.h"
#include "serial/port_names.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    const darq::ParsedReadOptions parsed =
        darq::parseReadOptions(std::vector<std::string>(argv + 1, argv + argc));
    switch (parsed.kind) {
    case darq::ParsedReadOptions::Kind::Help:
        std::cout << darq::helpText();
        return darq::kExitAllDecoded;
    case darq::ParsedReadOptions::Kind::Version:
        std::cout << "darq-read " DARQ_VERSION "\n";
        return darq::kExitAllDecoded;
    case darq::ParsedReadOptions::Kind::UsageError:
        std::cerr << "darq-read: " << parsed.error << "\n" << darq::usageText();
        return darq::kExitUsage;
    case darq::ParsedReadOptions::Kind::Run:
        break;
    }

    QCoreApplication application(argc, argv);
    const QString device = darq::deviceForPortArgument(QString::fromStdString(parsed.options.port));
    darq::ReadSession session(parsed.options, device);
    darq::InterruptNotifier interrupts;
    QObject::connect(&interrupts, &darq::InterruptNotifier::interrupted, &session,
                     &darq::ReadSession::stop);
    QObject::connect(&session, &darq::ReadSession::finished, &application,
                     [](int exitStatus) { QCoreApplication::exit(exitStatus); });
    // From inside the event loop, so that even a run that ends at once is seen by exec().
    QMetaObject::invokeMethod(&session, &darq::ReadSession::start, Qt::QueuedConnection);
    return application.exec();
}
