#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// The styled notice: no parent, title "Information" whatever the icon, one Ok button.
// Returns once the operator has dismissed it.
void showNotice(const QString &text, QMessageBox::Icon icon);

// Qt's standard warning box over `parent`, titled with a single blank.
void showWarningBox(QWidget *parent, const QString &text);
