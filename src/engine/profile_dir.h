#pragma once

#include <QString>

namespace engine {

// Chromium's private profile folder: created 0700 under the temp folder with a
// recognisable prefix, and locked (flock on a file inside) for as long as this
// object lives, so another copy of the app can tell a live folder from one
// that a killed run left behind.
class ProfileDir final
{
public:
    static constexpr const char *prefix = "velmora-chromium-";
    static constexpr const char *lockFileName = "velmora.lock";
    // Chromium's TMPDIR, inside the folder so that it goes with it.
    static constexpr const char *tempName = "tmp";

    ProfileDir() = default;
    ~ProfileDir();
    ProfileDir(const ProfileDir &) = delete;
    ProfileDir &operator=(const ProfileDir &) = delete;

    // Creates a fresh folder in parentDir; on failure returns false and sets *error.
    bool create(const QString &parentDir, QString *error);
    // Deletes the folder and releases the lock. Harmless when there is none.
    void remove();
    QString path() const { return m_path; }
    QString tempPath() const { return m_path + QLatin1Char('/') + QLatin1String(tempName); }

    // Removes folders in parentDir that carry our prefix, belong to this user
    // and are held by no running instance. Returns how many were removed.
    static int removeStale(const QString &parentDir);

private:
    QString m_path;
    int m_lockFd = -1;
};

} // namespace engine
