#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "common/auto_reset_event.h"
#include "config/config_data_bank.h"
#include "config_test_support.h"

namespace qv {
namespace {

using test::val;

using Bytes = std::vector<std::uint8_t>;

template <typename T>
Bytes bytesOf(const T& record) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&record);
    return Bytes(p, p + sizeof(T));
}

std::uint32_t u32At(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

float f32At(const Bytes& b, std::size_t at) {
    float v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

TEST(ConfigRecords, FieldsLandAtTheirWireOffsetsLittleEndian) {
    // Given records with distinctive values in fields at unaligned offsets
    PublicConfig p{};
    p.canBaseAddress = 0x12345678;
    p.listenForBms = 0xA1B2;
    MotorConfig m{};
    m.hallAngle[1] = 0.25f;
    m.hallPrevious[7] = 0x0102;
    m.encoderReversed = 0xBEEF;
    PrivateConfig c{};
    c.serialNumber = 0xCAFEF00D;
    c.phaseATempCoeff[3] = -7.5f;
    c.controllerKiFactor = 0.125f;

    // Then the bytes sit where the file and the controller expect them
    const Bytes pb = bytesOf(p), mb = bytesOf(m), cb = bytesOf(c);
    EXPECT_EQ((Bytes{pb.begin() + 36, pb.begin() + 40}), (Bytes{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(pb[64], 0xB2);
    EXPECT_EQ(pb[65], 0xA1);
    EXPECT_EQ(f32At(mb, 74), 0.25f);
    EXPECT_EQ(mb[116], 0x02);
    EXPECT_EQ(mb[148], 0xEF);
    EXPECT_EQ(mb[149], 0xBE);
    EXPECT_EQ(u32At(cb, 2), 0xCAFEF00Du);
    EXPECT_EQ(f32At(cb, 254), -7.5f);
    EXPECT_EQ(f32At(cb, 276), 0.125f);
}

TEST(ConfigDataBank, StartsAllZeroAndResetWritesTheDefaults) {
    CConfigDataBank bank;
    EXPECT_EQ(bytesOf(bank.publicConfig), Bytes(66, 0));
    EXPECT_EQ(bytesOf(bank.motor[9]), Bytes(150, 0));

    // Given flags, a held version and garbage in the description's tail
    bank.setValid(StructureKind::Motor, true);
    bank.markModified(StructureKind::Private);
    bank.heldVersion = 201;
    bank.readOnly.firmwareBuild = 99;
    std::memset(bank.motor[4].description, 'x', kDescriptionSize);
    bank.resetToDefaults();

    EXPECT_EQ(bytesOf(bank.readOnly), Bytes(8, 0));
    EXPECT_FALSE(bank.isValid(StructureKind::Motor));
    EXPECT_TRUE(bank.isModified(StructureKind::Private));
    EXPECT_EQ(bank.heldVersion, 201);

    const PublicConfig& p = bank.publicConfig;
    EXPECT_EQ(val(p.activeMotor), 0);
    EXPECT_EQ(val(p.sineCurrentLimit), 100.0f);
    EXPECT_EQ(val(p.speedLimit), 5000.0f);
    EXPECT_EQ(val(p.tyreDiameter), 0.5f);
    EXPECT_EQ(val(p.canBaudIndex), 4u);
    EXPECT_EQ(val(p.canBaseAddress), 0x400u);
    EXPECT_EQ(val(p.driverControlsBaseAddress), 0x500u);
    EXPECT_EQ(val(p.telemetryMask), 0xFFFFFFFFu);
    EXPECT_EQ(val(p.bmsMasterCanId), 0x260u);
    EXPECT_EQ(val(p.vehicleMass), 300.0f);

    const PrivateConfig& c = bank.privateConfig;
    EXPECT_EQ(val(c.serialNumber), 0u);
    EXPECT_EQ(val(c.busCapacitance), 0.0008f);
    EXPECT_EQ(val(c.hallVoltage.gain), 1.0257272f);
    EXPECT_EQ(val(c.rail15V.gain), 2.2f);
    EXPECT_EQ(val(c.busCurrent.gain), 1.7625f);
    EXPECT_EQ(val(c.phaseATemp.gain), 0.90909094f);
    EXPECT_EQ(val(c.capacitorTempCoeff[0]), 0.07623f);
    EXPECT_EQ(val(c.capacitorTempCoeff[1]), 4200.0f);
    EXPECT_EQ(val(c.phaseBTempCoeff[0]), 0.0054026898f);
    EXPECT_EQ(val(c.phaseBTempCoeff[1]), 4096.0f);
    EXPECT_EQ(val(c.checkObserverAgainstHalls), 1);
    EXPECT_EQ(val(c.controllerKiFactor), 0.5f);

    const MotorConfig& m = bank.motor[4];
    EXPECT_EQ(val(m.polePairs), 20);
    EXPECT_EQ(val(m.lineInductance), 6.48e-5f);
    EXPECT_EQ(val(m.thermistorRinf), 0.07623f);
    EXPECT_EQ(val(m.encoderCount), 2000);
    EXPECT_EQ(val(m.minId), 3.0f);
    const float angles[8] = {1.0f, 1.0f / 6, 0.5f, 1.0f / 3, 5.0f / 6, 0.0f, 2.0f / 3, 1.0f};
    const std::uint16_t previous[8] = {0, 5, 3, 1, 6, 4, 2, 7};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(val(m.hallAngle[i]), angles[i]) << i;
        EXPECT_EQ(val(m.hallPrevious[i]), previous[i]) << i;
    }
    // The description takes 14 bytes; the other 6 keep what they held.
    EXPECT_EQ(std::memcmp(m.description, "DOZAZ surface\0xxxxxx", kDescriptionSize), 0);
    // Every default record is intact.
    EXPECT_TRUE(checksumMatches(bank.recordBytes(StructureKind::Public)));
    EXPECT_TRUE(checksumMatches(bank.recordBytes(StructureKind::Motor, 4)));
}

TEST(ConfigChecksum, PlainWrappingSumOfBytesAfterTheChecksum) {
    // All zero after the checksum sums to 0: no seed, no inversion.
    const Bytes zeros(150, 0);
    EXPECT_EQ(computeChecksum(zeros), 0);
    EXPECT_TRUE(checksumMatches(zeros));
    // The checksum field itself is not summed, and the sum wraps modulo 65536.
    Bytes ff(280, 0xFF);
    EXPECT_EQ(computeChecksum(ff), (278 * 255) % 65536);
    // Extra bytes add to the sum.
    const Bytes extra{1, 2, 3};
    EXPECT_EQ(computeChecksum(zeros, extra), 6);
    // A record too short to hold its checksum is never intact.
    EXPECT_FALSE(checksumMatches(Bytes{0}));
    EXPECT_FALSE(checksumMatches(Bytes{}));
}

TEST(ConfigDataBank, ShorterDownloadedRecordsKeepTheirTail) {
    CConfigDataBank bank;
    bank.resetToDefaults();
    const Bytes defaults = bytesOf(bank.motor[7]);
    const Bytes stream(10 * 140, 0x11);

    ASSERT_TRUE(bank.placeRecords(StructureKind::Motor, stream, 140));

    EXPECT_EQ(bank.extraLength(StructureKind::Motor), 0);
    for (std::size_t i = 0; i < kMotorCount; ++i) {
        const Bytes b = bytesOf(bank.motor[i]);
        EXPECT_EQ(Bytes(b.begin(), b.begin() + 140), Bytes(140, 0x11));
        EXPECT_EQ(Bytes(b.begin() + 140, b.end()), Bytes(defaults.begin() + 140, defaults.end()));
        EXPECT_TRUE(bank.extraBlock(StructureKind::Motor, i).empty());
    }
}

TEST(ConfigDataBank, LongerDownloadedRecordsKeepTheSurplusForUpload) {
    CConfigDataBank bank;
    bank.resetToDefaults();
    Bytes stream;
    for (std::size_t i = 0; i < kMotorCount; ++i)
        for (std::size_t j = 0; j < 160; ++j)
            stream.push_back(static_cast<std::uint8_t>(i + (j >= 150 ? j : 0)));

    ASSERT_TRUE(bank.placeRecords(StructureKind::Motor, stream, 160));

    EXPECT_EQ(bank.extraLength(StructureKind::Motor), 10);
    EXPECT_EQ(bank.extraLength(StructureKind::Public), 0);
    for (std::size_t i = 0; i < kMotorCount; ++i) {
        const auto extra = bank.extraBlock(StructureKind::Motor, i);
        ASSERT_EQ(extra.size(), 10u);
        EXPECT_EQ(extra[0], static_cast<std::uint8_t>(i + 150));
        EXPECT_EQ(bytesOf(bank.motor[i]), Bytes(150, static_cast<std::uint8_t>(i)));
    }
    // The upload checksum covers the extra bytes; a file's does not.
    bank.refreshChecksums(true);
    const std::uint16_t known = computeChecksum(bank.recordBytes(StructureKind::Motor, 3));
    EXPECT_EQ(val(bank.motor[3].checksum), static_cast<std::uint16_t>(known + 10 * 3 + 1545));
    bank.refreshChecksums(false);
    EXPECT_EQ(val(bank.motor[3].checksum), known);

    // A later download of the known size drops the extra blocks.
    ASSERT_TRUE(bank.placeRecords(StructureKind::Motor, Bytes(1500, 0), 150));
    EXPECT_EQ(bank.extraLength(StructureKind::Motor), 0);
    EXPECT_TRUE(bank.extraBlock(StructureKind::Motor, 9).empty());
    // Too few bytes for the records changes nothing.
    EXPECT_FALSE(bank.placeRecords(StructureKind::Public, Bytes(65, 1), 66));
    EXPECT_FALSE(bank.placeRecords(StructureKind::Motor, Bytes(1499, 1), 150));
    EXPECT_EQ(bytesOf(bank.motor[9]), Bytes(150, 0));
    bank.clearExtraBlocks();
    EXPECT_EQ(bank.extraLength(StructureKind::Motor), 0);
}

TEST(ConfigDataBank, VersionsAndDeviceChange) {
    CConfigDataBank bank;
    EXPECT_EQ(bank.streamVersion(), 200);
    bank.noteVersion(201);
    bank.noteVersion(199);
    EXPECT_EQ(bank.heldVersion, 201);
    EXPECT_EQ(bank.streamVersion(), 201);
    EXPECT_EQ(formatVersion(199), "1.99");
    EXPECT_TRUE(isOlderVersion(199));
    EXPECT_FALSE(isNewerVersion(200));

    bank.resetToDefaults();
    EXPECT_EQ(bank.heldVersion, 201);
    for (auto k : {StructureKind::Public, StructureKind::Private, StructureKind::Motor}) {
        bank.setValid(k, true);
        bank.markModified(k);
    }
    bank.privateConfig.serialNumber = 42;
    bank.deviceChanged();
    EXPECT_EQ(bank.heldVersion, 0);
    for (auto k : {StructureKind::Public, StructureKind::Private, StructureKind::Motor}) {
        EXPECT_FALSE(bank.isValid(k));
        EXPECT_FALSE(bank.isModified(k));
    }
    EXPECT_EQ(val(bank.privateConfig.serialNumber), 42u);
}

TEST(MotorDescription, NeverReadsPastItsField) {
    MotorConfig m{};
    // No terminator anywhere in the 20 bytes (as a file or a controller may send it).
    std::memset(m.description, 'A', kDescriptionSize);
    m.hallAngle[0] = 1.0f;  // the bytes after the field are not text
    EXPECT_EQ(descriptionText(m), std::string(19, 'A'));

    // Writing keeps at most 19 characters and leaves the bytes after the terminator alone.
    setDescription(m, "a much longer description than fits");
    EXPECT_EQ(descriptionText(m), "a much longer descr");
    EXPECT_EQ(val(m.description[19]), '\0');
    std::memset(m.description, 'Z', kDescriptionSize);
    setDescription(m, "short");
    EXPECT_EQ(descriptionText(m), "short");
    EXPECT_EQ(val(m.description[6]), 'Z');
}

TEST(AutoResetEvent, OneSetReleasesExactlyOneWait) {
    AutoResetEvent event;
    EXPECT_FALSE(event.tryWait());
    event.set();
    event.set();
    EXPECT_TRUE(event.tryWait());
    EXPECT_FALSE(event.tryWait());
    EXPECT_FALSE(event.waitFor(std::chrono::milliseconds(1)));
    event.set();
    event.reset();
    EXPECT_FALSE(event.tryWait());

    std::thread setter([&] { event.set(); });
    EXPECT_TRUE(event.waitFor(std::chrono::seconds(10)));
    setter.join();
    EXPECT_FALSE(event.tryWait());
}

}  // namespace
}  // namespace qv
