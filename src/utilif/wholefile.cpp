#include "utilif/wholefile.h"

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QMutex>
#include <QSet>

namespace {

thread_local QStringList* commitLog = nullptr; // see WholeFile::setCommitLog

QMutex claimMutex;
QSet<QString> claimed; // absolute, clean paths; guarded by claimMutex

QString key(const QString& fileName)
{
    return QDir::cleanPath(QFileInfo(QDir::fromNativeSeparators(fileName)).absoluteFilePath());
}

} // namespace

WholeFile::WholeFile(const QString& fileName) : finalName(fileName), file(QDir::fromNativeSeparators(fileName))
{
    // A rename that cannot be done must fail, not fall back to writing the final file in place.
    file.setDirectWriteFallback(false);
}

WholeFile::~WholeFile()
{
    discard();
}

bool WholeFile::open(OpenMode mode)
{
    if (isOpen() || !(mode & WriteOnly) || (mode & (ReadOnly | Append)))
        return false;
    failed = false;
    if (!file.open(WriteOnly | (mode & Text))) {
        setErrorString(file.errorString());
        return false;
    }
    return QIODevice::open(WriteOnly | Unbuffered);
}

bool WholeFile::seek(qint64 pos)
{
    QIODevice::seek(pos);
    if (!file.seek(pos))
        fail();
    return !failed;
}

qint64 WholeFile::size() const
{
    return file.size();
}

qint64 WholeFile::readData(char*, qint64)
{
    return -1;
}

qint64 WholeFile::writeData(const char* data, qint64 size)
{
    if (failed)
        return -1;
    // A short write (a file size limit, a full disk) is a failure too: the rest would be lost.
    if (file.write(data, size) != size) {
        fail();
        return -1;
    }
    return size;
}

bool WholeFile::commit()
{
    if (!isOpen())
        return false;
    // QSaveFile does not notice a failed flush of its last buffered bytes; flush here and check.
    if (!failed && (!file.flush() || file.error() != QFileDevice::NoError))
        fail();
    QIODevice::close();
    if (failed) {
        file.cancelWriting();
        file.commit(); // removes the temporary file
        return false;
    }
    if (!file.commit()) {
        setErrorString(file.errorString());
        return false;
    }
    if (commitLog)
        commitLog->append(finalName);
    return true;
}

void WholeFile::setCommitLog(QStringList* log)
{
    commitLog = log;
}

void WholeFile::fail()
{
    failed = true;
    setErrorString(file.error() != QFileDevice::NoError ? file.errorString()
                                                        : QStringLiteral("the file could not be written completely"));
}

void WholeFile::discard()
{
    if (isOpen())
        QIODevice::close();
    if (file.isOpen()) {
        file.cancelWriting();
        file.commit();
    }
}

bool WholeFile::saveImage(const QImage& image, const QString& fileName, const QByteArray& format, int quality,
                          QString* error)
{
    auto refuse = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (image.isNull())
        return refuse(QStringLiteral("no picture"));
    WholeFile file(fileName);
    if (!file.open(WriteOnly))
        return refuse(file.errorString());
    QImageWriter writer(&file, format);
    writer.setQuality(quality);
    if (!writer.write(image))
        return refuse(writer.errorString());
    if (!file.commit())
        return refuse(file.errorString());
    return true;
}

bool WholeFile::claim(const QString& fileName)
{
    const QString k = key(fileName);
    QMutexLocker lock(&claimMutex);
    if (claimed.contains(k) || QFileInfo::exists(k))
        return false;
    claimed.insert(k);
    return true;
}

bool WholeFile::isClaimed(const QString& fileName)
{
    const QString k = key(fileName);
    QMutexLocker lock(&claimMutex);
    return claimed.contains(k);
}

void WholeFile::release(const QString& fileName)
{
    const QString k = key(fileName);
    QMutexLocker lock(&claimMutex);
    claimed.remove(k);
}
