// Configuration streams and the recovery image: what a received stream must show before the
// store takes it, where its records land, and what an upload stream carries.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "config/config_stream.h"
#include "support/store_records.h"

namespace qv {
namespace {

using test::recordsOf;

void sealRecords(std::vector<std::uint8_t>& records, std::size_t size) {
    for (std::size_t at = 0; at + size <= records.size(); at += size) {
        const std::uint16_t sum = computeChecksum(std::span(records).subspan(at, size));
        records[at] = static_cast<std::uint8_t>(sum);
        records[at + 1] = static_cast<std::uint8_t>(sum >> 8);
    }
}

// Ten motor records of `size` bytes, every byte distinct from its neighbours.
std::vector<std::uint8_t> motorRecords(std::size_t size) {
    std::vector<std::uint8_t> r(kMotorCount * size);
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::uint8_t>(i * 7 + 3);
    sealRecords(r, size);
    return r;
}

struct Stream : ::testing::Test {
    Stream() { store.resetToDefaults(); }
    StreamParseResult take(StructureKind kind, std::span<const std::uint8_t> bytes,
                           std::uint16_t reported, bool recovery = false) {
        return takeConfigStream(store, kind, reported, bytes, recovery, [this] { ++fallbacks; });
    }
    CConfigDataBank store;
    int fallbacks = 0;
};

TEST_F(Stream, ShorterRecordsKeepTheTailOfEverySlotAndNewerOnesGoToExtraBlocks) {
    const auto shorter = motorRecords(140);
    const auto s140 = encodeConfigStream(199, 140, shorter);
    ASSERT_EQ(take(StructureKind::Motor, s140, static_cast<std::uint16_t>(s140.size())),
              StreamParseResult::Ok);
    CConfigDataBank defaults;
    defaults.resetToDefaults();
    for (std::size_t i = 0; i < kMotorCount; ++i) {
        const auto slot = store.recordBytes(StructureKind::Motor, i);
        EXPECT_TRUE(std::equal(slot.begin(), slot.begin() + 140, shorter.begin() + i * 140));
        EXPECT_TRUE(std::equal(slot.begin() + 140, slot.end(),
                               defaults.recordBytes(StructureKind::Motor, i).begin() + 140));
    }
    EXPECT_EQ(store.extraLength(StructureKind::Motor), 0);
    EXPECT_EQ(store.heldVersion, 199);

    const auto longer = motorRecords(160);
    const auto s160 = encodeConfigStream(201, 160, longer);
    ASSERT_EQ(take(StructureKind::Motor, s160, static_cast<std::uint16_t>(s160.size())),
              StreamParseResult::Ok);
    EXPECT_EQ(store.extraLength(StructureKind::Motor), 10);
    EXPECT_EQ(store.heldVersion, 201);
    for (std::size_t i = 0; i < kMotorCount; ++i) {
        const auto extra = store.extraBlock(StructureKind::Motor, i);
        ASSERT_EQ(extra.size(), 10u);
        EXPECT_TRUE(std::equal(extra.begin(), extra.end(), longer.begin() + i * 160 + 150));
    }

    // The upload stream puts each record's extra bytes right after it, checksums included.
    store.refreshChecksums(true);
    EXPECT_EQ(buildUploadStream(store, StructureKind::Motor), s160);
}

TEST_F(Stream, ChecksOnlyWhatReallyArrived) {
    CConfigDataBank source;
    source.resetToDefaults();
    const auto full = encodeConfigStream(200, 150, recordsOf(source, StructureKind::Motor));
    const auto reported = static_cast<std::uint16_t>(full.size());
    // Cut short in the middle of the records: the bytes after the cut are zero in the buffer,
    // and a record of zeros would pass its checksum.
    std::vector<std::uint8_t> buffer(full.begin(), full.begin() + 500);
    store.motor[0].polePairs = 77;
    EXPECT_EQ(take(StructureKind::Motor, buffer, reported), StreamParseResult::SizeMismatch);
    EXPECT_EQ(take(StructureKind::Motor, std::span(buffer).first(40), reported),
              StreamParseResult::SizeMismatch);
    EXPECT_EQ(+store.motor[0].polePairs, 77);
    // More arrived than announced: only the announced length counts.
    EXPECT_EQ(take(StructureKind::Motor, full, reported - 1), StreamParseResult::SizeMismatch);
    EXPECT_EQ(take(StructureKind::Motor, full, reported), StreamParseResult::Ok);
}

TEST_F(Stream, RefusesHeadersSizesAndChecksumsThatDoNotHold) {
    CConfigDataBank source;
    source.resetToDefaults();
    auto good = encodeConfigStream(200, 66, recordsOf(source, StructureKind::Public));
    const auto n = static_cast<std::uint16_t>(good.size());
    auto broken = good;
    broken[3] = 'X';
    EXPECT_EQ(take(StructureKind::Public, broken, n), StreamParseResult::NoValidHeader);
    EXPECT_EQ(take(StructureKind::Public, std::span(good).first(20), n),
              StreamParseResult::NoValidHeader);
    broken = good;
    broken[28] = 0;  // record size 0: nothing to check, nothing to place
    broken[29] = 0;
    EXPECT_EQ(take(StructureKind::Public, broken, n), StreamParseResult::SizeMismatch);
    broken = good;
    broken[40] ^= 0x10;
    EXPECT_EQ(take(StructureKind::Public, broken, n), StreamParseResult::ChecksumMismatch);
    // Outside recovery a bad private record is just a bad record.
    auto priv = encodeConfigStream(200, 280, recordsOf(source, StructureKind::Private));
    priv[100] ^= 1;
    EXPECT_EQ(take(StructureKind::Private, priv, static_cast<std::uint16_t>(priv.size()), true),
              StreamParseResult::ChecksumMismatch);
    EXPECT_EQ(fallbacks, 0);
}

TEST_F(Stream, RecoveryImageReplacesAllThreeStructures) {
    CConfigDataBank source;
    source.resetToDefaults();
    source.publicConfig.speedLimit = 1234.0f;
    source.privateConfig.serialNumber = 424242;
    source.motor[9].polePairs = 9;
    source.refreshChecksums(false);
    const auto image = encodeRecoveryImage(200, source.recordBytes(StructureKind::Public),
                                           source.recordBytes(StructureKind::Private),
                                           recordsOf(source, StructureKind::Motor), 150);
    const auto n = static_cast<std::uint16_t>(image.size());
    store.markModified(StructureKind::Private);
    EXPECT_EQ(take(StructureKind::Public, image, n, false), StreamParseResult::ChecksumMismatch);
    EXPECT_EQ(take(StructureKind::Public, std::span(image).first(image.size() - 1), n, true),
              StreamParseResult::SizeMismatch);
    EXPECT_FALSE(store.isValid(StructureKind::Public));
    auto broken = image;
    broken[image.size() - 1] ^= 1;
    EXPECT_EQ(take(StructureKind::Public, broken, n, true), StreamParseResult::ChecksumMismatch);
    auto oversized = image;
    oversized[30] = 0x19;  // private size 281
    oversized[31] = 0x01;
    EXPECT_EQ(take(StructureKind::Public, oversized, n, true), StreamParseResult::SizeMismatch);
    EXPECT_EQ(+store.privateConfig.serialNumber, 0u);

    ASSERT_EQ(take(StructureKind::Public, image, n, true), StreamParseResult::RecoveryImageTaken);
    EXPECT_EQ(recordsOf(store, StructureKind::Public), recordsOf(source, StructureKind::Public));
    EXPECT_EQ(recordsOf(store, StructureKind::Private), recordsOf(source, StructureKind::Private));
    EXPECT_EQ(recordsOf(store, StructureKind::Motor), recordsOf(source, StructureKind::Motor));
    for (StructureKind k : {StructureKind::Public, StructureKind::Private, StructureKind::Motor}) {
        EXPECT_TRUE(store.isValid(k));
        EXPECT_FALSE(store.isModified(k));
    }
    EXPECT_EQ(fallbacks, 1);
}

TEST(StreamUpload, CarriesTheHigherOfHeldVersionAnd200) {
    CConfigDataBank store;
    store.resetToDefaults();
    store.heldVersion = 199;
    store.refreshChecksums(true);
    const auto s = buildUploadStream(store, StructureKind::Private);
    ASSERT_EQ(s.size(), 310u);
    EXPECT_EQ(readU16(s, 26), 200);
    EXPECT_EQ(readU16(s, 28), 280);
    StreamView view;
    ASSERT_EQ(decodeConfigStream(s, 1, &view), StreamParseResult::Ok);
    EXPECT_EQ(std::vector<std::uint8_t>(view.records.begin(), view.records.end()),
              recordsOf(store, StructureKind::Private));
}

}  // namespace
}  // namespace qv
