#include "utilif/substitutablewidget.h"

#include <QAction>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QLabel>
#include <QList>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QList<SubstitutableWidget*>& allWidgets()
{
    static QList<SubstitutableWidget*> list;
    return list;
}
} // namespace

SubstituteWidget::SubstituteWidget(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* layout = new QVBoxLayout(this);
    label = new QLabel(this);
    label->setAlignment(Qt::AlignCenter);
    auto* button = new QPushButton(tr("Dock Display"), this);
    layout->addStretch(1);
    layout->addWidget(label);
    layout->addWidget(button, 0, Qt::AlignCenter);
    layout->addStretch(1);
    connect(button, &QPushButton::clicked, this, [this]() {
        if (target)
            target->dock();
    });
    hide();
}

void SubstituteWidget::setTarget(SubstitutableWidget* widget)
{
    target = widget;
    label->setText(widget ? tr("%1 is shown in its own window").arg(widget->displayName()) : QString());
}

void SubstituteWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (target)
        target->dock();
    QFrame::mouseDoubleClickEvent(event);
}

RemovableWidget::RemovableWidget(SubstitutableWidget* content) : QWidget(nullptr, Qt::Window), content(content)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    setWindowTitle(content ? content->displayName() : QString());
}

void RemovableWidget::closeEvent(QCloseEvent* event)
{
    // Closing the window brings the display home instead of losing it.
    event->ignore();
    if (content)
        content->dock();
}

SubstitutableWidget::SubstitutableWidget(SubstituteWidget* substitute, const QString& name, QObject* owner,
                                         const bool* option, bool detachable)
    : substituteWidget(substitute), name(name), owner(owner), onTopOption(option), detachable(detachable)
{
    setFrameStyle(QFrame::NoFrame);
    if (substitute)
        substitute->setTarget(this);
    allWidgets().append(this);
}

SubstitutableWidget::~SubstitutableWidget()
{
    allWidgets().removeAll(this);
    if (detachedWin) {
        // Detached at destruction: its window goes with us.
        RemovableWidget* w = detachedWin;
        detachedWin = nullptr;
        setParent(nullptr);
        delete w;
    }
    if (substituteWidget)
        substituteWidget->setTarget(nullptr);
}

void SubstitutableWidget::detach()
{
    if (detachedWin || !detachable)
        return;
    homeParent = parentWidget();
    homeLayout = homeParent ? qobject_cast<QBoxLayout*>(homeParent->layout()) : nullptr;
    homeIndex = homeLayout ? homeLayout->indexOf(this) : -1;
    // A nested layout may hold us: search the parent's layouts for the one that does.
    if (homeParent && homeIndex < 0) {
        const auto layouts = homeParent->findChildren<QBoxLayout*>();
        for (QBoxLayout* l : layouts) {
            if (l->indexOf(this) >= 0) {
                homeLayout = l;
                homeIndex = l->indexOf(this);
                break;
            }
        }
    }
    homeStretch = (homeLayout && homeIndex >= 0) ? homeLayout->stretch(homeIndex) : 0;
    if (homeLayout && homeIndex >= 0) {
        homeLayout->removeWidget(this);
        if (substituteWidget) {
            homeLayout->insertWidget(homeIndex, substituteWidget, homeStretch);
            substituteWidget->show();
        }
    }
    const QSize oldSize = size();
    detachedWin = new RemovableWidget(this);
    if (onTopOption && *onTopOption)
        detachedWin->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    detachedWin->layout()->addWidget(this);
    show();
    detachedWin->resize(oldSize.expandedTo(QSize(200, 150)));
    detachedWin->show();
    notifyOwner(false);
    emit detachedChanged(true);
}

void SubstitutableWidget::dock()
{
    if (!detachedWin)
        return;
    RemovableWidget* w = detachedWin;
    detachedWin = nullptr;
    w->layout()->removeWidget(this);
    if (homeLayout && homeIndex >= 0) {
        if (substituteWidget) {
            homeLayout->removeWidget(substituteWidget);
            substituteWidget->hide();
        }
        setParent(homeParent);
        homeLayout->insertWidget(qMin(homeIndex, homeLayout->count()), this, homeStretch);
    } else {
        setParent(homeParent);
    }
    show();
    w->hide();
    w->deleteLater();
    notifyOwner(true);
    emit detachedChanged(false);
}

void SubstitutableWidget::toggleDetach()
{
    if (detachedWin)
        dock();
    else
        detach();
}

void SubstitutableWidget::updateDetachMenuItem(QAction* action)
{
    if (!action)
        return;
    action->setText(detachedWin ? tr("Dock Display") : tr("Detach Display"));
    action->setVisible(detachable);
    action->disconnect(this);
    connect(action, &QAction::triggered, this, &SubstitutableWidget::toggleDetach, Qt::UniqueConnection);
}

void SubstitutableWidget::moveDisplaysOnTop(bool onTop)
{
    for (SubstitutableWidget* w : allWidgets()) {
        if (!w->detachedWin || !w->onTopOption || !*w->onTopOption)
            continue;
        const bool visible = w->detachedWin->isVisible();
        w->detachedWin->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        if (visible)
            w->detachedWin->show();
    }
}

void SubstitutableWidget::notifyOwner(bool attached)
{
    if (owner && owner->metaObject()->indexOfMethod("attachWidget(bool)") >= 0)
        QMetaObject::invokeMethod(owner, "attachWidget", Qt::DirectConnection, Q_ARG(bool, attached));
}
