#include "browser/FileManager.h"
#include "platform/PathNames.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

namespace {

const char* const kService = "org.freedesktop.FileManager1";
const char* const kObjectPath = "/org/freedesktop/FileManager1";
const char* const kInterface = "org.freedesktop.FileManager1";

// A file manager that is being started by bus activation may take a while; after this
// long we stop waiting and open the folder ourselves.
constexpr int kCallTimeoutMs = 10000;

}  // namespace

QString LocalFileUrl(const std::string& path) {
    QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    if (!bytes.startsWith('/')) {
        // A relative cache folder: "file://cache/x" would name a host "cache".
        bytes.prepend(QFile::encodeName(QDir::currentPath()) + '/');
    }
    return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/"));
}

void OpenContainingFolder(const std::string& path) {
    QProcess::startDetached(QStringLiteral("xdg-open"), {LocalFileUrl(platform::FolderOf(path))});
}

void ShowInFileManager(const std::string& path, QObject* context) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        OpenContainingFolder(path);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kObjectPath),
                                       QLatin1String(kInterface), QStringLiteral("ShowItems"));
    call << QStringList{LocalFileUrl(path)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [path](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         if (finished->isError()) {
                             OpenContainingFolder(path);
                         }
                     });
}
