// The web site link and the About message's text.
#include "web_links.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

namespace tz::app {

void openAddress(const QString& address) {
    QDesktopServices::openUrl(QUrl(address));
}

QString aboutText(const QString& versionText, const QString& webSiteAddress) {
    return QStringLiteral("Tovan Zevediz ") + versionText + QStringLiteral("\n\n") +
           QCoreApplication::translate("tz::app::WebLinks", kMakerNotice) + QStringLiteral("\n\n") +
           webSiteAddress + QLatin1Char('\n') +
           QCoreApplication::translate("tz::app::WebLinks", "Visit web site?");
}

}  // namespace tz::app
