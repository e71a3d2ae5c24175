// The default error box and the replaceable modal message box.
#include "application.h"

#include <QWidget>

namespace tz::app {

namespace {

// The one hook of the process; empty means the real modal box.
MessageBoxHook& messageBoxHook() {
    static MessageBoxHook hook;
    return hook;
}

int execMessageBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                   QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, caption, text, buttons, QApplication::activeWindow());
    return box.exec();
}

}  // namespace

void setMessageBoxHook(MessageBoxHook hook) {
    messageBoxHook() = std::move(hook);
}

int showMessageBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                   QMessageBox::StandardButtons buttons) {
    if (const MessageBoxHook& hook = messageBoxHook()) {
        return hook(icon, caption, text, buttons);
    }
    return execMessageBox(icon, caption, text, buttons);
}

void showErrorBox(const QString& message) {
    showMessageBox(QMessageBox::Critical, QString::fromLatin1(kApplicationTitle), message,
                   QMessageBox::Ok);
}

void reportCurrentException() {
    try {
        throw;
    } catch (const std::exception& error) {
        showErrorBox(QString::fromUtf8(error.what()));
    } catch (...) {
        showErrorBox(QStringLiteral("Unknown error"));
    }
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        reportCurrentException();
        return true;
    }
}

}  // namespace tz::app
