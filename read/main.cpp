#include "common/interrupt_notifier.h"
#include "common/standard_streams.h"
#include "gateway/gateway.h"
#include "read/port_listing.h"
#include "read/read_options.h"
#include "read/read_session.h"
#include "read/scan_session.h"
#include "serial/port_names.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Runs a session to its end; SIGINT, SIGTERM and SIGHUP end it as its stop() does.
template <typename Session> int run(QCoreApplication& application, Session& session) {
    darq::InterruptNotifier interrupts;
    QObject::connect(&interrupts, &darq::InterruptNotifier::interrupted, &session, &Session::stop);
    QObject::connect(&session, &Session::finished, &application,
                     [](int exitStatus) { QCoreApplication::exit(exitStatus); });
    // From inside the event loop, so that even a run that ends at once is seen by exec().
    QMetaObject::invokeMethod(&session, &Session::start, Qt::QueuedConnection);
    return application.exec();
}

} // namespace

int main(int argc, char* argv[]) {
    const darq::ClosedStandardStreams closed = darq::reopenClosedStandardStreams();
    if (closed.output || closed.error) {
        // Readings or reasons would go nowhere, and the exit status would say all was well.
        if (!closed.error) {
            std::cerr << "darq-read: standard output is closed: the readings cannot be written\n";
        }
        return darq::kExitOutputLost;
    }
    // A reader that goes away (`darq-read ... | head -1`) makes the next write fail with EPIPE, and
    // the run ends as for any output that cannot be written: the port closed, its lock released.
    std::signal(SIGPIPE, SIG_IGN);
    const darq::ParsedReadOptions parsed =
        darq::parseReadOptions(std::vector<std::string>(argv + 1, argv + argc));
    switch (parsed.kind) {
    case darq::ParsedReadOptions::Kind::Help:
        std::cout << darq::helpText() << std::flush;
        return std::cout ? darq::kExitSuccess : darq::kExitOutputLost;
    case darq::ParsedReadOptions::Kind::Version:
        std::cout << "darq-read " DARQ_VERSION "\n" << std::flush;
        return std::cout ? darq::kExitSuccess : darq::kExitOutputLost;
    case darq::ParsedReadOptions::Kind::UsageError:
        std::cerr << "darq-read: " << parsed.error << "\n" << darq::usageText();
        return darq::kExitUsage;
    case darq::ParsedReadOptions::Kind::Run:
        break;
    }
    if (parsed.options.listPorts) {
        return darq::listPorts(parsed.options);
    }

    QCoreApplication application(argc, argv);
    const QString port = QString::fromStdString(parsed.options.port);
    if (parsed.options.scan) {
        darq::ScanSession scan(parsed.options, darq::deviceForPortArgument(port));
        return run(application, scan);
    }
    if (parsed.options.gateway.mqttUrl.empty()) {
        darq::ReadSession session(parsed.options, port);
        return run(application, session);
    }
    // Every gateway option checked, and the password read, before the port or the spool is
    // opened: a typing mistake in a unit's config file ends here, not after a first reading.
    const darq::CheckedGatewayOptions checked = darq::checkGatewayOptions(
        parsed.options.gateway, darq::deviceForPortArgument(port).toStdString(),
        darq::processEnvironment());
    if (!checked.error.empty()) {
        std::cerr << "darq-read: " << checked.error << "\n" << darq::usageText();
        return darq::kExitUsage;
    }
    // From the gateway's threads: one whole line at a time, not to be torn by the reading loop's.
    darq::Gateway gateway(checked.settings, [](const std::string& line) {
        std::cerr << ("darq-read: " + line + "\n") << std::flush;
    });
    if (const std::string error = gateway.start(); !error.empty()) {
        std::cerr << "darq-read: " << error << std::endl;
        return darq::kExitOutputLost;
    }
    darq::ReadSession session(parsed.options, port, &gateway);
    return run(application, session);
}
