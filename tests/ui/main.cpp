// The window tests run on Qt's offscreen platform with one QApplication for all of them.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Programs the tests start under X leak inside the D-Bus library, which is not ours; under
    // LeakSanitizer they inherit its suppressions from here.
    if (!std::getenv("LSAN_OPTIONS"))
        setenv("LSAN_OPTIONS", "suppressions=" QV_LSAN_SUPPRESSIONS, 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
