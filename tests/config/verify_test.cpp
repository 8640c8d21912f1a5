// Comparing a stream read back after an upload with the stream sent: every difference is named
// as qvcli diff names it, the stream's own header fields and extra bytes included.
#include <gtest/gtest.h>

#include "config/config_verify.h"

namespace qv {
namespace {

std::vector<std::string> names(const std::vector<FieldDifference>& differences) {
    std::vector<std::string> out;
    for (const FieldDifference& d : differences) out.push_back(d.record + " " + d.field);
    return out;
}

TEST(ReadBackComparison, NamesEveryFieldThatDiffers) {
    CConfigDataBank store;
    store.resetToDefaults();
    store.refreshChecksums(true);
    const auto sent = buildUploadStream(store, StructureKind::Motor);
    EXPECT_TRUE(compareWrittenStream(StructureKind::Motor, sent, sent).empty());

    // Motor record 3 comes back with another Min Id (its checksum agreeing) and record 7 with a
    // byte after its description's terminator changed: only the checksum can tell that one.
    CConfigDataBank other;
    other.resetToDefaults();
    other.motor[3].minId = 4.0f;
    other.motor[7].description[18] = 'x';
    other.refreshChecksums(true);
    auto back = buildUploadStream(other, StructureKind::Motor);
    auto differences = compareWrittenStream(StructureKind::Motor, sent, back);
    EXPECT_EQ(names(differences), std::vector<std::string>{"motor[3] minId"});
    EXPECT_EQ(differences[0].a, "3");
    EXPECT_EQ(differences[0].b, "4");
    other.motor[3].minId = 3.0f;
    other.refreshChecksums(true);
    back = buildUploadStream(other, StructureKind::Motor);
    EXPECT_EQ(names(compareWrittenStream(StructureKind::Motor, sent, back)),
              std::vector<std::string>{"motor[7] checksum"});

    // Another version, and a stream cut short so that it no longer decodes.
    auto older = sent;
    older[26] = 199;
    EXPECT_EQ(names(compareWrittenStream(StructureKind::Motor, sent, older)),
              std::vector<std::string>{"motor version"});
    const std::vector<std::uint8_t> cut(sent.begin(), sent.begin() + 100);
    EXPECT_EQ(names(compareWrittenStream(StructureKind::Motor, sent, cut)),
              std::vector<std::string>{"motor stream"});
}

TEST(ReadBackComparison, FailureTextSaysItAllOnItsFirstLine) {
    VerifyResult r;
    r.status = VerifyStatus::Differs;
    for (int i = 0; i < 5; ++i)
        r.differences.push_back({"public", "f" + std::to_string(i), "1", "2"});
    const auto box = verificationFailure(r);
    EXPECT_EQ(box.text.substr(0, box.text.find('\r')),
              "Read-back verification failed: the controller holds other values than were "
              "written in public f0, public f1, public f2, public f3, ....");
    EXPECT_NE(box.text.find("\r\npublic f4 1 2\r\n"), std::string::npos);
    r.status = VerifyStatus::ReadFailed;
    EXPECT_EQ(verificationFailure(r, "Stream transfer failure").text,
              "Read-back verification failed: Stream transfer failure.");
}

}  // namespace
}  // namespace qv
