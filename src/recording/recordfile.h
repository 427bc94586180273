#pragma once
// The two ends of a recording file.
//
// RecordReader reads the binary records of the disc writer (type, [count,] words; little-endian 32-bit integers)
// from any QIODevice with a buffer of a fixed size. Whatever the bytes are, it never reads past the buffer and never
// allocates: a record that does not fit, or that the file cuts off, is reported with its status.
//
// RecordSink writes whole records to a file through a buffer of its own. Each flush writes whole records only, so
// a failed write (disk full, file removed) leaves the file readable up to the last whole record: the sink cuts it
// back to the end of the last record that was written completely and reports the failure.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>
#include <memory>

class QFile;
class QIODevice;

class RecordReader
{
public:
    /// Words of the largest record that can be read (the data count of one "Data" or "Timestamp" record).
    static constexpr int bufferWords = 4096;

    enum Status {
        Ok,           // a record was read
        End,          // the file ends at a record boundary
        Truncated,    // the file ends inside a record
        TooLarge,     // the record's count is above bufferWords
        BadCount,     // the record's count is negative
        NegativeType, // the record's type is negative
    };

    explicit RecordReader(QIODevice* device) : device(device) {}

    /// Reads the next record. After anything but Ok the reader stays where it stopped.
    Status next();
    int type() const { return recType; }
    int count() const { return recCount; }
    const qint32* words() const { return buffer; }
    /// Byte offset of the record last read (or of the one that failed).
    qint64 recordStart() const { return start; }
    /// The message for a status other than Ok and End.
    static QString message(Status status);

private:
    bool readWords(qint32* to, int n);

    QIODevice* device;
    qint32 buffer[bufferWords];
    int recType = -1;
    int recCount = 0;
    qint64 start = 0;
};

class RecordSink
{
public:
    static constexpr int bufferBytes = 256 * 1024;

    RecordSink();
    ~RecordSink();

    /// Creates (truncates) the file. False with errorString() set on failure.
    bool open(const QString& name);
    bool isOpen() const;
    /// Appends one whole record made of two parts (either may be empty). False when the file could not be written;
    /// the sink is then closed and the file cut back to its last whole record.
    bool write(const char* head, qint64 headLength, const char* body = nullptr, qint64 bodyLength = 0);
    bool write(const QByteArray& record) { return write(record.constData(), record.size()); }
    /// Writes what is buffered. Also runs by itself when data have waited for a second.
    bool flush();
    /// Flushes, syncs to the disk and closes. False when anything could not be written.
    bool close();
    /// Closes without flushing the buffer (after a failure, or to drop the file).
    void abandon();
    /// Bytes of whole records in the file and the buffer.
    qint64 size() const { return committed + buffer.size(); }
    QString fileName() const { return name; }
    QString errorString() const { return error; }
    /// Seconds spent in the sync of the last close (the benchmark reports it apart from the writes).
    double lastSyncSeconds() const { return syncSeconds; }

private:
    bool writeOut(const char* data, qint64 length);
    bool fail(const QString& what);

    std::unique_ptr<QFile> file;
    QByteArray buffer;
    qint64 committed = 0; // bytes of whole records known to be in the file
    QElapsedTimer sinceFlush;
    QString name;
    QString error;
    double syncSeconds = 0;
};
