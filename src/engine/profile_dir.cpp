#include "engine/profile_dir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {

namespace {

// A folder without its lock file may be one another instance has just made
// and not locked yet; leave it alone unless it is clearly old.
constexpr qint64 unlockedGraceSeconds = 60;

} // namespace

ProfileDir::~ProfileDir()
{
    remove();
}

bool ProfileDir::create(const QString &parentDir, QString *error)
{
    remove();
    QByteArray templ = QFile::encodeName(QDir(parentDir).filePath(QLatin1String(prefix) + QLatin1String("XXXXXX")));
    // mkdtemp makes the folder 0700.
    if (!::mkdtemp(templ.data())) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_path = QFile::decodeName(templ);
    const QByteArray lockPath = templ + '/' + lockFileName;
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFd < 0 || ::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        remove();
        return false;
    }
    if (::mkdir((templ + '/' + tempName).constData(), 0700) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        remove();
        return false;
    }
    return true;
}

void ProfileDir::remove()
{
    if (!m_path.isEmpty())
        QDir(m_path).removeRecursively();
    m_path.clear();
    // Unlock only after removal, so no cleaner races us for the folder.
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
}

int ProfileDir::removeStale(const QString &parentDir)
{
    const QDir parent(parentDir);
    const QStringList entries =
        parent.entryList({QLatin1String(prefix) + QLatin1Char('*')}, QDir::Dirs | QDir::Hidden | QDir::System);
    int removed = 0;
    for (const QString &name : entries) {
        const QString path = parent.filePath(name);
        const QByteArray encoded = QFile::encodeName(path);
        struct stat st
        {};
        if (::lstat(encoded.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        const int fd = ::open((encoded + '/' + lockFileName).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            const qint64 age = QDateTime::currentSecsSinceEpoch() - qint64(st.st_mtime);
            if (errno == ENOENT && age > unlockedGraceSeconds && QDir(path).removeRecursively())
                ++removed;
            continue;
        }
        // A running instance holds the lock for the folder's whole life.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && QDir(path).removeRecursively())
            ++removed;
        ::close(fd);
    }
    return removed;
}

} // namespace engine
