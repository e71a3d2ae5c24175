// The default error box and the replaceable modal message box.
#include "application.h"

#include <QIcon>
#include <QWidget>

#include <new>

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
    // Above the preview window, which floats above every other window.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
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

QString errorMessage(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return QCoreApplication::translate("tz::app", "Out of memory");
    } catch (const std::exception& failure) {
        return QString::fromUtf8(failure.what());
    } catch (...) {
        return QCoreApplication::translate("tz::app", "Unknown error");
    }
}

void reportCurrentException() {
    showErrorBox(errorMessage(std::current_exception()));
}

void configureApplication() {
    QApplication::setApplicationName(QStringLiteral("zevediz"));
    QApplication::setDesktopFileName(QStringLiteral("zevediz"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/zevediz/zevediz.png")));
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
