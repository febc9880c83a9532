#include "settingsfile.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtGlobal>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The previous content is read back into memory so that a rewrite in place
// that fails half-way can put it back. Our settings hold a few hundred bytes;
// a file above this bound is not held, and a failed rewrite of it is reported
// as possibly damaged.
const qint64 PreviousContentLimit = 1024 * 1024;

// Flushes the directory entry of a renamed file to disk; without it a power cut
// right after the rename can bring back the old name's content, or none.
void syncDirectory(const QByteArray &directory)
{
    const int fd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// --- Saving the settings file ---
//
// Nothing a save writes is trusted until the kernel has taken every byte and
// the sync has succeeded: a full disk shows as a short write, as ENOSPC, or only
// at the sync. The previous file is changed only after that.

enum class SaveOutcome {
    Saved,
    Failed,  // nothing was changed; trying another way could only do harm
    NotHere, // this way cannot work where the file lies; nothing was changed
};

// The step of a save that failed, as the log names it ("cannot <step> [file]"),
// with the errno it left.
struct Failure
{
    const char *step = nullptr;
    int error = 0;

    void record(const char *failedStep)
    {
        step = failedStep;
        error = errno;
    }
    bool happened() const { return step != nullptr; }
};

void warnCannot(const Failure &failure, const QByteArray &target)
{
    qWarning("Configuration::saveConfiguration() cannot %s [%s]: %s", failure.step, target.constData(),
             std::strerror(failure.error));
}

bool writeWhole(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 offset = 0;
    while (offset < bytes.size()) {
        const ssize_t written = ::pwrite(fd, data + offset, size_t(bytes.size() - offset), off_t(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            return false;
        }
        offset += written;
    }
    return true;
}

QByteArray folderOf(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray(slash == 0 ? "/" : ".") : path.left(slash);
}

QByteArray nameOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// A settings.json that is a symbolic link (to a data partition, say) is saved
// at its target: replacing the link by a plain file would leave the data
// partition stale. Empty when the links go round in a circle.
QByteArray fileBehindLinks(const QByteArray &path)
{
    QByteArray current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status;
        if (::lstat(current.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
            return current;
        QByteArray target(4096, '\0');
        const ssize_t length = ::readlink(current.constData(), target.data(), size_t(target.size()));
        if (length <= 0 || length >= target.size())
            return QByteArray();
        target.truncate(int(length));
        current = target.startsWith('/') ? target : folderOf(current) + '/' + target;
    }
    return QByteArray();
}

// Temporary files are the file's name, a point and six letters, both small and
// capital ones: the names that this program (and the Qt save it used before)
// gives them, and not the "settings.json.backup" that somebody keeps.
bool isTemporarySuffix(const QByteArray &suffix)
{
    bool small = false;
    bool capital = false;
    for (const char c : suffix) {
        if (c >= 'a' && c <= 'z')
            small = true;
        else if (c >= 'A' && c <= 'Z')
            capital = true;
        else
            return false;
    }
    return suffix.size() == 6 && small && capital;
}

bool isTemporaryName(const QByteArray &entry, const QByteArray &name)
{
    return entry.startsWith(name + '.') && isTemporarySuffix(entry.mid(name.size() + 1));
}

// A save killed between its steps leaves its temporary file behind. Those are
// removed at the next save: only regular files of our naming, never through a
// link, and never one that a running save holds locked.
void removeStaleTemporaries(const QByteArray &folder, const QByteArray &name)
{
    DIR *directory = ::opendir(folder.constData());
    if (!directory)
        return;
    const int folderFd = ::dirfd(directory);
    while (const dirent *entry = ::readdir(directory)) {
        if (!isTemporaryName(QByteArray(entry->d_name), name))
            continue;
        const int fd = ::openat(folderFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened;
        struct stat named;
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0
            && ::fstatat(folderFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_ino == opened.st_ino
            && named.st_dev == opened.st_dev) {
            qInfo("Configuration::saveConfiguration() removing the stale temporary file [%s]", entry->d_name);
            ::unlinkat(folderFd, entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(directory);
}

// Creates "<target>.XXXXXX" beside the target with `mode` less the umask,
// locked against the clean-up of another save. Returns the descriptor, or -1
// with errno set.
int createTemporary(const QByteArray &target, mode_t mode, QByteArray *temporaryPath)
{
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray suffix(6, 'a');
        do {
            for (char &c : suffix)
                c = Letters[QRandomGenerator::global()->bounded(52)];
        } while (!isTemporarySuffix(suffix));
        *temporaryPath = target + '.' + suffix;
        const int fd = ::open(temporaryPath->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

bool isSomewhereThatCannotHoldAReplacement(int error)
{
    // A read-only folder or file system, a folder made immutable, or a file that
    // is a mount point of its own (a bind mount), which rename cannot replace.
    return error == EROFS || error == EACCES || error == EPERM || error == EBUSY || error == EXDEV;
}

// The power-cut-safe way: the new content goes to a temporary file beside the
// target, reaches the disk, and only then replaces it, so the file is always
// either the old or the new settings. The replacement gets the old file's owner
// and mode; where it could not keep the owner, the save is not done this way.
SaveOutcome replaceWholeFile(const QByteArray &target, const struct stat *previous, const QByteArray &content)
{
    Failure failure;
    bool notHere = false;
    const auto fail = [&](const char *step, bool cannotWorkHere) {
        failure.record(step);
        notHere = cannotWorkHere || isSomewhereThatCannotHoldAReplacement(failure.error);
    };
    // A first file gets what the umask leaves of 0666, as any file written;
    // a replacement starts private and takes the old file's mode below.
    QByteArray temporary;
    const int fd = createTemporary(target, previous ? 0600 : 0666, &temporary);
    struct stat created;
    if (fd < 0) {
        fail("create a file beside", false);
    } else if (previous && ::fstat(fd, &created) == 0
               && (created.st_uid != previous->st_uid || created.st_gid != previous->st_gid)
               && ::fchown(fd, previous->st_uid, previous->st_gid) != 0) {
        fail("keep the owner of", true);
    } else if (previous && ::fchmod(fd, previous->st_mode & 07777) != 0) {
        fail("keep the mode of", true);
    } else if (!writeWhole(fd, content)) {
        fail("write", false);
    } else if (::fsync(fd) != 0) {
        fail("sync", false);
    } else if (::rename(temporary.constData(), target.constData()) != 0) {
        fail("replace", false);
    }
    if (fd >= 0) {
        if (failure.happened())
            ::unlink(temporary.constData());
        ::close(fd);
    }
    if (!failure.happened()) {
        syncDirectory(folderOf(target));
        return SaveOutcome::Saved;
    }
    if (!notHere) {
        warnCannot(failure, target);
        return SaveOutcome::Failed;
    }
    qInfo("Configuration::saveConfiguration() cannot %s [%s] (%s): writing it where it lies", failure.step,
          target.constData(), std::strerror(failure.error));
    return SaveOutcome::NotHere;
}

// Where the file cannot be replaced (a read-only root with a writable
// settings.json bound or linked into it), it is rewritten where it lies. The
// space for the longer of both contents is reserved first, so a full disk
// leaves the file as it was; a write that fails half-way puts the old content
// back. Only a power cut in the middle can leave a mixture.
bool rewriteInPlace(const QByteArray &target, const QByteArray &content)
{
    Failure failure;
    const int fd = ::open(target.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failure.record("open");
        warnCannot(failure, target);
        return false;
    }
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        qWarning("Configuration::saveConfiguration() [%s] is not a regular file", target.constData());
        return false;
    }

    QByteArray previous;
    bool previousKnown = status.st_size <= PreviousContentLimit;
    if (previousKnown) {
        previous.resize(int(status.st_size));
        previousKnown = ::pread(fd, previous.data(), size_t(previous.size()), 0) == ssize_t(previous.size());
    }
    if (content.size() > status.st_size && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(content.size())) != 0
        && errno != EOPNOTSUPP) {
        failure.record("reserve space for");
    } else if (!writeWhole(fd, content) || ::ftruncate(fd, off_t(content.size())) != 0) {
        failure.record("write");
        if (previousKnown && writeWhole(fd, previous))
            ::ftruncate(fd, off_t(previous.size()));
        else
            qWarning("Configuration::saveConfiguration() [%s] may be damaged", target.constData());
    }
    if (::fsync(fd) != 0 && !failure.happened())
        failure.record("sync");
    if (failure.happened())
        warnCannot(failure, target);
    ::close(fd);
    return !failure.happened();
}

} // namespace

bool saveSettingsFile(const QString &path, const QByteArray &content)
{
    const QByteArray target = fileBehindLinks(QFile::encodeName(path));
    if (target.isEmpty()) {
        qWarning("Configuration::saveConfiguration() [%s] is a circle of links", qPrintable(path));
        return false;
    }
    removeStaleTemporaries(folderOf(target), nameOf(target));

    struct stat status;
    const bool exists = ::stat(target.constData(), &status) == 0;
    if (exists && !S_ISREG(status.st_mode)) {
        qWarning("Configuration::saveConfiguration() [%s] is not a regular file", target.constData());
        return false;
    }
    // A file its owner may not write stays as it is, whatever its folder
    // allows. Root passes this check on any mode (panel-setup runs as root on
    // the device): there only an immutable file or a read-only file system
    // stops the save, at the steps below.
    if (exists && ::access(target.constData(), W_OK) != 0) {
        qWarning("Configuration::saveConfiguration() [%s] is not writable: %s", target.constData(),
                 std::strerror(errno));
        return false;
    }
    const SaveOutcome outcome = replaceWholeFile(target, exists ? &status : nullptr, content);
    if (outcome != SaveOutcome::NotHere)
        return outcome == SaveOutcome::Saved;
    if (exists)
        return rewriteInPlace(target, content);
    qWarning("Configuration::saveConfiguration() [%s] cannot be created", target.constData());
    return false;
}
