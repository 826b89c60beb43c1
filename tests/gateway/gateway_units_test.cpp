#include "broker_process.h"
#include "gateway/config_file.h"
#include "gateway/gateway_options.h"
#include "gateway/service_notifier.h"
#include "gateway/spool.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace darq {
namespace {

using testing::readFile;
using testing::TemporaryFolder;
using testing::writeFile;

TEST(GatewayOptions, RefuseWhatCannotWorkWithTheReasonAndFillInTheDefaults) {
    const TemporaryFolder folder;
    const std::string ca = folder.file("ca.pem");
    const std::string password = folder.file("password");
    writeFile(ca, "not checked here: the TLS handshake judges it\n");
    writeFile(password, "s3cret\nsecond line ignored\n");
    const std::string unreadable = folder.file("unreadable");
    writeFile(unreadable, "x\n");
    ::chmod(unreadable.c_str(), 0);
    const bool rootReadsAll = !readFile(unreadable).empty();

    const struct {
        GatewayOptions options;
        const char* refusal; // part of the one-line reason; empty: accepted
    } cases[] = {
        {{"mqtt://broker"}, ""},
        {{"http://broker"}, "must be mqtt://[USER@]HOST[:PORT]"},
        {{"mqtt://"}, "must be mqtt://"},
        {{"mqtt://broker:0"}, "port must be a number from 1 to 65535, not \"0\""},
        {{"mqtt://broker:65536"}, "not \"65536\""},
        {{"mqtt://broker:18x"}, "not \"18x\""},
        {{"mqtt://user:pw@broker"}, "must not hold a password"},
        {{"mqtts://broker"}, "needs --mqtt-ca"},
        {{"mqtts://broker", {}, folder.file("missing.pem")}, "cannot read the CA file"},
        {{"mqtts://broker", {}, ca}, ""},
        {{"mqtt://broker", {}, ca}, "--mqtt-ca goes with an mqtts://"},
        {{"mqtt://u@broker", {}, {}, folder.file("nope")}, "cannot read the password file"},
        {{"mqtt://broker", {}, {}, password}, "needs a user"},
        {{"mqtt://broker", {}, {}, {}, folder.file("no/such/spool")},
         "in a folder that does not exist"},
        {{"mqtt://broker", {}, {}, {}, folder.path()}, "not a plain file"},
        {{"mqtt://broker", std::string("plant/+/x")}, "must not hold + or #"},
        {{"mqtt://broker", std::string("plant/#")}, "must not hold + or #"},
        {{"mqtt://broker", std::string("plant/")}, "must not end in /"},
        {{"mqtt://broker", std::string("plant/\xff")}, "not valid UTF-8"},
        {{"mqtt://broker", {}, {}, {}, {}, std::string("0")}, "at least 1"},
        {{"", {}, {}, {}, folder.file("spool")}, "go with --mqtt"},
    };
    const GatewayEnvironment environment{"gw1", std::nullopt, std::nullopt};
    for (const auto& row : cases) {
        SCOPED_TRACE(row.options.mqttUrl);
        const CheckedGatewayOptions checked =
            checkGatewayOptions(row.options, "/dev/serial/by-id/usb-FTDI_1", environment);
        if (*row.refusal == '\0') {
            EXPECT_EQ(checked.error, "");
        } else {
            EXPECT_NE(checked.error.find(row.refusal), std::string::npos) << checked.error;
        }
    }
    if (!rootReadsAll) {
        const CheckedGatewayOptions checked = checkGatewayOptions(
            {"mqtt://u@broker", {}, {}, unreadable}, "/dev/ttyUSB0", environment);
        EXPECT_NE(checked.error.find("Permission denied"), std::string::npos) << checked.error;
    }

    const CheckedGatewayOptions defaults = checkGatewayOptions(
        {"mqtts://op@[::1]", {}, ca, password}, "/dev/serial/by-id/usb-FTDI_1",
        {"gw1", std::string("from-environment"), folder.path() + ":/var/lib/other"});
    ASSERT_EQ(defaults.error, "");
    EXPECT_EQ(defaults.settings.broker.url(), "mqtts://op@[::1]:8883");
    EXPECT_EQ(defaults.settings.topicPrefix, "darq/gw1/usb-FTDI_1");
    EXPECT_EQ(defaults.settings.password, "s3cret"); // the file wins over the environment
    EXPECT_EQ(defaults.settings.spoolPath, folder.file("spool"));
    EXPECT_EQ(defaults.settings.spoolMax, kDefaultSpoolMax);
}

TEST(ConfigFile, ReadsOneOptionALineAndNamesTheLineOfAMistake) {
    const TemporaryFolder folder;
    const std::string path = folder.file("line1.conf");
    const struct {
        const char* content;
        const char* entries; // "name=value;" each, "name;" without a value
        const char* error;   // part of it; empty: none
    } cases[] = {
        {"# the boiler house\n\nport = /dev/ttyUSB0\n  interval=2000 \ntrace\n",
         "port=/dev/ttyUSB0@3;interval=2000@4;trace@5;", ""},
        {"mqtt = mqtt://plant@broker:1883\nmqtt-topic = a b/c\n",
         "mqtt=mqtt://plant@broker:1883@1;mqtt-topic=a b/c@2;", ""},
        {"port = /dev/ttyUSB0\n--count = 3\n", "", "line1.conf:2: \"--count = 3\" is not"},
        {"port /dev/ttyUSB0\n", "", "line1.conf:1:"},
        {"count = 1\n\ncount = 2\n", "", "line1.conf:3: count is given a second time (first at "},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.content);
        writeFile(path, row.content);
        const ConfigFile config = readConfigFile(path);
        std::string entries;
        for (const ConfigEntry& entry : config.entries) {
            entries += entry.name + (entry.value ? "=" + *entry.value : "") + "@" +
                       entry.where.substr(entry.where.rfind(':') + 1) + ";";
        }
        EXPECT_EQ(entries, row.entries);
        EXPECT_NE(config.error.find(row.error), std::string::npos) << config.error;
        EXPECT_EQ(config.error.empty(), *row.error == '\0') << config.error;
    }
    EXPECT_NE(readConfigFile(folder.file("absent.conf")).error.find("absent.conf\": No such file"),
              std::string::npos);
}

std::vector<std::uint64_t> handOutAll(Spool& spool) {
    std::vector<std::uint64_t> seqs;
    while (const std::optional<SpooledRecord> record = spool.next()) {
        seqs.push_back(record->seq);
    }
    return seqs;
}

std::unique_ptr<Spool> openSpool(const std::string& path, std::size_t maximum = 1000) {
    Spool::Opened opened = Spool::openFile(path, maximum);
    EXPECT_EQ(opened.error, "");
    return std::move(opened.spool);
}

TEST(Spool, KeepsWhatTheBrokerHasNotAcknowledgedAcrossRunsAndNumbersOn) {
    const TemporaryFolder folder;
    const std::string path = folder.file("spool");
    {
        std::unique_ptr<Spool> spool = openSpool(path);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(spool->append(7, "{\"flow\":1.50}\n"), "");
        }
        const std::optional<SpooledRecord> first = spool->next();
        ASSERT_TRUE(first);
        EXPECT_EQ(first->address, 7);
        EXPECT_EQ(first->payload, "{\"flow\":1.50,\"seq\":1}");
        spool->next();
        spool->acknowledge(2);
        EXPECT_EQ(spool->pending(), 3u);
        EXPECT_EQ(spool->close(), "");
        EXPECT_EQ(Spool::openFile(path, 10).error,
                  "the spool \"" + path + "\" is in use by another darq-read");
    }
    {
        std::unique_ptr<Spool> spool = openSpool(path);
        EXPECT_EQ(spool->pending(), 3u);
        spool->append(7, "{}");
        EXPECT_EQ(handOutAll(*spool), (std::vector<std::uint64_t>{3, 4, 5, 6}));
        spool->acknowledge(4);
        spool->sync();
        // Ended without close(), as by a power cut: the numbers reserved are skipped, so none is
        // given twice.
    }
    std::unique_ptr<Spool> spool = openSpool(path);
    spool->append(7, "{}");
    const std::vector<std::uint64_t> seqs = handOutAll(*spool);
    ASSERT_EQ(seqs.size(), 3u);
    EXPECT_EQ(seqs[0], 5u);
    EXPECT_EQ(seqs[1], 6u);
    EXPECT_GT(seqs[2], 6u);
}

TEST(Spool, ADamagedFileCostsOnlyTheDamagedRecords) {
    const TemporaryFolder folder;
    const std::string path = folder.file("spool");
    {
        std::unique_ptr<Spool> spool = openSpool(path);
        for (int i = 0; i < 6; ++i) {
            spool->append(1, "{\"total\":" + std::to_string(i) + "}");
        }
        spool->close();
    }
    std::string content = readFile(path);
    const std::size_t second = content.find("\"total\":1");
    content[second + 9] = '9'; // a changed digit
    const std::size_t fourth = content.find("\"total\":3");
    content.insert(content.rfind('\n', fourth) + 1, std::string("\0\0\xff garbage\n", 12));
    const std::size_t sixth = content.find("\"total\":5");
    content.erase(sixth + 4); // torn in the middle of the last record, and no clean stop after
    writeFile(path, content);

    std::unique_ptr<Spool> spool = openSpool(path);
    EXPECT_EQ(handOutAll(*spool), (std::vector<std::uint64_t>{1, 3, 4, 5}));
    spool->append(1, "{}");
    const std::optional<SpooledRecord> after = spool->next();
    ASSERT_TRUE(after);
    EXPECT_GT(after->seq, 6u); // the torn record's number may have been published
}

TEST(Spool, WhenFullDropsAndCountsTheOldestAndStaysSmallOnDisk) {
    const TemporaryFolder folder;
    const std::string path = folder.file("spool");
    std::unique_ptr<Spool> spool = openSpool(path, 100);
    const std::string record = "{\"pad\":\"" + std::string(200, 'x') + "\"}";
    for (int i = 0; i < 20000; ++i) {
        spool->append(1, record);
        if (i % 1000 == 0) {
            spool->sync();
        }
    }
    spool->sync();
    EXPECT_EQ(spool->pending(), 100u);
    EXPECT_EQ(spool->dropped(), 19900u);
    const std::vector<std::uint64_t> seqs = handOutAll(*spool);
    ASSERT_EQ(seqs.size(), 100u);
    EXPECT_EQ(seqs.front(), 19901u);
    EXPECT_EQ(seqs.back(), 20000u);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_LT(status.st_size, 3 * 1024 * 1024); // 20,000 records would be 4.6 MB

    const std::unique_ptr<Spool> memory = Spool::inMemory(3);
    for (int i = 0; i < 5; ++i) {
        memory->append(2, "{}");
    }
    EXPECT_EQ(memory->dropped(), 2u);
    EXPECT_EQ(handOutAll(*memory), (std::vector<std::uint64_t>{3, 4, 5}));
}

TEST(Spool, AcknowledgedRecordsLeaveTheFile) {
    const TemporaryFolder folder;
    const std::string path = folder.file("spool");
    std::unique_ptr<Spool> spool = openSpool(path);
    const std::string record = "{\"pad\":\"" + std::string(200, 'x') + "\"}";
    for (int i = 0; i < 20000; ++i) {
        spool->append(1, record);
        const std::optional<SpooledRecord> handed = spool->next();
        ASSERT_TRUE(handed);
        if (i >= 3) {
            spool->acknowledge(handed->seq - 3); // three in flight
        }
        if (i % 500 == 0) {
            spool->sync();
        }
    }
    spool->sync();
    EXPECT_EQ(spool->pending(), 3u);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_LT(status.st_size, 3 * 1024 * 1024);
    spool->close();
    spool.reset();
    spool = openSpool(path);
    EXPECT_EQ(handOutAll(*spool), (std::vector<std::uint64_t>{19998, 19999, 20000}));
}

TEST(Spool, NumberIsAddedAsTheRecordsLastField) {
    EXPECT_EQ(withSequenceNumber("{\"a\":1}\n", 5), "{\"a\":1,\"seq\":5}");
    EXPECT_EQ(withSequenceNumber("{ }", 1), "{ \"seq\":1}");
    EXPECT_EQ(withSequenceNumber("", 2), "{\"seq\":2}");
}

TEST(ServiceNotifier, TellsSystemdItIsReadyAndAliveWithoutADatagramPerReading) {
    const TemporaryFolder folder;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = folder.file("notify");
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int systemd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_EQ(::bind(systemd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    ::setenv("WATCHDOG_USEC", "60000000", 1);
    ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);

    ServiceNotifier notifier;
    notifier.ready();
    for (int reading = 0; reading < 1000; ++reading) {
        notifier.alive();
    }
    notifier.stopping();
    std::string told;
    char datagram[256];
    for (ssize_t size; (size = ::recv(systemd, datagram, sizeof datagram, 0)) > 0;) {
        told.append(datagram, static_cast<std::size_t>(size)) += ";";
    }
    EXPECT_EQ(told, "READY=1;WATCHDOG=1;STOPPING=1;");
    EXPECT_EQ(notifier.alivePeriod(), std::chrono::milliseconds(30000));
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");
    ::unsetenv("WATCHDOG_PID");
    ::close(systemd);
}

} // namespace
} // namespace darq
