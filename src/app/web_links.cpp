// The web site link and the About message's text.
#include "web_links.h"

#include <QDesktopServices>
#include <QUrl>

namespace tz::app {

void openAddress(const QString& address) {
    QDesktopServices::openUrl(QUrl(address));
}

QString aboutText(const QString& versionText, const QString& webSiteAddress) {
    return QStringLiteral("Tovan Zevediz ") + versionText + QStringLiteral("\n\n") +
           QString::fromLatin1(kMakerNotice) + QStringLiteral("\n\n") + webSiteAddress +
           QStringLiteral("\nVisit web site?");
}

}  // namespace tz::app
