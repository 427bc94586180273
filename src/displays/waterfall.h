#pragma once
// Waterfall: the frame display's image of a z(x,y) scan, one colour-coded pixel per value.
//
// Keeps a forward and a backward frame (values, valid bytes, frame-complete bytes) and shows one of them, magnified
// or shrunk by an integer factor and turned by quarter turns. Values are painted into the image as they arrive;
// screen repaints are coalesced by a 40 ms single-shot timer. Mouse selections (rectangle, line, point, path, grid)
// are cut out of the widget's mask, so they show in the parent's background colour, and are reported by selected().

#include <QImage>
#include <QMetaType>
#include <QRect>
#include <QRgb>
#include <QTimer>
#include <QVector>
#include <QWidget>
#include <vector>

class QPainter;

class Waterfall : public QWidget
{
    Q_OBJECT
public:
    enum SelectionMode {
        NoSelection = 0,
        RangeSelection = 1,
        AngleSelection = 2,
        PointSelection = 3,
        PathSelection = 4,
        GridSelection = 5
    };
    Q_ENUM(SelectionMode)
    typedef QVector<QRect> SelectionList;

    /// Most markers a path selection holds.
    static constexpr int maxPathMarkers = 200;
    /// Largest frame (in pixels) that setRange tries to allocate; the image format itself allows no more.
    static constexpr qint64 maxPixels = qint64(1) << 29;

    explicit Waterfall(QWidget* parent = nullptr);
    ~Waterfall() override;

    /// Sets the frame size; false when the buffers cannot be allocated (all buffers are then freed).
    bool setRange(int x, int y);
    void setSelectionMode(Waterfall::SelectionMode mode);
    /// Paints the displayed value of data pixel (x, y) into the image and schedules a screen repaint.
    void paint(int x, int y);
    /// Repaints the whole image from the displayed frame.
    void paint();
    /// paint() followed by update().
    void setChanged();
    bool getValue(int x, int y, bool fwd, int* value) const;
    bool getValue(int x, int y, int* value) const;
    /// True when neither the first nor the last line of that direction holds a value.
    bool getEmpty(bool fwd) const;
    /// Value range of the displayed frame, ignoring isolated spikes (see the source).
    void getDataRange(int& min, int& max, bool complete) const;
    /// The colour table and its length.
    const QRgb* getColorList(int* count) const;
    void transformCoord(QPoint& p, bool forward) const;
    QPoint pix2ScanCoord(const QPoint& p) const;
    static void normalizeRects(QVector<QRect>& rects);
    static void normalizeRectsCenter(QVector<QRect>& rects);
    void freeBuffers();

    /// Writes `count` values of one line piece into a direction's buffers: value k goes to column x0 + k, or to
    /// column x0 - k when `mirrored`. Displayed pixels are painted at once. The bulk form of setValueFwd/Bwd.
    void setLine(bool fwd, int y, int x0, const int* values, int count, bool mirrored);
    /// A deep copy of the image (the widget keeps writing into its own).
    QImage image() const { return img.copy(); }
    bool isForwardDisplayed() const { return displayFwd; }
    int getRotation() const { return rotation; }
    int getGradationStart() const { return gradStart; }
    int getGradationEnd() const { return gradEnd; }
    /// Colour of a value with the current table, gradation and coding.
    QRgb colorOf(int value) const
    {
        if (fixedColorCoding)
            return qRgb(value & 0xff, (value >> 8) & 0xff, (value >> 16) & 0xff);
        const double t = (double(value) - gradStart) * factor;
        const int last = colors.size() - 1;
        if (t <= 0.5)
            return colors[0];
        if (t >= last)
            return colors[last];
        return colors[int(t)];
    }
    /// Draws the image scaled and turned as the widget shows it (without the selection mask).
    void draw(QPainter& painter) const;
    /// The quarter-turn index of a rotation in degrees.
    static int calcOrientation(int degrees);

    // Read directly by the plug-in.
    int rangeX = 0;
    int rangeY = 0;
    int scale = 1;
    SelectionMode selectionMode = NoSelection;
    SelectionList selectionList;

public slots:
    void setScale(int scale);
    void setGradation(int start, int end);
    void setFull();
    void reset();
    void setValueFwd(int x, int y, int yOffset, int value);
    void setValueBwd(int x, int y, int yOffset, int value);
    void setDirection(bool forward);
    bool getValue(QPoint p, int& x, int& y, int& value) const;
    void getBuffers(bool fwd, int** buffer, char** valid);
    void setColorCoding(int colorCoding);
    bool setColorCoding(QString lutFile);
    void set3DMode(bool glEnable);
    QImage get3DImage(QPoint* pos);
    QImage get3DImage();
    void selectionZoom(double factor);
    void setFixXY(bool fix);
    void setRotation(int rot);
    QPoint retransformCoord(QPoint p) const;
    QRect retransformCoord(QRect r) const;
    void gridPointsXChanged(int points);
    void gridPointsYChanged(int points);
    void gridFixXy(bool on);
    void setFixedColorCoding(bool on);

signals:
    void selected(Waterfall::SelectionMode mode, Waterfall::SelectionList list);
    void encodeMetadata(QWidget** container);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void setValue(bool fwd, int x, int y, int yOffset, int value);
    void paintSelection();
    QPoint roundedPos(const QMouseEvent* event) const;
    void applyWidgetSize();
    void setColorTable(const QVector<QRgb>& table);
    void updateFactor();
    int scaledWidth() const;
    int scaledHeight() const;
    int quarter() const { return calcOrientation(rotation); }
    static QRect marker(const QPoint& pos);
    void emitSelection();
    void startDrag();
    bool hasBuffers() const { return !fwdValues.empty(); }

    std::vector<int> fwdValues, bwdValues;
    std::vector<char> fwdValid, bwdValid, fwdComplete, bwdComplete;
    bool displayFwd = false;
    QImage img;
    QVector<QRgb> colors;
    int gradStart = 0;
    int gradEnd = 100;
    double factor = 1.0;
    bool fixedColorCoding = false;
    int rotation = 0; // degrees
    bool fixXY = false;
    bool gridFixXY = false;
    int gridPointsX = 5;
    int gridPointsY = 5;
    bool dragStarted = false;
    QTimer repaintTimer;
};

Q_DECLARE_METATYPE(Waterfall::SelectionMode)
Q_DECLARE_METATYPE(Waterfall::SelectionList)
