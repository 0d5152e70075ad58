#include "window/app/notice.h"
#include "windowrig.h"

#include <QMainWindow>
#include <QTest>

class TestNotice : public QObject
{
    Q_OBJECT

private slots:
    void notice_data();
    void notice();
    void warningBox();
};

void TestNotice::notice_data()
{
    QTest::addColumn<int>("icon");
    QTest::newRow("warning") << int(QMessageBox::Warning);
    QTest::newRow("information") << int(QMessageBox::Information);
}

void TestNotice::notice()
{
    QFETCH(int, icon);
    ModalAnswerer answerer;
    showNotice(QStringLiteral("Firmware sent"), QMessageBox::Icon(icon));
    QCOMPARE(answerer.boxes.size(), 1);
    const ShownBox &box = answerer.boxes.first();
    QCOMPARE(box.title, QStringLiteral("Information"));
    QCOMPARE(box.text, QStringLiteral("Firmware sent"));
    QCOMPARE(int(box.icon), icon);
    QCOMPARE(box.parent, nullptr);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.font.family(), QStringLiteral("Segoe UI"));
    QCOMPARE(box.font.pointSize(), 12);
    QCOMPARE(box.font.weight(), QFont::Normal);
    QVERIFY(!box.font.italic());
    QVERIFY(box.hasWindowIcon);
}

void TestNotice::warningBox()
{
    QMainWindow window;
    window.show();
    ModalAnswerer answerer;
    showWarningBox(&window, QStringLiteral("Error opening the file."));
    QCOMPARE(answerer.boxes.size(), 1);
    const ShownBox &box = answerer.boxes.first();
    QCOMPARE(warningBoxFault(box, &window), QString());
    QCOMPARE(box.text, QStringLiteral("Error opening the file."));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

QTEST_MAIN(TestNotice)
#include "tst_notice.moc"
