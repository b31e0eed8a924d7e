#include <QGuiApplication>
#include <gtest/gtest.h>

// The statement paints text, which needs the toolkit's font database.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
