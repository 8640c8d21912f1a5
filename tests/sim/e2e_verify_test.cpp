// Read-back verification of uploads against the simulator: a controller that stores something
// else than it was sent is caught once it is back from its restart, with the fields named.
// (The uploads of the windows and of qvcli in the other end-to-end tests are verified too.)
#include <gtest/gtest.h>

#include "config/config_verify.h"
#include "config_transfer_rig.h"

namespace qv {
namespace {

using test::TransferRig;

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
