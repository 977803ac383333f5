#include "core/save_file.h"

#include "core/ascii_scan.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringEncoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace save_file {

namespace {

enum class Step {
    Create,
    Write,
    Replace
};

// Qt's own error strings are English strerror texts; the user reads Chinese.
QString reasonForErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return QCoreApplication::translate("core", "所在的文件夹不存在");
    case EACCES:
    case EPERM:
        return QCoreApplication::translate("core", "没有在这个文件夹里写入的权限");
    case EISDIR:
        return QCoreApplication::translate("core", "已有同名的文件夹");
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return QCoreApplication::translate("core", "磁盘空间不足");
    case EROFS:
        return QCoreApplication::translate("core", "磁盘是只读的");
    case EFBIG:
        return QCoreApplication::translate("core", "文件超过了允许的大小");
    case ENAMETOOLONG:
        return QCoreApplication::translate("core", "文件名太长");
    case EMFILE:
    case ENFILE:
        return QCoreApplication::translate("core", "打开的文件太多");
    case EIO:
        return QCoreApplication::translate("core", "磁盘读写出错");
    case EINVAL:
        return QCoreApplication::translate("core", "文件名无效");
    case EBUSY:
    case ETXTBSY:
        return QCoreApplication::translate("core", "文件正在被使用");
    case ELOOP:
        return QCoreApplication::translate("core", "符号链接层数太多（可能是循环链接）");
    default:
        return QCoreApplication::translate("core", "系统错误（错误码 %1）").arg(error);
    }
}

// Where errno says nothing (Windows, where Qt calls Win32 directly) or only
// "permission denied", look at the place itself.
QString reasonFromPlace(const QString &path, int error)
{
    const QFileInfo info(path);
    if (info.isDir())
        return reasonForErrno(EISDIR);
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return reasonForErrno(ENOENT);
    if (!folder.isWritable())
        return reasonForErrno(EACCES);
    // Replacing a file needs only the folder's permission; refusing one the
    // user may not write is deliberate, and worth its own words.
    if (info.exists() && !info.isWritable())
        return QCoreApplication::translate("core", "文件是只读的");
    return error != 0 ? reasonForErrno(error) : QCoreApplication::translate("core", "原因不明");
}

QString failure(Step step, const QString &path, int error)
{
    QString message;
    switch (step) {
    case Step::Create:
        message = QCoreApplication::translate("core", "无法创建文件“%1”：%2");
        break;
    case Step::Write:
        message = QCoreApplication::translate("core", "无法写入文件“%1”：%2");
        break;
    case Step::Replace:
        message = QCoreApplication::translate("core", "无法用新文件替换“%1”：%2");
        break;
    }
    const bool unclear = error == 0 || error == EACCES || error == EPERM;
    const QString reason = unclear ? reasonFromPlace(path, error) : reasonForErrno(error);
    return message.arg(QDir::toNativeSeparators(path), reason);
}

// Where a save through path lands: path itself, or the end of its chain of
// symbolic links, so that a link stays a link (as editors do). Empty when the
// chain does not end.
QString writeTarget(const QString &path)
{
    constexpr int maxLinks = 40;
    QFileInfo info(path);
    for (int links = 0; info.isSymLink(); ++links) {
        if (links == maxLinks)
            return {};
        info.setFile(info.symLinkTarget());
    }
    return info.filePath();
}

// What stands at an existing target that is not a regular file.
QString kindOfSpecialFile(const QString &target)
{
#ifdef Q_OS_UNIX
    struct stat st
    {};
    if (::stat(QFile::encodeName(target).constData(), &st) == 0) {
        if (S_ISFIFO(st.st_mode))
            return QCoreApplication::translate("core", "命名管道");
        if (S_ISSOCK(st.st_mode))
            return QCoreApplication::translate("core", "套接字");
        if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
            return QCoreApplication::translate("core", "设备文件");
    }
#else
    Q_UNUSED(target);
#endif
    return QCoreApplication::translate("core", "特殊文件");
}

// The new file takes the old one's owner (where we may give it away) and
// mode: QSaveFile derives the mode from what the current user may do, so a
// read-only file saved over by root came back writable.
void keepOwnerAndMode(QSaveFile &file, const QString &target)
{
#ifdef Q_OS_UNIX
    struct stat old
    {};
    if (::stat(QFile::encodeName(target).constData(), &old) != 0 || !S_ISREG(old.st_mode))
        return;
    const int fd = file.handle();
    const bool sameOwner = ::fchown(fd, old.st_uid, old.st_gid) == 0;
    // Set-id bits only ever go with the owner they were set for.
    ::fchmod(fd, old.st_mode & (sameOwner ? 07777 : 0777));
#else
    Q_UNUSED(file);
    Q_UNUSED(target);
#endif
}

// Writes text as single bytes to out when every unit is ASCII; out has room
// for one byte per unit. Returns false, having written something or nothing,
// at the first unit beyond ASCII.
bool narrowAscii(QStringView text, char *out)
{
    const char16_t *units = text.utf16();
    const auto length = size_t(text.size());
    size_t i = ascii_scan::takeWords(text, [out](quint64 word, size_t at) {
        if (!ascii_scan::isAscii(word))
            return false;
        const auto packed =
            quint32((word & 0xff) | ((word >> 8) & 0xff00) | ((word >> 16) & 0xff0000) | ((word >> 24) & 0xff000000));
        std::memcpy(out + at, &packed, sizeof packed);
        return true;
    });
    for (; i < length; ++i) {
        if (units[i] >= 0x80)
            return false;
        out[i] = char(units[i]);
    }
    return true;
}

// GB18030 has no bytes for half a surrogate pair: the encoder would write a
// substitute byte, drop it, or hold it for the next text. U+FFFD is what the
// harvest puts in its place.
bool hasLoneSurrogate(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!c.isSurrogate())
            continue;
        if (!c.isHighSurrogate() || i + 1 == text.size() || !text.at(i + 1).isLowSurrogate())
            return true;
        ++i;
    }
    return false;
}

QString withoutLoneSurrogates(QStringView text)
{
    QString whole = text.toString();
    for (qsizetype i = 0; i < whole.size(); ++i) {
        const QChar c = whole.at(i);
        if (!c.isSurrogate())
            continue;
        if (c.isHighSurrogate() && i + 1 < whole.size() && whole.at(i + 1).isLowSurrogate())
            ++i;
        else
            whole[i] = QChar::ReplacementCharacter;
    }
    return whole;
}

} // namespace

QString withTxtSuffix(const QString &path)
{
    if (path.endsWith(QLatin1String(".txt"), Qt::CaseSensitive))
        return path;
    return path + QLatin1String(".txt");
}

bool regularFileExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QByteArray encodeLines(const QStringList &items)
{
    // ASCII is the same single byte in GB18030 and makes up nearly every
    // address, so it is narrowed here four units at a time; only other items
    // go through the encoder, which is many times slower.
    QStringEncoder encoder("GB18030");
    // What the items not yet written take if they are ASCII: the buffer
    // starts at that size, and grows only for items that need more.
    qsizetype later = std::accumulate(items.cbegin(), items.cend(), qsizetype(0),
                                      [](qsizetype sum, const QString &item) { return sum + item.size() + 2; });
    QByteArray bytes(later, Qt::Uninitialized);
    qsizetype used = 0;
    // Each item's room is checked against what is left, never against the
    // whole buffer: an item that takes more bytes than it has units must not
    // eat into the room of the items after it.
    const auto makeRoom = [&](qsizetype need) {
        if (bytes.size() - used < need)
            bytes.resize(std::max(used + need + later, bytes.size() * 2));
    };
    for (qsizetype n = 0; n < items.size(); ++n) {
#if defined(__GNUC__)
        // Every item lives in its own block of memory: fetch ahead.
        if (n + 8 < items.size())
            __builtin_prefetch(QStringView(items.at(n + 8)).utf16());
#endif
        const QStringView item(items.at(n));
        later -= item.size() + 2;
        makeRoom(item.size() + 2);
        if (!narrowAscii(item, bytes.data() + used)) {
            // Each item on its own: no half of a surrogate pair may wait in
            // the encoder for the next item's text.
            const QString mended = hasLoneSurrogate(item) ? withoutLoneSurrogates(item) : QString();
            const QStringView whole = mended.isNull() ? item : QStringView(mended);
            encoder.resetState();
            makeRoom(encoder.requiredSpace(whole.size()) + 2);
            used = encoder.appendToBuffer(bytes.data() + used, whole) - bytes.constData();
        } else {
            used += item.size();
        }
        bytes[used++] = '\r';
        bytes[used++] = '\n';
    }
    bytes.truncate(used);
    return bytes;
}

QString writeLinkFile(const QString &path, const QStringList &items)
{
    return writeFile(path, encodeLines(items));
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty())
        return QCoreApplication::translate("core", "无法创建文件：没有给出文件名");

    const QString target = writeTarget(path);
    if (target.isEmpty())
        return failure(Step::Create, path, ELOOP);
    // Only a regular file is replaced: a pipe, socket or device put in its
    // place would be gone, and a folder cannot be.
    const QFileInfo place(target);
    if (place.isDir())
        return failure(Step::Create, target, EISDIR);
    if (place.exists() && !place.isFile())
        return QCoreApplication::translate("core", "无法保存到文件“%1”：这里已有一个%2，它不是普通文件，没有改动它")
            .arg(QDir::toNativeSeparators(target), kindOfSpecialFile(target));

    QSaveFile file(target);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        return failure(Step::Create, target, errno);
    keepOwnerAndMode(file, target);

    errno = 0;
    if (file.write(bytes) != bytes.size()) {
        const int error = errno;
        file.cancelWriting();
        return failure(Step::Write, target, error);
    }

    errno = 0;
    if (!file.commit()) {
        const int error = errno;
        const Step step = file.error() == QFileDevice::RenameError ? Step::Replace : Step::Write;
        return failure(step, target, error);
    }
    return {};
}

} // namespace save_file
