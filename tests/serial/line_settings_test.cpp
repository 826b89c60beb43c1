#include "instrument_end.h"
#include "serial/comm_control.h"

#include <gtest/gtest.h>

namespace darq {
namespace {

using testing::InstrumentEnd;
using testing::ScopedComPort;

TEST(SettingsText, MalformedTextIsRefusedAndTheLineStaysAsItWas) {
    InstrumentEnd line;
    ScopedComPort com1(1, line.devicePath());
    CommControl port;
    ASSERT_TRUE(port.setSettings("4800,n,8,2"));
    ASSERT_TRUE(port.open()) << port.lastError().message().toStdString();

    const char* const malformed[] = {
        "",
        "9600",
        "9600,n,8",
        "9600,n,8,2,1",
        "9600;n;8;2",
        "abc,n,8,2",
        "-9600,n,8,2",
        "1000,n,8,2",
        "9600,x,8,2",
        "9600,,8,2",
        "9600,no,8,2",
        "9600,n,9,2",
        "9600,n,4,2",
        "9600,n,8,3",
        "9600,n,8,1.5",
        " 9600,n,8,2",
        "9600,n,8,2 ",
        "9600, n,8,2",
        "9600,n,8,2,",
        "99999999,n,8,2",
    };
    for (const char* text : malformed) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(port.setSettings(QString::fromLatin1(text)));
        const PortError error = port.lastError();
        EXPECT_EQ(error.kind, PortError::Kind::InvalidSettings);
        EXPECT_TRUE(error.message().startsWith(line.devicePath() + ": settings refused"))
            << error.message().toStdString();
        EXPECT_FALSE(error.message().contains('\n'));
        EXPECT_EQ(port.Settings(), "4800,n,8,2");
        EXPECT_TRUE(port.PortOpen());
        const termios settings = line.lineSettings();
        EXPECT_EQ(cfgetospeed(&settings), B4800);
        EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_TRUE(settings.c_cflag & CSTOPB);
        EXPECT_FALSE(settings.c_cflag & PARENB);
    }
}

TEST(SettingsText, ParsesEveryParityLetterAndWordSize) {
    struct Case {
        const char* text;
        LineSettings expected;
    };
    const Case cases[] = {
        {"19200,E,7,1", {19200, Parity::Even, 7, 1}},
        {"110,o,8,2", {110, Parity::Odd, 8, 2}},
        {"300,M,5,1", {300, Parity::Mark, 5, 1}},
        {"57600,s,6,2", {57600, Parity::Space, 6, 2}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.text);
        const ParsedLineSettings parsed = parseLineSettings(row.text);
        ASSERT_TRUE(parsed.settings) << parsed.error;
        EXPECT_EQ(*parsed.settings, row.expected);
    }
}

TEST(SettingsText, SettingsTheDeviceRefusesLeaveTheLineAsItWas) {
    InstrumentEnd line;
    ScopedComPort com1(1, line.devicePath());
    CommControl port;
    ASSERT_TRUE(port.setSettings("2400,n,8,2"));
    ASSERT_TRUE(port.open()) << port.lastError().message().toStdString();

    // A pseudo-terminal takes no other word size: the rate that went through first is undone.
    EXPECT_FALSE(port.setSettings("19200,n,7,1"));
    EXPECT_EQ(port.lastError().kind, PortError::Kind::InvalidSettings);
    EXPECT_EQ(port.Settings(), "2400,n,8,2");
    const termios settings = line.lineSettings();
    EXPECT_EQ(cfgetospeed(&settings), B2400);
    EXPECT_TRUE(settings.c_cflag & CSTOPB);
}

} // namespace
} // namespace darq
