#pragma once
// The one error box of a writer: errors of a recording show in a critical box that does not block the stream; a
// second error while it is on screen joins its text.

#include <QMessageBox>
#include <QPointer>
#include <QString>

inline void showInErrorBox(QPointer<QMessageBox>& box, QWidget* parent, const QString& text)
{
    if (box) {
        box->setText(box->text() + QStringLiteral("\n\n") + text);
        return;
    }
    box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
