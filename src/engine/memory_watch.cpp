#include "engine/memory_watch.h"

#include "engine/proc_reader.h"

#include <QFile>
#include <QLoggingCategory>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcWatch, "velmora.watch", QtWarningMsg)

namespace engine {

namespace {

// Often enough that a page growing by a gigabyte a second overshoots the bound
// by a quarter of that at most. A pass reads the stat line of every process
// and the status of Chromium's own.
constexpr int pollMs = 250;
// The profile folder is walked at most this often, and never taking more than
// a twentieth of the time (a big cache holds many files).
constexpr qint64 profileWalkMs = 1000;
constexpr qint64 profileWalkShare = 20;
constexpr qint64 minimumLimit = qint64(1536) << 20;
// Chromium reports a killed renderer's crash within milliseconds; a busy
// event loop may take a while to read it.
constexpr int killedLatelyMs = 2000;
// Pages closed to make room: a tab is gone from DevTools at once, its
// renderer gives its memory back a little later; a renderer spinning in a
// script may take longer, and then the current page is judged anyway.
constexpr qint64 leaverExitMs = 500;
constexpr qint64 leaversGraceMs = 3000;
// Folders nested deeper than this are not the profile's own.
constexpr int maxFolderDepth = 32;

qint64 saturatingAdd(qint64 a, qint64 b)
{
    return b > std::numeric_limits<qint64>::max() - a ? std::numeric_limits<qint64>::max() : a + b;
}

bool isRendererOf(qint64 pid, qint64 processGroup)
{
    const auto stat = proc::stat(pid);
    // NUL-separated arguments; the type switch comes early.
    return stat && stat->group == processGroup && !stat->zombie()
        && proc::commandLine(pid, 16384).contains("--type=renderer");
}

// Cache, Code Cache, GPUCache, ShaderCache...: Chromium keeps them within
// sizes of its own, whatever the pages, and they hold most of the files.
bool isChromiumCache(const char *name)
{
    const size_t length = std::strlen(name);
    return length >= 5 && std::strcmp(name + length - 5, "Cache") == 0;
}

qint64 folderBytes(int folder, int depth)
{
    DIR *dir = ::fdopendir(folder);
    if (!dir) {
        ::close(folder);
        return 0;
    }
    qint64 bytes = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        struct stat info
        {};
        if (::fstatat(::dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone meanwhile
        bytes = saturatingAdd(bytes, qint64(info.st_blocks) * 512);
        if (S_ISDIR(info.st_mode) && depth < maxFolderDepth && !isChromiumCache(name)) {
            const int sub = ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0)
                bytes = saturatingAdd(bytes, folderBytes(sub, depth + 1));
        }
    }
    ::closedir(dir);
    return bytes;
}

} // namespace

ChromiumUse chromiumUse(qint64 processGroup, qint64 leaveOut, QHash<qint64, ProcessKind> *known)
{
    QHash<qint64, ProcessKind> kinds;
    ChromiumUse use;
    for (const qint64 pid : proc::processIds()) {
        ProcessKind kind = ProcessKind::Other;
        // A process forked by the zygote shows the zygote's arguments until
        // it has set its own: Chromium's others are read again each time.
        if (known && known->contains(pid) && known->value(pid) != ProcessKind::Chromium) {
            kind = known->value(pid);
        } else {
            const auto stat = proc::stat(pid);
            if (!stat)
                continue; // gone already
            if (stat->group == processGroup)
                kind = proc::commandLine(pid, 16384).contains("--type=renderer") ? ProcessKind::Renderer
                                                                                 : ProcessKind::Chromium;
        }
        kinds.insert(pid, kind);
        if (kind == ProcessKind::Other || pid == leaveOut)
            continue;
        // A zombie has no memory left, and no RssAnon line.
        const qint64 bytes = proc::madeBytes(pid);
        use.bytes = saturatingAdd(use.bytes, bytes);
        if (kind == ProcessKind::Renderer && bytes > use.biggestRenderer.bytes)
            use.biggestRenderer = {pid, bytes};
    }
    // Those no longer listed are forgotten.
    if (known)
        *known = std::move(kinds);
    return use;
}

qint64 allocatedBytes(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? 0 : folderBytes(fd, 0);
}

qint64 defaultMemoryLimit()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return minimumLimit;
    return std::max(minimumLimit, qint64(pages) * pageSize / 8);
}

int laneLimitFor(qint64 availableBytes, qint64 perPageBytes, int processors)
{
    const qint64 byMemory = perPageBytes > 0 ? std::max<qint64>(availableBytes, 0) / perPageBytes : 1;
    const qint64 byProcessors = 2 * qint64(std::max(processors, 1));
    return int(std::max<qint64>(1, std::min(byMemory, byProcessors)));
}

MemoryWatch::MemoryWatch(qint64 processGroup, const QString &profileFolder, qint64 limitBytes, QObject *parent)
    : QObject(parent), m_group(processGroup), m_profile(profileFolder),
      m_limit(limitBytes > 0 ? limitBytes : defaultMemoryLimit())
{
    m_timer.setInterval(pollMs);
    connect(&m_timer, &QTimer::timeout, this, &MemoryWatch::check);
}

void MemoryWatch::takeBaseline()
{
    if (m_group <= 0)
        return;
    m_baseProcesses = chromiumUse(m_group, 0, &m_processes).bytes;
    m_baseProfile = m_profile.isEmpty() ? 0 : allocatedBytes(m_profile);
    m_profileBytes = m_baseProfile;
    m_sinceProfileWalk.start();
}

void MemoryWatch::track(QObject *page, Stage stage)
{
    if (!m_pages.contains(page)) {
        connect(page, &QObject::destroyed, this, [this](QObject *gone) {
            m_askedToGo.remove(gone);
            if (m_pages.take(gone) == Stage::Leaving)
                m_sinceLeaverGone.start();
            if (m_pages.isEmpty())
                m_timer.stop();
        });
    }
    m_pages.insert(page, stage);
    if (m_group > 0 && !m_timer.isActive())
        m_timer.start();
}

void MemoryWatch::stop()
{
    for (QObject *page : m_pages.keys())
        page->disconnect(this);
    m_pages.clear();
    m_askedToGo.clear();
    m_waiting.invalidate();
    m_timer.stop();
}

bool MemoryWatch::killedLately() const
{
    return m_sinceKill.isValid() && m_sinceKill.elapsed() < killedLatelyMs;
}

qint64 MemoryWatch::growth(const ChromiumUse &use)
{
    if (!m_profile.isEmpty() && m_sinceProfileWalk.isValid()
        && m_sinceProfileWalk.elapsed() >= std::max(profileWalkMs, m_profileWalkMs * profileWalkShare)) {
        QElapsedTimer walk;
        walk.start();
        m_profileBytes = allocatedBytes(m_profile);
        m_profileWalkMs = walk.elapsed();
        m_sinceProfileWalk.start();
    }
    return saturatingAdd(std::max<qint64>(0, use.bytes - m_baseProcesses),
                         std::max<qint64>(0, m_profileBytes - m_baseProfile));
}

bool MemoryWatch::waitingForLeavers()
{
    QList<QObject *> leaving;
    for (auto page = m_pages.cbegin(); page != m_pages.cend(); ++page) {
        if (page.value() == Stage::Leaving)
            leaving.append(page.key());
    }
    const bool leaverJustWent = m_sinceLeaverGone.isValid() && m_sinceLeaverGone.elapsed() < leaverExitMs;
    if (leaving.isEmpty() && !leaverJustWent)
        return false;
    if (!m_waiting.isValid())
        m_waiting.start();
    else if (m_waiting.elapsed() >= leaversGraceMs)
        return false;
    for (QObject *page : std::as_const(leaving)) {
        if (!m_askedToGo.contains(page)) {
            m_askedToGo.insert(page);
            emit makeRoom(page);
        }
    }
    return true;
}

void MemoryWatch::check()
{
    // One killed is on its way out, whatever it still shows.
    const ChromiumUse use = chromiumUse(m_group, m_killed, &m_processes);
    const qint64 grown = growth(use);
    QList<QObject *> current;
    for (auto page = m_pages.cbegin(); page != m_pages.cend(); ++page) {
        if (page.value() == Stage::Current)
            current.append(page.key());
    }
    const qint64 pages = std::max<qint64>(1, current.size());
    const qint64 budget =
        m_limit > std::numeric_limits<qint64>::max() / pages ? std::numeric_limits<qint64>::max() : m_limit * pages;
    if (grown <= budget && (current.size() < 2 || use.biggestRenderer.bytes <= m_limit)) {
        m_waiting.invalidate();
        return;
    }
    if (waitingForLeavers())
        return;
    m_waiting.invalidate();
    qCInfo(lcWatch) << "past the bound:" << grown << "bytes over Chromium's own for" << current.size() << "pages";
    if (current.size() == 1) {
        QObject *page = current.constFirst();
        m_pages.insert(page, Stage::Leaving);
        m_askedToGo.insert(page);
        emit exceeded(page, grown);
    } else if (current.size() > 1 && use.biggestRenderer.pid > 0) {
        kill(use.biggestRenderer);
    }
}

void MemoryWatch::kill(const RendererUse &renderer)
{
    // Through a pidfd, checked once open: the process read a moment ago may
    // have ended and its number gone to a process that is not ours.
    const int pidfd = int(::syscall(SYS_pidfd_open, pid_t(renderer.pid), 0));
    if (pidfd < 0)
        return;
    if (isRendererOf(renderer.pid, m_group) && ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0) {
        qCInfo(lcWatch) << "killed renderer" << renderer.pid << "holding" << renderer.bytes << "bytes";
        m_killed = renderer.pid;
        m_sinceKill.start();
    }
    ::close(pidfd);
}

} // namespace engine
