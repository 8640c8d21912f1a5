#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <span>
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

// One row per field after the checksum: its offset, its type (u16, u32 or f32) and its
// default, one value per element (a channel is gain then offset).
struct DefaultRow {
    const char* name;
    std::size_t offset;
    char type;  // 'H' u16, 'W' u32, 'F' f32, 'T' the motor description
    std::vector<double> values;
};

const std::vector<DefaultRow> kPublicDefaults = {
    {"activeMotor", 2, 'H', {0}},
    {"sineCurrentLimit", 4, 'F', {100.0}},
    {"speedLimit", 8, 'F', {5000.0}},
    {"busCurrentLimit", 12, 'F', {100.0}},
    {"phaseCTempLimit", 16, 'F', {90.0}},
    {"maxBusVoltage", 20, 'F', {160.0}},
    {"minBusVoltage", 24, 'F', {10.0}},
    {"tyreDiameter", 28, 'F', {0.5}},
    {"canBaudIndex", 32, 'W', {4}},
    {"canBaseAddress", 36, 'W', {0x400}},
    {"driverControlsBaseAddress", 40, 'W', {0x500}},
    {"vehicleMass", 44, 'F', {300.0}},
    {"sensorlessAccelRate", 48, 'F', {0.0}},
    {"telemetryMask", 52, 'W', {0xFFFFFFFF}},
    {"sixStepCurrentLimit", 56, 'F', {100.0}},
    {"bmsMasterCanId", 60, 'W', {0x260}},
    {"listenForBms", 64, 'H', {0}},
};

const std::vector<DefaultRow> kPrivateDefaults = {
    {"serialNumber", 2, 'W', {0}},
    {"baseVoltage", 6, 'F', {1000.0}},
    {"baseCurrent", 10, 'F', {600.0}},
    {"baseFrequency", 14, 'F', {500.0}},
    {"busCapacitance", 18, 'F', {0.0008}},
    {"busOverVoltage", 22, 'F', {600.0}},
    {"hallVoltage", 26, 'F', {1.0257272, 0}},
    {"rail15V", 34, 'F', {2.2, 0}},
    {"rail1V9", 42, 'F', {0.2, 0}},
    {"rail3V3", 50, 'F', {0.4, 0}},
    {"busVoltage", 58, 'F', {1.0257272, 0}},
    {"phaseCVoltage", 66, 'F', {1.0257272, 0}},
    {"phaseBVoltage", 74, 'F', {1.0257272, 0}},
    {"phaseAVoltage", 82, 'F', {1.0257272, 0}},
    {"arcpRail", 90, 'F', {3.0, 0}},
    {"busCurrent", 98, 'F', {1.7625, 0}},
    {"phaseCCurrent", 106, 'F', {1.7625, 0}},
    {"phaseBCurrent", 114, 'F', {1.7625, 0}},
    {"phaseACurrent", 122, 'F', {1.7625, 0}},
    {"overCurrentSetPoint", 130, 'F', {1.0, 0}},
    {"dspTemp", 138, 'F', {0.90909094, 0}},
    {"phaseCTemp", 146, 'F', {0.90909094, 0}},
    {"capacitorTemp", 154, 'F', {0.90909094, 0}},
    {"phaseBTemp", 162, 'F', {0.90909094, 0}},
    {"phaseATemp", 170, 'F', {0.90909094, 0}},
    {"dspTempCoeff", 178, 'F', {0.07623, 4200, 0, 0}},
    {"phaseCTempCoeff", 194, 'F', {0.0054026898, 4096, 0, 0}},
    {"capacitorTempCoeff", 210, 'F', {0.07623, 4200, 0, 0}},
    {"phaseBTempCoeff", 226, 'F', {0.0054026898, 4096, 0, 0}},
    {"phaseATempCoeff", 242, 'F', {0.0054026898, 4096, 0, 0}},
    {"swOverCurrent", 258, 'F', {500.0}},
    {"checkObserverAgainstHalls", 262, 'H', {1}},
    {"engageMotorSpeed", 264, 'F', {2.5}},
    {"disengageMotorSpeed", 268, 'F', {1.75}},
    {"controllerKpFactor", 272, 'F', {2.0}},
    {"controllerKiFactor", 276, 'F', {0.5}},
};

const std::vector<DefaultRow> kMotorDefaults = {
    {"polePairs", 2, 'H', {20}},
    {"lineResistance", 4, 'F', {0.0692}},
    {"lineInductance", 8, 'F', {6.48e-5}},
    {"speedConstant", 12, 'F', {0.39}},
    {"phaseSequenceReversed", 16, 'H', {0}},
    {"cutoutTemp", 18, 'F', {90.0}},
    {"rampTemp", 22, 'F', {70.0}},
    {"tempScale", 26, 'F', {1.0}},
    {"tempOffset", 30, 'F', {0.0}},
    {"thermistorRinf", 34, 'F', {0.07623}},
    {"thermistorBeta", 38, 'F', {4200.0}},
    {"tempCoeffC", 42, 'F', {0.0}},
    {"tempCoeffD", 46, 'F', {0.0}},
    {"description", 50, 'T', {}},
    {"hallAngle", 70, 'F', {1.0, 1.0 / 6, 0.5, 1.0 / 3, 5.0 / 6, 0.0, 2.0 / 3, 1.0}},
    {"hallPrevious", 102, 'H', {0, 5, 3, 1, 6, 4, 2, 7}},
    {"ignoreHallsSensorless", 118, 'H', {0}},
    {"engageFreq", 120, 'F', {2.5}},
    {"disengageFreq", 124, 'F', {1.75}},
    {"motorType", 128, 'H', {0}},
    {"rotorResistance", 130, 'F', {0.0}},
    {"rotorInductance", 134, 'F', {0.0}},
    {"minId", 138, 'F', {3.0}},
    {"maxId", 142, 'F', {20.0}},
    {"encoderCount", 146, 'H', {2000}},
    {"encoderReversed", 148, 'H', {0}},
};

// Checks every row against the record's bytes, and that the rows cover the record from the
// checksum to its end without a gap.
void expectDefaults(std::span<const std::uint8_t> record, const std::vector<DefaultRow>& rows) {
    const Bytes b(record.begin(), record.end());
    std::size_t next = 2;
    for (const DefaultRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.offset, next);
        if (row.type == 'T') {
            // "DOZAZ surface" and its terminator; the other 6 bytes keep what they held.
            EXPECT_EQ(std::memcmp(b.data() + row.offset, "DOZAZ surface", 14), 0);
            next = row.offset + kDescriptionSize;
            continue;
        }
        const std::size_t width = row.type == 'H' ? 2 : 4;
        for (std::size_t i = 0; i < row.values.size(); ++i) {
            const std::size_t at = row.offset + i * width;
            if (row.type == 'F')
                EXPECT_EQ(f32At(b, at), static_cast<float>(row.values[i])) << i;
            else if (row.type == 'W')
                EXPECT_EQ(u32At(b, at), static_cast<std::uint32_t>(row.values[i])) << i;
            else
                EXPECT_EQ(b[at] | (b[at + 1] << 8), static_cast<int>(row.values[i])) << i;
        }
        next = row.offset + width * row.values.size();
    }
    EXPECT_EQ(next, record.size());
    EXPECT_TRUE(checksumMatches(record));
}

TEST(ConfigDataBank, StartsAllZeroAndResetWritesEveryDefault) {
    CConfigDataBank bank;
    EXPECT_EQ(bytesOf(bank.publicConfig), Bytes(66, 0));
    EXPECT_EQ(bytesOf(bank.privateConfig), Bytes(280, 0));
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

    {
        SCOPED_TRACE("public");
        expectDefaults(bank.recordBytes(StructureKind::Public), kPublicDefaults);
    }
    {
        SCOPED_TRACE("private");
        expectDefaults(bank.recordBytes(StructureKind::Private), kPrivateDefaults);
    }
    for (std::size_t i = 0; i < kMotorCount; ++i) {
        SCOPED_TRACE(testing::Message() << "motor " << i);
        expectDefaults(bank.recordBytes(StructureKind::Motor, i), kMotorDefaults);
    }
    EXPECT_EQ(std::memcmp(bank.motor[4].description + 14, "xxxxxx", 6), 0);
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
