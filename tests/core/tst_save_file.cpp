#include "core/save_file.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include <grp.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t nobody = 65534;

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Hidden entries included: a temporary file of the save would be one.
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The message names the failed operation in Chinese, with the reason, and
// carries no English text from the system beside the path itself.
void checkMessage(const QString &message, const QString &path, const QString &reason)
{
    QVERIFY2(message.contains(reason), qPrintable(message));
    QString rest = message;
    rest.remove(QDir::toNativeSeparators(path));
    QVERIFY2(!rest.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))), qPrintable(message));
    QVERIFY2(rest.contains(QRegularExpression(QStringLiteral("^无法[\\x{4e00}-\\x{9fff}]+文件"))), qPrintable(message));
}

// Runs work in a forked child after prepare (dropping privileges, lowering a
// limit) and returns the text it reports; nothing when the child failed.
std::optional<QString> inChild(const std::function<bool()> &prepare, const std::function<QString()> &work)
{
    int fds[2];
    if (pipe(fds) != 0)
        return std::nullopt;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (!prepare())
            _exit(2);
        const QByteArray text = work().toUtf8();
        const bool written = write(fds[1], text.constData(), size_t(text.size())) == text.size();
        _exit(written ? 0 : 3);
    }
    close(fds[1]);
    QByteArray text;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, n);
    close(fds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return QString::fromUtf8(text);
}

// Root writes through every permission bit, so a permission failure is
// provoked as the unprivileged user.
std::optional<QString> writeUnprivileged(const QString &path, const QStringList &items)
{
    if (geteuid() != 0)
        return save_file::writeLinkFile(path, items);
    return inChild([] { return setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0; },
                   [&] { return save_file::writeLinkFile(path, items); });
}

QStringList manyItems(int count)
{
    QStringList items;
    for (int i = 0; i < count; ++i)
        items << QStringLiteral("http://www.example.cn/链接/%1").arg(i);
    return items;
}

} // namespace

class SaveFileTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void txtSuffix_data();
    void txtSuffix();
    void onlyRegularFilesExist();
    void encodesLinesInGb18030WithCrLf();
    void keepsCharactersOutsideCodePage936();
    void eachItemIsOneLine_data();
    void eachItemIsOneLine();
    void writesExactBytesReplacingOldFile();
    void emptyListGivesEmptyFile();
    void overwriteKeepsOwnerModeAndLink();
    void leavesAnythingButARegularFileUntouched_data();
    void leavesAnythingButARegularFileUntouched();

    void failsWhenFolderIsMissing();
    void failsWhenPathIsFolder();
    void failsInReadOnlyFolder();
    void failsOnReadOnlyFile();
    void failsWhenDiskIsFull();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    [[nodiscard]] QString path(const QString &name) const { return m_dir->filePath(name); }
};

void SaveFileTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The unprivileged child must be able to reach the folder.
    QVERIFY(QFile::setPermissions(m_dir->path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                      | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup));
}

void SaveFileTest::cleanup()
{
    // Some tests leave the folder read-only, which would stop its removal.
    QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_dir.reset();
}

void SaveFileTest::txtSuffix_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("final");

    QTest::newRow("no extension") << "/d/links"
                                  << "/d/links.txt";
    QTest::newRow("ends in .txt") << "/d/links.txt"
                                  << "/d/links.txt";
    QTest::newRow("upper case") << "/d/links.TXT"
                                << "/d/links.TXT.txt";
    QTest::newRow("mixed case") << "/d/links.Txt"
                                << "/d/links.Txt.txt";
    QTest::newRow("other extension") << "/d/links.csv"
                                     << "/d/links.csv.txt";
    QTest::newRow("txt without dot") << "/d/linkstxt"
                                     << "/d/linkstxt.txt";
    QTest::newRow("three characters") << "txt"
                                      << "txt.txt";
    QTest::newRow("exactly .txt") << ".txt"
                                  << ".txt";
    QTest::newRow("trailing blank") << "/d/links.txt "
                                    << "/d/links.txt .txt";
    QTest::newRow("folder named .txt") << "/d.txt/links"
                                       << "/d.txt/links.txt";
    QTest::newRow("Chinese name") << "/d/链接"
                                  << "/d/链接.txt";
}

void SaveFileTest::txtSuffix()
{
    QFETCH(QString, chosen);
    QFETCH(QString, final);
    QCOMPARE(save_file::withTxtSuffix(chosen), final);
}

void SaveFileTest::onlyRegularFilesExist()
{
    put(path("file.txt"), "x");
    QVERIFY(QDir(m_dir->path()).mkdir("folder.txt"));
    QVERIFY(QFile::link(path("file.txt"), path("link.txt")));
    QVERIFY(QFile::link(path("gone.txt"), path("dangling.txt")));

    QVERIFY(save_file::regularFileExists(path("file.txt")));
    QVERIFY(save_file::regularFileExists(path("link.txt")));
    QVERIFY(!save_file::regularFileExists(path("folder.txt")));
    QVERIFY(!save_file::regularFileExists(path("dangling.txt")));
    QVERIFY(!save_file::regularFileExists(path("missing.txt")));
    QVERIFY(!save_file::regularFileExists(QString()));
}

void SaveFileTest::encodesLinesInGb18030WithCrLf()
{
    // 科 and 技 are 0xBFC6 and 0xBCBC in code page 936; 丂 (0x8140) is in its
    // GBK part only. Blanks are kept verbatim and an empty item is an empty line.
    const QStringList items{"http://a.cn/", " 科技 ", "", "丂"};
    const QByteArray expected = QByteArray("http://a.cn/\r\n") + " \xBF\xC6\xBC\xBC \r\n" + "\r\n" + "\x81\x40\r\n";
    QCOMPARE(save_file::encodeLines(items), expected);
    QVERIFY(save_file::encodeLines({}).isEmpty());
}

void SaveFileTest::keepsCharactersOutsideCodePage936()
{
    const QString text = QStringLiteral("http://a.cn/😀ŝ€");
    QByteArray bytes = save_file::encodeLines({text});
    QVERIFY(bytes.endsWith("\r\n"));
    bytes.chop(2);
    QVERIFY(!bytes.contains('?'));
    QVERIFY(!bytes.contains('\x1A'));
    QStringDecoder decoder("GB18030");
    QCOMPARE(QString(decoder.decode(bytes)), text);
    QVERIFY(!decoder.hasError());
}

// Whatever the mix, length and position of other characters, the bytes
// decode to the items, one per CR LF line: the ASCII shortcut, the room
// each item takes and the encoder's state must not leak from one item into
// another.
void SaveFileTest::eachItemIsOneLine_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("lines");

    const QStringList pieces{"a", "Z", "7", "/", "%", "科", "丂", "é", "😀", " "};
    QRandomGenerator rng(7);
    QStringList mixed;
    for (int i = 0; i < 3000; ++i) {
        QString item;
        const bool asciiOnly = rng.bounded(2) == 0;
        for (int n = rng.bounded(24); n > 0; --n)
            item += pieces.at(rng.bounded(asciiOnly ? 5 : pieces.size()));
        mixed << item;
    }
    QTest::newRow("random mix") << mixed << mixed;

    // Items that take more bytes than units, then many that take one each.
    QStringList wideFirst{QStringLiteral("http://a:99999/科技"), QStringLiteral("http://[链接]/"),
                          QStringLiteral("http://a.cn/😀😀😀😀"), QString(3000, QChar(0x4E02))};
    for (int i = 0; i < 5000; ++i)
        wideFirst << QStringLiteral("http://www.example.cn/%1").arg(i);
    QTest::newRow("non-ASCII first, then thousands of ASCII") << wideFirst << wideFirst;

    const QChar high(0xD83D);
    const QChar low(0xDE00);
    QTest::newRow("halves of a pair at the ends of items")
        << QStringList{QStringLiteral("http://a.cn/first") + high, low + QStringLiteral("http://a.cn/second"),
                       QStringLiteral("科") + high, QStringLiteral("http://a.cn/last") + high}
        << QStringList{QStringLiteral("http://a.cn/first\uFFFD"), QStringLiteral("\uFFFDhttp://a.cn/second"),
                       QStringLiteral("科\uFFFD"), QStringLiteral("http://a.cn/last\uFFFD")};
}

void SaveFileTest::eachItemIsOneLine()
{
    QFETCH(QStringList, items);
    QFETCH(QStringList, lines);
    QStringDecoder decoder("GB18030");
    const QString text = decoder.decode(save_file::encodeLines(items));
    QVERIFY(!decoder.hasError());
    QCOMPARE(text, lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

void SaveFileTest::writesExactBytesReplacingOldFile()
{
    const QString file = path("链接.txt");
    put(file, QByteArray(10000, 'o'));
    const QStringList items{"http://a.cn/1", "http://a.cn/科", "http://a.cn/1", "mailto:x@a.cn"};

    QCOMPARE(save_file::writeLinkFile(file, items), QString());
    QCOMPARE(contents(file), save_file::encodeLines(items));
    QCOMPARE(contents(file).count("\r\n"), 4);
    QVERIFY(!contents(file).startsWith("\xEF\xBB\xBF"));
    QCOMPARE(entries(m_dir->path()), QStringList{"链接.txt"});
}

void SaveFileTest::emptyListGivesEmptyFile()
{
    const QString file = path("empty.txt");
    put(file, "old contents\r\n");
    QCOMPARE(save_file::writeLinkFile(file, {}), QString());
    QVERIFY(QFileInfo(file).isFile());
    QCOMPARE(QFileInfo(file).size(), 0);
}

void SaveFileTest::overwriteKeepsOwnerModeAndLink()
{
    // Root may overwrite a read-only file, and Qt's own copy of the mode made
    // it writable; others lost set-id bits the same way.
    const bool root = geteuid() == 0;
    const mode_t mode = root ? 0444 : 02640;
    const QString file = path("target.txt");
    put(file, "old\r\n");
    const QByteArray name = QFile::encodeName(file);
    if (root)
        QCOMPARE(chown(name.constData(), nobody, nobody), 0);
    QCOMPARE(chmod(name.constData(), mode), 0);
    QVERIFY(QFile::link("target.txt", path("link.txt")));
    struct stat before
    {};
    QCOMPARE(stat(name.constData(), &before), 0);

    QCOMPARE(save_file::writeLinkFile(path("link.txt"), {"http://a.cn/"}), QString());
    QCOMPARE(contents(file), QByteArray("http://a.cn/\r\n"));
    QVERIFY(QFileInfo(path("link.txt")).isSymLink());
    struct stat after
    {};
    QCOMPARE(stat(name.constData(), &after), 0);
    QCOMPARE(after.st_mode & 07777, mode);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QCOMPARE(entries(m_dir->path()), (QStringList{"link.txt", "target.txt"}));
}

void SaveFileTest::leavesAnythingButARegularFileUntouched_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("mustMention");
    QTest::newRow("named pipe") << "fifo"
                                << "命名管道";
    QTest::newRow("link to a named pipe") << "link-to-fifo"
                                          << "命名管道";
    QTest::newRow("socket") << "socket"
                            << "套接字";
    QTest::newRow("link loop") << "loop"
                               << "循环链接";
}

void SaveFileTest::leavesAnythingButARegularFileUntouched()
{
    QFETCH(QString, name);
    QFETCH(QString, mustMention);
    QCOMPARE(mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
    QVERIFY(QFile::link("fifo", path("link-to-fifo")));
    QVERIFY(QFile::link("loop", path("loop")));
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(sock >= 0);
    const auto closeSocket = qScopeGuard([sock] { close(sock); });
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(path("socket"));
    QVERIFY(size_t(socketPath.size()) < sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    QCOMPARE(bind(sock, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    const QStringList before = entries(m_dir->path());
    struct stat fifo
    {};
    QCOMPARE(lstat(QFile::encodeName(path("fifo")).constData(), &fifo), 0);

    const QString message = save_file::writeLinkFile(path(name), {"http://a.cn/"});
    QVERIFY2(message.contains(mustMention), qPrintable(message));
    QVERIFY2(message.startsWith(QStringLiteral("无法")), qPrintable(message));
    QCOMPARE(entries(m_dir->path()), before);
    struct stat after
    {};
    QCOMPARE(lstat(QFile::encodeName(path("fifo")).constData(), &after), 0);
    QVERIFY(S_ISFIFO(after.st_mode));
    QCOMPARE(after.st_ino, fifo.st_ino);
    QVERIFY(QFileInfo(path("link-to-fifo")).isSymLink());
    QVERIFY(QFileInfo(path("loop")).isSymLink());
}

void SaveFileTest::failsWhenFolderIsMissing()
{
    const QString file = path("missing/links.txt");
    const QString message = save_file::writeLinkFile(file, {"http://a.cn/"});
    checkMessage(message, file, QStringLiteral("文件夹不存在"));
    QVERIFY(entries(m_dir->path()).isEmpty());

    QVERIFY(QDir(m_dir->path()).mkdir("missing"));
    QCOMPARE(save_file::writeLinkFile(file, {"http://a.cn/"}), QString());
    QCOMPARE(contents(file), QByteArray("http://a.cn/\r\n"));
}

void SaveFileTest::failsWhenPathIsFolder()
{
    QVERIFY(QDir(m_dir->path()).mkpath("links.txt/inside"));
    const QString folder = path("links.txt");
    const QString message = save_file::writeLinkFile(folder, {"http://a.cn/"});
    checkMessage(message, folder, QStringLiteral("同名的文件夹"));
    QCOMPARE(entries(m_dir->path()), QStringList{"links.txt"});
    QCOMPARE(entries(folder), QStringList{"inside"});

    QCOMPARE(save_file::writeLinkFile(path("other.txt"), {"http://a.cn/"}), QString());
}

void SaveFileTest::failsInReadOnlyFolder()
{
    const QString file = path("links.txt");
    put(file, "old\r\n");
    QVERIFY(QFile::setPermissions(m_dir->path(),
                                  QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther
                                      | QFile::ReadGroup | QFile::ExeGroup));

    const std::optional<QString> message = writeUnprivileged(file, {"http://a.cn/"});
    QVERIFY(message);
    checkMessage(*message, file, QStringLiteral("没有在这个文件夹里写入的权限"));
    QCOMPARE(contents(file), QByteArray("old\r\n"));
    QCOMPARE(entries(m_dir->path()), QStringList{"links.txt"});
}

void SaveFileTest::failsOnReadOnlyFile()
{
    // The folder is writable, but a file the user may not write is not
    // replaced behind his back.
    const QString file = path("links.txt");
    put(file, "old\r\n");
    QVERIFY(QFile::setPermissions(m_dir->path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                      | QFile::WriteOther | QFile::ExeOther));
    QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadOther));

    const std::optional<QString> message = writeUnprivileged(file, {"http://a.cn/"});
    QVERIFY(message);
    checkMessage(*message, file, QStringLiteral("文件是只读的"));
    QCOMPARE(contents(file), QByteArray("old\r\n"));
    QCOMPARE(entries(m_dir->path()), QStringList{"links.txt"});
}

void SaveFileTest::failsWhenDiskIsFull()
{
    const QString file = path("links.txt");
    const QStringList tooMany = manyItems(20000); // about 700 kB

    // A 64 kB file system where mounting is allowed; otherwise a file size
    // limit fails the same write in the same place.
    const QByteArray folder = QFile::encodeName(m_dir->path());
    const bool mounted = mount("tmpfs", folder.constData(), "tmpfs", 0, "size=64k,mode=0755") == 0;
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            umount2(folder.constData(), MNT_DETACH);
    });
    put(file, "old\r\n");

    QString message;
    if (mounted) {
        message = save_file::writeLinkFile(file, tooMany);
        checkMessage(message, file, QStringLiteral("磁盘空间不足"));
    } else {
        const std::optional<QString> reported = inChild(
            [] {
                std::signal(SIGXFSZ, SIG_IGN);
                constexpr rlim_t size = rlim_t{64} * 1024;
                const rlimit limit{size, size};
                return setrlimit(RLIMIT_FSIZE, &limit) == 0;
            },
            [&] { return save_file::writeLinkFile(file, tooMany); });
        QVERIFY(reported);
        message = *reported;
        checkMessage(message, file, QStringLiteral("超过了允许的大小"));
    }
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(message.startsWith(QStringLiteral("无法写入文件")), qPrintable(message));
    QCOMPARE(contents(file), QByteArray("old\r\n"));
    QCOMPARE(entries(m_dir->path()), QStringList{"links.txt"});

    const QStringList fits = manyItems(10);
    QCOMPARE(save_file::writeLinkFile(file, fits), QString());
    QCOMPARE(contents(file), save_file::encodeLines(fits));
}

QTEST_GUILESS_MAIN(SaveFileTest)
#include "tst_save_file.moc"
