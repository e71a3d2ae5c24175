// Start-up shared by the screenshot programs: a temporary home, so the user's settings store
// is not touched, the application object, and an empty picture folder inside that home.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include "application.h"

// A temporary folder made the home, and the settings store's folder inside it.
class TemporaryHome {
  public:
    TemporaryHome() : m_dir(QDir::tempPath() + QStringLiteral("/home-XXXXXX")) {
        qputenv("HOME", m_dir.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (m_dir.path() + QStringLiteral("/config")).toUtf8());
    }
    QString path() const { return m_dir.path(); }

  private:
    QTemporaryDir m_dir;
};

class ScreenshotSession {
  public:
    ScreenshotSession(int& argc, char** argv)
        : m_application(argc, argv), m_folder(m_home.path() + QStringLiteral("/Pictures/Holiday")) {
        tz::app::configureApplication();
        QDir().mkpath(m_folder);
    }

    const QString& folder() const { return m_folder; }

  private:
    TemporaryHome m_home;  // before the application object, which reads the environment
    tz::app::Application m_application;
    QString m_folder;
};
