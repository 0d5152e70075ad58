#include "ui_bootloader_detector.h"
#include "ui_flashloader.h"
#include "windowrig.h"

#include <QDialog>
#include <QLayout>
#include <QMainWindow>
#include <QMetaObject>
#include <QStatusBar>
#include <QTest>

namespace {

const QString buttonStyle = QStringLiteral(
    "QPushButton{\nbackground-color: rgb(189,189,189);\nborder: 2.5px solid rgb(77, 156, 238);\n"
    "color: rgb(0, 0, 0);\n}\n\nQPushButton:hover { \nbackground-color: rgb(77, 156, 238); \n"
    "border: 2.5px solid rgb(189,189,189);\ncolor: rgb(0, 0, 0);\n}\n\nQPushButton:pressed { \n"
    "background-color: rgb(189,189,189);\nborder: 2.5px solid rgb(77, 156, 238);\n"
    "color: rgb(0, 0, 0);\n}\n");

template <typename T> T *child(QObject *root, const char *name)
{
    return root->findChild<T *>(QString::fromLatin1(name));
}

} // namespace

class TestForms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { quietPlatformNotes(); }
    void mainTree_data();
    void mainTree();
    void mainStyleSheets();
    void mainWindowAfterSetup();
    void existingNameIsKept();
    void logoLabel();
    void leftColumnCapped();
    void buttonSizesAndPlacement();
    void texts();
    void detectorForm();
};

void TestForms::mainTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QString>("layoutName"); // the layout that holds it, or installed on
    QTest::addColumn<int>("position");

    auto row = [](const char *name, const char *cls, const char *parent, const char *layout,
                  int position) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(cls)
                            << QString::fromLatin1(parent) << QString::fromLatin1(layout)
                            << position;
    };
    row("centralwidget", "QWidget", "FlashLoader", "", -1);
    row("frame", "QFrame", "centralwidget", "horizontalLayout", 0);
    row("frame_4", "QFrame", "frame", "verticalLayout_4", 0);
    row("label", "QLabel", "frame_4", "verticalLayout_2", 0);
    row("label_connection_method_selection", "QLabel", "frame_4", "verticalLayout_2", 1);
    row("comboBox_select_device", "QComboBox", "frame_4", "verticalLayout_2", 2);
    row("pushButton_Rescan", "QPushButton", "frame_4", "verticalLayout_2", 3);
    row("frame_8", "QFrame", "frame", "verticalLayout_4", 1);
    row("pushButton_Detect", "QPushButton", "frame_8", "horizontalLayout_3", 0);
    row("frame_2", "QFrame", "centralwidget", "horizontalLayout", 1);
    row("frame_3", "QFrame", "frame_2", "verticalLayout_6", 0);
    row("label_2", "QLabel", "frame_3", "verticalLayout", 0);
    row("lineEdit_Selected_file", "QLineEdit", "frame_3", "verticalLayout", 1);
    row("pushButton_Browse", "QPushButton", "frame_3", "verticalLayout", 2);
    row("frame_7", "QFrame", "frame_2", "verticalLayout_6", 1);
    row("progressBar", "QProgressBar", "frame_7", "verticalLayout_5", 0);
    row("pushButton_Flash", "QPushButton", "frame_7", "verticalLayout_5", 1);
}

void TestForms::mainTree()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QString, layoutName);
    QFETCH(int, position);

    QMainWindow window;
    Ui_FlashLoader ui;
    ui.setupUi(&window);

    auto *widget = window.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    if (position < 0) {
        QCOMPARE(window.centralWidget(), widget);
        return;
    }
    QLayout *layout = widget->parentWidget()->layout();
    QVERIFY(layout);
    QCOMPARE(layout->objectName(), layoutName);
    QCOMPARE(layout->indexOf(widget), position);
    auto *box = qobject_cast<QBoxLayout *>(layout);
    QVERIFY(box);
    QCOMPARE(box->stretch(position), 0);
}

void TestForms::mainStyleSheets()
{
    // Normal, hover and pressed rules, and the main form's final newline.
    for (const char *rule : {"QPushButton{", "QPushButton:hover", "QPushButton:pressed"})
        QVERIFY2(buttonStyle.contains(QLatin1String(rule)), rule);
    QVERIFY(buttonStyle.endsWith(QLatin1Char('\n')));
    QCOMPARE(buttonStyle.count(QLatin1Char('\n')), 17);

    QMainWindow window;
    Ui_FlashLoader ui;
    ui.setupUi(&window);
    QCOMPARE(window.styleSheet(), QStringLiteral("background-color: rgb(210, 210, 210);"));
    for (QPushButton *button :
         {ui.pushButton_Rescan, ui.pushButton_Detect, ui.pushButton_Browse, ui.pushButton_Flash})
        QCOMPARE(button->styleSheet(), buttonStyle);
    const QString black = QStringLiteral("color: rgb(0, 0, 0);");
    const QString field = QStringLiteral("background-color: rgb(189,189,189);");
    QCOMPARE(ui.label_connection_method_selection->styleSheet(), black);
    QCOMPARE(ui.label_2->styleSheet(), black);
    QCOMPARE(ui.comboBox_select_device->styleSheet(), field);
    QCOMPARE(ui.lineEdit_Selected_file->styleSheet(), field);
    QCOMPARE(ui.progressBar->styleSheet(), black + QLatin1Char('\n') + field);
    QVERIFY(ui.label->styleSheet().isEmpty());
}

void TestForms::mainWindowAfterSetup()
{
    QMainWindow window;
    Ui_FlashLoader ui;
    ui.setupUi(&window);
    QCOMPARE(window.objectName(), QStringLiteral("FlashLoader"));
    QCOMPARE(window.size(), QSize(558, 279));
    QCOMPARE(window.windowTitle(), QStringLiteral("FlashLoader"));
    QVERIFY(!window.menuWidget());
    QVERIFY(!window.findChild<QStatusBar *>());
    QCOMPARE(ui.progressBar->value(), 0);
    QCOMPARE(ui.progressBar->minimum(), 0);
    QCOMPARE(ui.progressBar->maximum(), 100);
    QCOMPARE(ui.comboBox_select_device->count(), 0);
    QVERIFY(ui.lineEdit_Selected_file->text().isEmpty());
    QCOMPARE(ui.label_connection_method_selection->alignment(), Qt::AlignCenter);

    for (QFrame *frame : {ui.frame, ui.frame_3, ui.frame_7})
        QCOMPARE(frame->frameShape(), QFrame::StyledPanel);
    for (QFrame *frame : {ui.frame_4, ui.frame_8, ui.frame_2})
        QCOMPARE(frame->frameShape(), QFrame::NoFrame);
    for (QFrame *frame : {ui.frame, ui.frame_2, ui.frame_3, ui.frame_4, ui.frame_7, ui.frame_8})
        QCOMPARE(frame->frameShadow(), QFrame::Raised);
    QCOMPARE(ui.horizontalLayout_3->contentsMargins(), QMargins(11, 0, 11, 0));
}

void TestForms::existingNameIsKept()
{
    QMainWindow window;
    window.setObjectName(QStringLiteral("bench window"));
    Ui_FlashLoader ui;
    ui.setupUi(&window);
    QCOMPARE(window.objectName(), QStringLiteral("bench window"));
}

void TestForms::logoLabel()
{
    QMainWindow window;
    Ui_FlashLoader ui;
    ui.setupUi(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(ui.label->text().isEmpty());
    const QPixmap logo = ui.label->pixmap();
    QCOMPARE(logo.size(), QSize(155, 53));
    QVERIFY(!ui.label->hasScaledContents());
    QVERIFY(ui.label->height() >= 60);
    QCOMPARE(ui.label->minimumSize(), QSize(0, 60));
}

void TestForms::leftColumnCapped()
{
    QMainWindow window;
    Ui_FlashLoader ui;
    ui.setupUi(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (int width : {558, 900, 1600}) {
        window.resize(width, 279);
        QTRY_COMPARE(window.width(), width);
        QVERIFY2(ui.frame->width() <= 200, qPrintable(QString::number(ui.frame->width())));
        QVERIFY(ui.frame_2->width() > ui.frame->width());
    }
}

void TestForms::buttonSizesAndPlacement()
{
    QMainWindow window;
    Ui_FlashLoader ui;
    ui.setupUi(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // Even squeezed to their minimum, the buttons keep the sizes the form gives them.
    window.resize(window.minimumSizeHint());
    QTRY_COMPARE(window.size(), window.minimumSizeHint().expandedTo(window.minimumSize()));
    for (QPushButton *button :
         {ui.pushButton_Rescan, ui.pushButton_Detect, ui.pushButton_Browse, ui.pushButton_Flash})
        QVERIFY2(button->height() >= 28, qPrintable(button->objectName()));
    for (QPushButton *button : {ui.pushButton_Browse, ui.pushButton_Flash})
        QVERIFY2(button->width() >= 90, qPrintable(button->objectName()));
    window.resize(558, 279);
    QTRY_COMPARE(window.size(), QSize(558, 279));

    // Aligned left, at the edge where the full-width rows above them start.
    for (QPushButton *button : {ui.pushButton_Browse, ui.pushButton_Flash}) {
        QLayout *layout = button->parentWidget()->layout();
        QCOMPARE(layout->itemAt(layout->indexOf(button))->alignment(), Qt::AlignLeft);
    }
    QVERIFY(qAbs(ui.pushButton_Browse->x() - ui.lineEdit_Selected_file->x()) <= 1);
    QVERIFY(qAbs(ui.pushButton_Flash->x() - ui.progressBar->x()) <= 1);
    // Browse keeps its own width; Flash, expanding, fills its row even so.
    QVERIFY(ui.pushButton_Browse->width() < ui.lineEdit_Selected_file->width() / 2);
    for (QLayout *layout :
         std::initializer_list<QLayout *>{ui.verticalLayout_2, ui.horizontalLayout_3})
        for (int i = 0; i < layout->count(); ++i)
            QCOMPARE(layout->itemAt(i)->alignment(), Qt::Alignment());

    const QSizePolicy rescan = ui.pushButton_Rescan->sizePolicy();
    QCOMPARE(rescan.horizontalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(rescan.verticalPolicy(), QSizePolicy::Minimum);
    const QSizePolicy flash = ui.pushButton_Flash->sizePolicy();
    QCOMPARE(flash.horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(flash.verticalPolicy(), QSizePolicy::Fixed);
    for (const QSizePolicy &policy : {rescan, flash}) {
        QCOMPARE(policy.horizontalStretch(), 0);
        QCOMPARE(policy.verticalStretch(), 0);
        QCOMPARE(policy.controlType(), QSizePolicy::DefaultType);
        QCOMPARE(policy.hasHeightForWidth(), QPushButton().sizePolicy().hasHeightForWidth());
    }
    QCOMPARE(ui.pushButton_Detect->sizePolicy(), QPushButton().sizePolicy());
    QCOMPARE(ui.pushButton_Browse->sizePolicy(), QPushButton().sizePolicy());
}

void TestForms::texts()
{
    QMainWindow window;
    Ui_FlashLoader ui;
    ui.setupUi(&window);
    QCOMPARE(ui.label_connection_method_selection->text(), QStringLiteral("Select COM Port"));
    QCOMPARE(ui.pushButton_Rescan->text(), QStringLiteral("Rescan"));
    QCOMPARE(ui.pushButton_Detect->text(), QStringLiteral("Detect"));
    QCOMPARE(ui.label_2->text(), QStringLiteral("Select File to Download"));
    QCOMPARE(ui.pushButton_Browse->text(), QStringLiteral("Browse"));
    QCOMPARE(ui.pushButton_Flash->text(), QStringLiteral("Flash"));
}

void TestForms::detectorForm()
{
    QDialog dialog;
    Ui_Bootloader_detector ui;
    ui.setupUi(&dialog);
    QCOMPARE(dialog.objectName(), QStringLiteral("Bootloader_detector"));
    QCOMPARE(dialog.size(), QSize(197, 152));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));
    QCOMPARE(dialog.styleSheet(), QStringLiteral("background-color: rgb(189,189,189);"));
    QCOMPARE(dialog.layout(), ui.verticalLayout);
    QCOMPARE(ui.verticalLayout->objectName(), QStringLiteral("verticalLayout"));
    QCOMPARE(ui.pushButton_BootLoad->parentWidget(), &dialog);
    QCOMPARE(ui.verticalLayout->indexOf(ui.pushButton_BootLoad), 0);
    QCOMPARE(ui.pushButton_BootLoad->text(), QStringLiteral("Start"));

    const QString style = ui.pushButton_BootLoad->styleSheet();
    QCOMPARE(style, buttonStyle.chopped(1)); // the same, without the final newline

    // Left and right set, top and bottom left to the style.
    const QMargins margins = ui.verticalLayout->contentsMargins();
    QCOMPARE(margins.left(), 30);
    QCOMPARE(margins.right(), 30);
    QDialog reference;
    auto *plain = new QVBoxLayout(&reference);
    QCOMPARE(margins.top(), plain->contentsMargins().top());
    QCOMPARE(margins.bottom(), plain->contentsMargins().bottom());
}

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
