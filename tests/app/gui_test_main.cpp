// The desktop program's tests run on the offscreen platform with a real
// QApplication, in the user's locale. QTest's QTRY_ and QCOMPARE macros do
// not report to GoogleTest (a failure only returns from the test): wait with
// ASSERT_TRUE(QTest::qWaitFor(...)) instead.
#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  std::setlocale(LC_ALL, "");
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
