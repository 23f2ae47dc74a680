#pragma once

// A window-modal warning over a window: the heading in the message, the explanation as the
// informative text, deleted when closed. Opened at once with OK when no buttons are to be
// added; else the caller adds its buttons and opens it.

#include <QGuiApplication>
#include <QMessageBox>

namespace pelkora::gui {

inline QMessageBox* makeWarningBox(QWidget* parent, const QString& heading, const QString& text,
                                   QMessageBox::StandardButtons buttons = QMessageBox::NoButton) {
    auto* box = new QMessageBox(QMessageBox::Warning, QGuiApplication::applicationDisplayName(),
                                heading, buttons, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setInformativeText(text);
    return box;
}

inline QMessageBox* openWarning(QWidget* parent, const QString& heading, const QString& text) {
    QMessageBox* box = makeWarningBox(parent, heading, text, QMessageBox::Ok);
    box->open();
    return box;
}

}  // namespace pelkora::gui
