// The product's links to the outside: opening the web site and the About message's text.
#pragma once

#include <QCoreApplication>
#include <QString>

#include <functional>

namespace tz::app {

// Hands an address to the desktop's associated program; the outcome is not examined.
using UrlOpener = std::function<void(const QString& address)>;

// The default opener: QDesktopServices::openUrl.
void openAddress(const QString& address);

// The maker's notice line of the About message.
inline constexpr char kMakerNotice[] =
    QT_TRANSLATE_NOOP("tz::app::WebLinks", "Written by the Tovan Zevediz developers");

// "Tovan Zevediz " + version, a blank line, the maker's notice, a blank line, the address,
// then "Visit web site?" on the last line; lines separated by "\n".
QString aboutText(const QString& versionText, const QString& webSiteAddress);

}  // namespace tz::app
