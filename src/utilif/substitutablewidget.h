#pragma once
// Detachable display frames.
//
// A SubstitutableWidget is the frame a display lives in. detach() takes it out of its page into a top-level window
// of its own (a RemovableWidget) and puts its SubstituteWidget in the page in its place; dock() (or closing the
// window) puts it back where it was. The owner, when it has a slot attachWidget(bool), is told of each change.

#include <QFrame>
#include <QPointer>
#include <QString>

class QAction;
class QBoxLayout;
class RemovableWidget;
class SubstitutableWidget;

/// Stands in the page while its display is detached; a double click (or its button) docks the display back.
class SubstituteWidget : public QFrame
{
    Q_OBJECT
public:
    explicit SubstituteWidget(QWidget* parent = nullptr);
    void setTarget(SubstitutableWidget* widget);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QPointer<SubstitutableWidget> target;
    class QLabel* label = nullptr;
};

/// The top-level window that holds a detached display; closing it docks the display back.
class RemovableWidget : public QWidget
{
    Q_OBJECT
public:
    explicit RemovableWidget(SubstitutableWidget* content);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPointer<SubstitutableWidget> content;
};

class SubstitutableWidget : public QFrame
{
    Q_OBJECT
public:
    /// `option` (may be null) is read at each detach: when true the detached window stays on top of the others.
    /// `detachable` false hides the detach menu item.
    SubstitutableWidget(SubstituteWidget* substitute, const QString& name, QObject* owner, const bool* option,
                        bool detachable);
    ~SubstitutableWidget() override;

    bool isDetached() const { return detachedWin != nullptr; }
    QString displayName() const { return name; }
    SubstituteWidget* substitute() const { return substituteWidget; }
    RemovableWidget* detachedWindow() const { return detachedWin; }

    /// Fills a menu action with "Detach Display" or "Dock Display" and makes it toggle this widget.
    void updateDetachMenuItem(QAction* action);
    /// Raises (true) or lowers (false) all detached windows' stay-on-top hint, e.g. around a modal dialog.
    static void moveDisplaysOnTop(bool onTop);

public slots:
    void detach();
    void dock();
    void toggleDetach();

signals:
    void detachedChanged(bool detached);

private:
    void notifyOwner(bool attached);

    QPointer<SubstituteWidget> substituteWidget;
    QString name;
    QPointer<QObject> owner;
    const bool* onTopOption;
    bool detachable;
    RemovableWidget* detachedWin = nullptr;
    QPointer<QWidget> homeParent;
    QPointer<QBoxLayout> homeLayout;
    int homeIndex = -1;
    int homeStretch = 0;
};
