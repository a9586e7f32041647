#pragma once

#include <QNetworkCookie>
#include <QString>
#include <vector>

namespace velnoria {

// The cookies a browser profile keeps in its storage folder, read before the engine opens them:
// the engine tells of the cookies it sets and drops, but lists none of those it reads at start.
// Cookies of one site embedded in another, and any the engine keeps encrypted, are left out;
// nothing at all when the file is missing, unreadable, or held by another run of the program.
std::vector<QNetworkCookie> readStoredCookies(const QString& storageFolder);

// The file of the cookies in a profile's storage folder.
QString storedCookiesFile(const QString& storageFolder);

}  // namespace velnoria
