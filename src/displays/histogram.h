#pragma once
// Histogram: the widget of the 3D histogram display. It holds a cube of 8-bit counts h(x, y, t) and shows the sum
// over a range of t slices of every (x, y) as a grey level. Use it where events arrive one by one: a hit updates
// one cell, one projection sum and one pixel of the image, and the widget repaints only the changed area (at most
// every 40 ms), so a stream of hits never costs full repaints.
//
// Cell (x, y, t) lies at (y * X + x) * T + t: the t slices of a pixel are adjacent, so a projection sum reads one
// contiguous run of bytes.

#include <QImage>
#include <QRect>
#include <QWidget>
#include <cstdlib>
#include <memory>

class QTimer;

class Histogram : public QWidget
{
    Q_OBJECT
public:
    /// The largest cube (cells): 2^27 bytes, 512 x 512 x 512.
    static constexpr qint64 _maxCells = qint64(1) << 27;

    explicit Histogram(QWidget* parent = nullptr);
    ~Histogram() override;

    /// Re-allocates cells and projection, zeroed; cuts the visible slices to the new T. Returns false (and keeps
    /// the old cube) for a size below 1, a cube above _maxCells, or when the memory cannot be had.
    bool setRange(int x, int y, int t);
    /// Requests a full repaint (the image is rebuilt from the projection on the next paint).
    void setChanged();
    /// Smallest and largest projection sum (min starts at 2147483647, max at 0; max is raised to min).
    void getDataRange(int& min, int& max) const;
    /// Recomputes every pixel's sum over the visible slices.
    void regenerateCache();
    /// Draws pixel (x, y) from its projection sum into the image and marks it for the next repaint.
    void paint(int x, int y);
    /// Grey level of a projection sum under the current gradation (0 black ... 255 white).
    int greyLevel(quint32 sum) const;

    int sizeX() const { return X; }
    int sizeY() const { return Y; }
    int sizeT() const { return T; }
    int cell(int x, int y, int t) const;
    quint32 projection(int x, int y) const;
    int visibleSliceFirst() const { return first; }
    int visibleSliceCount() const { return count; }
    int gradationStart() const { return gradStart; }
    int gradationEnd() const { return gradEnd; }
    int scale() const { return scl; }
    bool isAllZero() const { return allZero; }
    /// The image as it will be shown (one pixel per cell column), after a pending rebuild.
    const QImage& image();

public slots:
    void setScale(int s);
    void setVisibleSliceFirst(int f);
    void setVisibleSliceCount(int c);
    void setGradationStart(int s);
    void setGradationEnd(int e);
    void reset();
    void setHit(int x, int y, int t);
    void setValue(int x, int y, int t, int v);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct FreeDeleter
    {
        void operator()(void* p) const { std::free(p); }
    };
    void updateFactor();
    void rebuildImage();
    void scheduleUpdate();
    void flushUpdate();
    void applySize();

    int X = 256;
    int Y = 256;
    int T = 1;
    // calloc'd: a fresh cube costs no page until it is written.
    std::unique_ptr<quint8[], FreeDeleter> cells;
    std::unique_ptr<quint32[], FreeDeleter> cache;
    int first = 0;
    int count = 1;
    int gradStart = 0;
    int gradEnd = 100;
    double factor = 1.0;
    int scl = 1;
    bool repaintPending = false;
    bool allZero = true;
    QImage img;  // X x Y grey levels
    QRect dirty; // changed pixels (in cells) not yet shown
    QTimer* updateTimer = nullptr;
};
