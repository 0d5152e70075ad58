#include "window/app/notice.h"

#include "window/images/appicon.h"

#include <QFont>
#include <QIcon>

void showNotice(const QString &text, QMessageBox::Icon icon)
{
    QMessageBox box;
    box.setFont(QFont(QStringLiteral("Segoe UI"), 12));
    box.setWindowTitle(QStringLiteral("Information"));
    box.setWindowIcon(QIcon(QString::fromLatin1(appIconPath)));
    box.setIcon(icon);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.show();
    box.exec();
}

void showWarningBox(QWidget *parent, const QString &text)
{
    QMessageBox::warning(parent, QStringLiteral(" "), text, QMessageBox::Ok, QMessageBox::NoButton);
}
