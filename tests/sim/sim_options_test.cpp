#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/net/socket.h"
#include "sim/options.h"

namespace qv::sim {
namespace {

Options parse(std::vector<std::string> args) {
    return parseOptions(args);
}

std::string usageError(std::vector<std::string> args) {
    try {
        parseOptions(args);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "";
}

TEST(SimOptions, DefaultsDescribeOneControllerOnTheLoopbackBridge) {
    const Options o = parse({});
    EXPECT_EQ(o.interfaceAddress, net::kLoopback);
    EXPECT_EQ(o.port, 4876);
    EXPECT_EQ(o.busId, 0x004272656E6C6F77ull);
    EXPECT_EQ(o.bitrateKbps, 500);
    EXPECT_EQ(o.seconds, 0);
    const auto devices = effectiveDevices(o);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].base, 0x400u);
    EXPECT_EQ(devices[0].serial, 123456u);
    // "KX01" goes out as the bytes 'K' 'X' '0' '1', first character in byte 0.
    EXPECT_EQ(devices[0].product, 0x3130584Bu);
}

TEST(SimOptions, EveryOptionIsRead) {
    const Options o = parse({"--interface", "127.0.0.2",
                             "--port",      "5000",
                             "--bus-id",    "0xFFFFFFFFFFFFFFFF",
                             "--bitrate",   "250",
                             "--device",    "0x440:7:0x4001",
                             "--device",    "64:99:KX03",
                             "--mute",      "0x40",
                             "--loss",      "12.5",
                             "--dup",       "3",
                             "--delay",     "20",
                             "--seconds",   "1.5",
                             "--seed",      "42",
                             "--verbose"});
    EXPECT_EQ(o.interfaceAddress, *net::parseIPv4("127.0.0.2"));
    EXPECT_EQ(o.port, 5000);
    EXPECT_EQ(o.busId, ~0ull);
    EXPECT_EQ(o.bitrateKbps, 250);
    ASSERT_EQ(o.devices.size(), 2u);
    EXPECT_EQ(o.devices[0].base, 0x440u);
    EXPECT_EQ(o.devices[0].serial, 7u);
    EXPECT_EQ(o.devices[0].product, 0x4001u);
    EXPECT_EQ(o.devices[1].base, 0x40u);
    EXPECT_EQ(o.devices[1].product, 0x3330584Bu);
    EXPECT_EQ(o.muted, std::vector<std::uint32_t>{0x40});
    EXPECT_DOUBLE_EQ(o.lossPercent, 12.5);
    EXPECT_DOUBLE_EQ(o.dupPercent, 3);
    EXPECT_DOUBLE_EQ(o.delayMs, 20);
    EXPECT_DOUBLE_EQ(o.seconds, 1.5);
    EXPECT_EQ(o.seed, 42u);
    EXPECT_TRUE(o.verbose);
}

TEST(SimOptions, ProductsAreTextsOrTypeCodes) {
    EXPECT_EQ(parseDevice("0x400:1:0x6000").product, 0x6000u);
    EXPECT_EQ(parseDevice("0x400:1:16386").product, 0x4002u);
    // Four digits are a decimal code, not a text.
    EXPECT_EQ(parseDevice("0x400:1:1234").product, 1234u);
    // An unrecognised content is allowed: the program must ignore it.
    EXPECT_EQ(parseDevice("0x400:1:0xFF000000").product, 0xFF000000u);
    EXPECT_EQ(parseDevice("0x7E0:4294967295:KX02").serial, 4294967295u);
}

TEST(SimOptions, BadInputIsAUsageErrorThatSaysWhy) {
    EXPECT_NE(usageError({"--frobnicate"}).find("unknown option"), std::string::npos);
    EXPECT_NE(usageError({"--port"}).find("needs a value"), std::string::npos);
    EXPECT_NE(usageError({"--port", "0"}).find("--port"), std::string::npos);
    EXPECT_NE(usageError({"--port", "65536"}).find("too large"), std::string::npos);
    EXPECT_NE(usageError({"--port", "12ab"}).find("not a number"), std::string::npos);
    EXPECT_NE(usageError({"--bus-id", "0x10000000000000000"}).find("too large"), std::string::npos);
    EXPECT_NE(usageError({"--bitrate", "0"}).find("--bitrate"), std::string::npos);
    EXPECT_NE(usageError({"--loss", "101"}).find("out of range"), std::string::npos);
    EXPECT_NE(usageError({"--dup", "-1"}).find("out of range"), std::string::npos);
    EXPECT_NE(usageError({"--delay", "x"}).find("not a number"), std::string::npos);
    EXPECT_NE(usageError({"--seconds", "0"}).find("--seconds"), std::string::npos);
    EXPECT_NE(usageError({"--seconds", "nan"}).find("not a number"), std::string::npos);
    EXPECT_NE(usageError({"--interface", "localhost"}).find("not an IPv4"), std::string::npos);
    EXPECT_NE(usageError({"--max-object", "0"}).find("--max-object"), std::string::npos);
    EXPECT_NE(usageError({"--max-object", "65536"}).find("too large"), std::string::npos);
    EXPECT_EQ(parse({"--max-object", "65535"}).maxObjectBytes, 65535u);
    EXPECT_EQ(parse({}).maxObjectBytes, 4096u);
}

TEST(SimOptions, DevicesAreChecked) {
    EXPECT_NE(usageError({"--device", "0x400:1"}).find("BASE:SERIAL:PRODUCT"), std::string::npos);
    EXPECT_NE(usageError({"--device", "0x400:1:KX01:x"}).find("BASE:SERIAL:PRODUCT"),
              std::string::npos);
    EXPECT_NE(usageError({"--device", "0x410:1:KX01"}).find("multiple of 0x20"), std::string::npos);
    EXPECT_NE(usageError({"--device", "0x800:1:KX01"}).find("too large"), std::string::npos);
    EXPECT_NE(usageError({"--device", "0x400:4294967296:KX01"}).find("serial"), std::string::npos);
    EXPECT_NE(usageError({"--device", "0x400:1:KX1"}).find("four ASCII"), std::string::npos);
    EXPECT_NE(usageError({"--device", "0x400:1:K X1"}).find("four ASCII"), std::string::npos);
    EXPECT_NE(
        usageError({"--device", "0x400:1:KX01", "--device", "0x400:1:KX02"}).find("two devices"),
        std::string::npos);
    // Same base, other serial: two devices the program lists separately.
    EXPECT_EQ(usageError({"--device", "0x40:1:KX01", "--device", "0x40:2:KX01"}), "");
    EXPECT_NE(usageError({"--mute", "0x440"}).find("no device"), std::string::npos);
    EXPECT_EQ(usageError({"--mute", "0x400"}), "");
}

TEST(SimOptions, OnlyLoopbackUnlessTheLanIsAllowed) {
    EXPECT_NE(usageError({"--interface", "192.168.1.5"}).find("--allow-lan"), std::string::npos);
    EXPECT_NE(usageError({"--interface", "0.0.0.0"}).find("--allow-lan"), std::string::npos);
    EXPECT_EQ(usageError({"--interface", "127.1.2.3"}), "");
    // Parsing only: nothing is opened here.
    EXPECT_EQ(usageError({"--interface", "192.168.1.5", "--allow-lan"}), "");
}

}  // namespace
}  // namespace qv::sim
