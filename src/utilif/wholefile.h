#pragma once
// WholeFile: writes a file that appears under its final name only when it is complete. The data goes to a temporary
// file in the target folder; commit() checks that every write, the flush and the close succeeded and only then
// renames it. A file that is not committed (a failed write, a full disk, an abandoned store) leaves nothing behind.
//
// Unlike a plain QSaveFile, a short write or a failed final flush is never taken for success: every write through
// this device is checked, and a failure makes commit() fail.
//
// Names being written can be claimed, so that concurrent stores of this process never choose the same new name
// while neither file exists yet.

#include <QIODevice>
#include <QImage>
#include <QSaveFile>
#include <QString>
#include <QStringList>

class WholeFile : public QIODevice
{
    Q_OBJECT
public:
    explicit WholeFile(const QString& fileName);
    /// Discards the temporary file unless commit() succeeded.
    ~WholeFile() override;

    /// Only plain write modes are accepted (WriteOnly, with Text where line ends are to be translated).
    bool open(OpenMode mode) override;
    bool isSequential() const override { return false; }
    bool seek(qint64 pos) override;
    qint64 size() const override;
    /// Flushes, closes and gives the file its final name. False when any write failed or the file could not be
    /// finished; the temporary file is removed then and an existing file of that name is left as it was.
    bool commit();
    /// Gives up: the temporary file is removed, the final name is not touched.
    void discard();
    /// Final name of the file. errorString() says why a step failed.
    QString fileName() const { return finalName; }

    /// Writes `image` whole in `format` (QImageWriter's names, "PNG"); quality as for QImage::save. False, with the
    /// reason in `*error` when given, if the image could not be encoded or the file not written completely.
    static bool saveImage(const QImage& image, const QString& fileName, const QByteArray& format, int quality = -1,
                          QString* error = nullptr);

    /// Claims `fileName` for a writer of this process: false when the file exists or is claimed already.
    static bool claim(const QString& fileName);
    static bool isClaimed(const QString& fileName);
    /// Ends a claim (whether or not the file was written).
    static void release(const QString& fileName);

    /// While a list is set on a thread, the final name of every file committed on that thread is appended to it
    /// (a store learns which files it really wrote). Null ends the recording.
    static void setCommitLog(QStringList* log);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    void fail();

    QString finalName;
    QSaveFile file;
    bool failed = false;
};
