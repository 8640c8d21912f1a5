// Read-back verification of uploads against the simulator: what a controller stores is read
// again once it is back from its restart, and a controller that stores something else than it
// was sent is caught with the fields named.
#include <gtest/gtest.h>

#include "config/config_verify.h"
#include "config/transfer_messages.h"
#include "config_transfer_rig.h"

namespace qv {
namespace {

using test::TransferRig;

TEST(UploadVerification, ReadsBackWhatWasWrittenOnceTheControllerIsBack) {
    TransferRig rig;
    ASSERT_TRUE(rig.download());
    rig.store.publicConfig.speedLimit = 6000.0f;
    rig.store.markModified(StructureKind::Public);
    rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    rig.progress.clearHistory();
    TransferContext c = rig.context();
    UploadOutcome outcome;
    ASSERT_TRUE(uploadAndVerify(c, true, &outcome)) << rig.ui.texts().back();
    ASSERT_TRUE(outcome.verification);
    EXPECT_EQ(outcome.verification->status, VerifyStatus::Verified);
    EXPECT_TRUE(outcome.written.has(StructureKind::Public));
    EXPECT_FALSE(outcome.written.has(StructureKind::Private));
    EXPECT_FALSE(outcome.written.has(StructureKind::Motor));
    EXPECT_EQ(outcome.verification->readBack[0], outcome.written.streams[0]);
    EXPECT_TRUE(outcome.verification->readBack[2].empty());
    const auto captions = rig.progress.captionHistory();
    ASSERT_GE(captions.size(), 2u);
    EXPECT_EQ(captions[captions.size() - 2], caption::kVerifyWait);
    EXPECT_EQ(captions.back(), caption::kVerifyPublic);
    EXPECT_FALSE(rig.progress.state().visible);
    EXPECT_EQ(rig.ui.shown().size(), 1u);  // the question only
    EXPECT_FALSE(rig.store.isModified(StructureKind::Public));
}

TEST(UploadVerification, NamesTheFieldsOfAControllerThatStoresSomethingElse) {
    TransferRig rig("flip-byte");
    ASSERT_TRUE(rig.download());
    rig.store.publicConfig.speedLimit = 6000.0f;
    rig.store.markModified(StructureKind::Public);
    rig.store.markModified(StructureKind::Motor);
    rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    TransferContext c = rig.context();
    UploadOutcome outcome;
    EXPECT_FALSE(uploadAndVerify(c, true, &outcome));
    EXPECT_TRUE(outcome.uploaded);
    ASSERT_TRUE(outcome.verification);
    ASSERT_EQ(outcome.verification->status, VerifyStatus::Differs);
    std::vector<std::string> named;
    for (const FieldDifference& d : outcome.verification->differences)
        named.push_back(d.record + " " + d.field);
    EXPECT_EQ(named, (std::vector<std::string>{"public speedLimit", "motor[0] lineInductance"}));
    EXPECT_EQ(outcome.verification->differences[0].a, "6000");
    const MessageBoxRequest shown = rig.ui.shown().back();
    EXPECT_EQ(shown.caption, "Upload verification");
    EXPECT_EQ(shown.icon, MessageIcon::Error);
    EXPECT_EQ(shown.text.substr(0, shown.text.find('\r')),
              "Read-back verification failed: the controller holds other values than were "
              "written in public speedLimit, motor[0] lineInductance.");
    EXPECT_NE(shown.text.find("\r\npublic speedLimit 6000 6000.00049\r\n"), std::string::npos)
        << shown.text;
    // The store still holds what the user wanted on the controller: not written yet.
    EXPECT_TRUE(rig.store.isModified(StructureKind::Public));
    EXPECT_TRUE(rig.store.isModified(StructureKind::Motor));
    EXPECT_FALSE(rig.store.isModified(StructureKind::Private));
}

}  // namespace
}  // namespace qv
