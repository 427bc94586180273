#pragma once
// FrameBuffer: the last frame of a data channel and the last value of each metadata code that carries a property (a
// StreamFormat) or init, with the raw-frame file writers (line CSV, ASC and BCRF frame pairs) and the permanent CSV
// log.
//
// The frame length follows the stored metadata: a line of rangeX words for unscanned data (orders linear, triggered,
// cyclic; frame mode 1) and rangeX x rangeY words for scans, doubled when every line is scanned forward and back
// (forBack, backFor; frame mode 2). addData() stops at the end of the current frame so that the caller can split
// its blocks where the displays see a frame end. Stream positions are taken modulo the frame length; the buffer is
// a ring that always holds the last frame's worth of words.

#include "framework/streamformat.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QString>
#include <QVector>
#include <QtGlobal>
#include <memory>
#include <vector>

class QFile;
class QTimer;

class FrameBuffer
{
public:
    /// Results of the file writers: below saveFailed is success.
    enum SaveResult { saveOk = 0, saveNothing = 1, saveFailed = 2, saveOom = 3 };

    FrameBuffer();
    /// A self-contained copy for a background store: metadata, geometry and the stored frame. Without `fullFrame`
    /// the words are copied only in frame mode 1 (a line), so a scan copy then holds metadata alone. Never copies the
    /// permanent log. Throws OomError when the copy cannot be allocated.
    FrameBuffer(const FrameBuffer& other, bool fullFrame);
    ~FrameBuffer();
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    /// Largest frame storage in bytes that a buffer accepts (default 1 GiB); bigger frames throw OomError.
    static void setSizeLimit(qint64 bytes);
    static qint64 sizeLimit();

    /// Stores `count` words whose first has stream position `index` (negative: continue where the last block
    /// ended). Takes the words up to the end of the current frame and returns how many it did not take.
    int addData(const int* data, int count, int index);
    /// True when the words taken so far end exactly at a frame end.
    bool atFrameEnd() const { return frameEnded; }
    /// Stores a metadata value: a property of the table, or the init code (0x2100); other codes are not kept. A
    /// change of order or ranges reallocates the frame (cleared); throws OomError if the new frame is above the size
    /// limit or cannot be allocated, leaving the buffer and the stored value unchanged.
    void setMetaData(int code, int value);
    /// The last value of a metadata code, or `dflt` when none arrived.
    int getMetaData(int code, int dflt = 0) const;
    /// The stored properties, as the server sent them: the Trigger slot holds the data group of metadata 0x2009
    /// (the channel translates it into the group's trigger when it delivers it).
    const StreamFormat& format() const { return meta; }
    /// The stored codes with their values, in ascending code order (init included), as the server sent them.
    QMap<int, int> metaData() const;
    QList<int> getMetaCodes() const { return metaData().keys(); }
    /// The last value of the init code (0x2100) and whether one arrived.
    int getInit() const { return initValue; }
    bool hasInit() const { return initKnown; }

    /// An inactive buffer keeps metadata and still ends frames but stores no words. Activation may throw OomError.
    void setActive(bool active);
    bool isActive() const { return active; }
    /// A complete frame is held: a frame end was reached since the geometry was set.
    bool getFilled() const;
    /// At least one word of the current geometry is stored.
    bool hasWords() const;
    /// The stored words in stream order and `*position`, the stream position of the first: the last frame's worth
    /// of words once a frame was complete, else the words of the current frame so far. `*count` is 0 when nothing
    /// is stored. Reorders the ring in place (cheap when it is already in order).
    const int* getData(int* count, qint64* position = nullptr);

    /// 1: lines; 2: forward and backward frames (scans); 0: no geometry yet.
    int frameMode() const { return mode; }
    int frameLength() const { return int(length); }
    int lineLength() const { return lineLen; }
    int linesPerFrame() const { return lines; }
    /// Non-zero: the channel fires the store trigger where this buffer ends a frame. Default 1.
    int frameTrigger = 1;

    int saveLineCsv(const QString& fileName, const QByteArray& title) const;
    /// One direction of a scan; `matrix`: one row per text line (else one value per line).
    int saveFrameAsc(const QString& fileName, const QByteArray& title, bool forward, bool matrix) const;
    int saveFrameBcr(const QString& fileName, const QByteArray& title, bool forward) const;
    /// Starts the permanent CSV log in `fileName` (an existing file is appended to); an empty name ends it. Ending
    /// a log whose last lines could not be written returns saveFailed.
    int startPermCsv(const QString& fileName, const QByteArray& title);
    /// Appends a block to the permanent log (`index ; value` per word; a negative index continues the log's own
    /// count). Without an open log nothing happens (saveNothing). Flushed at least once a second.
    int savePermCsv(const int* data, int count, int index = -1);
    bool permLogOpen() const { return permFile != nullptr; }
    QString permLogName() const;
    /// Writes buffered log lines to disk now (also done by a one-second timer).
    void flushPermCsv();

private:
    void allocate();
    qint64 computeLength(int order, int rangeX, int rangeY, int* newMode) const;
    /// Pixel values of one direction of the stored scan, rows top first; NaN where no value was written.
    std::vector<double> framePixels(bool forward, int* voids) const;
    /// Raw word to physical value: (raw - offset) * scale, from the value properties.
    struct ValueScale
    {
        double offset;
        double scale;
        double operator()(int raw) const { return (double(raw) - offset) * scale; }
    };
    ValueScale valueScale() const;
    QString unitText(StreamFormat::Property code) const;
    /// Base unit text of the x unit and its factor to that unit.
    QString unitX(double* factor) const;

    StreamFormat meta;
    int initValue = 0;
    bool initKnown = false;
    std::vector<qint32> words; // ring of `length` words; slot = (position - ringBase) mod length
    std::vector<bool> written; // slot has held a word since the geometry was set
    qint64 length = 0;
    int mode = 0;
    int lineLen = 0;
    int lines = 0;
    bool active = true;
    bool frameEnded = false;
    qint64 nextPosition = 0;   // stream position after the last word taken
    qint64 writtenCount = 0;   // number of set entries of `written`
    qint64 ringBase = 0;       // stream position that maps to slot 0
    qint64 frameStart = 0;     // stream position of the current frame's first word
    qint64 completeFrames = 0; // frame ends reached since the geometry was set

    std::unique_ptr<QFile> permFile;
    std::unique_ptr<QTimer> flushTimer;
    qint64 permIndex = 0;
    bool permDirty = false;
    bool permFailed = false;
    QElapsedTimer sinceFlush;

    static qint64 _sizeLimit;
};
