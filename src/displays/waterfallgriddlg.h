#pragma once
// WaterfallGridDlg: "Grid Settings" of the frame display's grid tool: points in X and Y and the square constraint.

#include <QDialog>

class QCheckBox;
class QSpinBox;

class WaterfallGridDlg : public QDialog
{
    Q_OBJECT
public:
    explicit WaterfallGridDlg(QWidget* parent = nullptr);
    int pointsX() const;
    int pointsY() const;

public slots:
    bool close();
    void setPointsX(int points);
    void setPointsY(int points);
    /// Emits both point counts from the fields.
    void init();

signals:
    void pointsXChanged(int points);
    void pointsYChanged(int points);
    void fixXyOn(bool on);

private:
    QSpinBox* xEdit;
    QSpinBox* yEdit;
    QCheckBox* fixBox;
};
