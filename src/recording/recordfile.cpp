#include "recording/recordfile.h"

#include "framework/streamformat.h"

#include <QFile>
#include <QIODevice>
#include <QtEndian>

#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

bool RecordReader::readWords(qint32* to, int n)
{
    const qint64 bytes = qint64(n) * 4;
    if (bytes == 0)
        return true;
    if (device->read(reinterpret_cast<char*>(to), bytes) != bytes)
        return false;
    for (int i = 0; i < n; ++i)
        to[i] = qFromLittleEndian(to[i]);
    return true;
}

RecordReader::Status RecordReader::next()
{
    start = device->pos();
    char first[4];
    const qint64 got = device->read(first, 4);
    if (got <= 0)
        return End;
    if (got < 4)
        return Truncated;
    recType = qFromLittleEndian<qint32>(first);
    recCount = 1;
    if (recType < 0)
        return NegativeType;
    if (recType == StreamFormat::RecData || recType == StreamFormat::RecTimestamp) {
        qint32 n = 0;
        if (!readWords(&n, 1))
            return Truncated;
        recCount = n;
        if (n < 0)
            return BadCount;
        if (n > bufferWords)
            return TooLarge;
    }
    return readWords(buffer, recCount) ? Ok : Truncated;
}

QString RecordReader::message(Status status)
{
    switch (status) {
    case TooLarge:
        return QStringLiteral("Read buffer too small");
    case Truncated:
        return QStringLiteral("Unexpected end of input file\n(The last record is incomplete)");
    case BadCount:
        return QStringLiteral("Unexpected format of input file\n(Negative record length)");
    case NegativeType:
        return QStringLiteral("Unexpected format of input file\n(Negative record type)");
    case Ok:
    case End:
        break;
    }
    return QString();
}

RecordSink::RecordSink() = default;

RecordSink::~RecordSink()
{
    if (isOpen())
        close();
}

bool RecordSink::isOpen() const
{
    return file && file->isOpen();
}

bool RecordSink::open(const QString& fileName)
{
    abandon();
    name = fileName;
    error.clear();
    committed = 0;
    buffer.clear();
    buffer.reserve(bufferBytes);
    file = std::make_unique<QFile>(fileName);
    // Our own buffer keeps whole records together; QFile's would split them at its own boundaries.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        error = file->errorString();
        file.reset();
        return false;
    }
    sinceFlush.start();
    return true;
}

bool RecordSink::fail(const QString& what)
{
    error = what;
    if (file) {
        // Cut off the record that was written in part; what stays is whole.
        file->resize(committed);
        file->close();
        file.reset();
    }
    buffer.clear();
    return false;
}

bool RecordSink::writeOut(const char* data, qint64 length)
{
    while (length > 0) {
        const qint64 n = file->write(data, length);
        if (n <= 0)
            return false;
        data += n;
        length -= n;
    }
    return true;
}

bool RecordSink::flush()
{
    if (!isOpen())
        return false;
    if (!buffer.isEmpty()) {
        if (!writeOut(buffer.constData(), buffer.size()))
            return fail(file->errorString());
        committed += buffer.size();
        buffer.clear();
    }
    sinceFlush.restart();
    return true;
}

bool RecordSink::write(const char* head, qint64 headLength, const char* body, qint64 bodyLength)
{
    if (!isOpen())
        return false;
    const qint64 total = headLength + bodyLength;
    if (buffer.size() + total > bufferBytes && !flush())
        return false;
    if (total > bufferBytes) {
        // A big record goes straight to the file (the buffer is empty now).
        if (!writeOut(head, headLength) || !writeOut(body, bodyLength))
            return fail(file->errorString());
        committed += total;
        return true;
    }
    buffer.append(head, int(headLength));
    if (bodyLength > 0)
        buffer.append(body, int(bodyLength));
    // A slow stream still reaches the disk within about a second.
    if (sinceFlush.elapsed() > 1000)
        return flush();
    return true;
}

bool RecordSink::close()
{
    if (!isOpen())
        return false;
    if (!flush())
        return false;
    QElapsedTimer t;
    t.start();
#ifdef Q_OS_UNIX
    if (::fsync(file->handle()) != 0)
        return fail(QStringLiteral("The file could not be synchronised to the disk"));
#endif
    syncSeconds = t.nsecsElapsed() / 1e9;
    file->close();
    const bool ok = file->error() == QFileDevice::NoError;
    if (!ok)
        error = file->errorString();
    file.reset();
    return ok;
}

void RecordSink::abandon()
{
    buffer.clear();
    if (file) {
        file->close();
        file.reset();
    }
}
