#pragma once
// ScaleGraph: a narrow bar beside a line view that shows where the visible Y window lies within an absolute range.

#include <QRectF>
#include <QWidget>

class ScaleGraph : public QWidget
{
    Q_OBJECT
public:
    explicit ScaleGraph(QWidget* parent = nullptr);

    void setAbsMin(double v);
    void setAbsMax(double v);
    /// The visible Y range: [window.y, window.y + window.height].
    void setWindow(const QRectF& window);

    double getAbsMin() const { return absMin; }
    double getAbsMax() const { return absMax; }
    double getWinMin() const { return winMin; }
    double getWinMax() const { return winMax; }

protected:
    void paintEvent(QPaintEvent* ev) override;

private:
    void refresh();

    double absMin = 0, absMax = 0, winMin = 0, winMax = 0;
};
