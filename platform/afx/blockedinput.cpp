#include "blockedinput.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>

namespace
{

constexpr int kCloseRetryMs = 100;

class BlockedInputFilter : public QObject
{
public:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        // Every event of the program passes here: the cheap test first.
        const bool close = event->type() == QEvent::Close;
        if ((!close && !IsUserInput(event->type())) ||
            !qApp->property(kBlockedCallProperty).toBool())
            return false;
        if (close && object->isWidgetType()) {
            // Closing waits until the call returns, as it did while all input waited.
            QPointer<QWidget> widget = static_cast<QWidget*>(object);
            QTimer::singleShot(kCloseRetryMs, widget, [widget] { widget->close(); });
            event->ignore(); // an accepted close would hide the window now
            return true;
        }
        // Window-level events are passed on to widgets, which are judged here.
        if (close || (!object->isWidgetType() && !IsAction(object)))
            return false;
        return !Allowed(object, event);
    }

private:
    static bool IsAction(const QObject* object) { return object->inherits("QAction"); }
    static bool Marked(const QObject* object)
    {
        return object && object->property(kAbortsBlockedCall).toBool();
    }
    static bool IsUserInput(QEvent::Type type)
    {
        switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        default:
            return false;
        }
    }
    static bool Allowed(QObject* object, QEvent* event)
    {
        if (Marked(object) || qobject_cast<QMenuBar*>(object))
            return true;
        auto* menu = qobject_cast<QMenu*>(object);
        if (!menu)
            return false;
        if (event->type() == QEvent::MouseButtonRelease) {
            QAction* action =
                menu->actionAt(static_cast<QMouseEvent*>(event)->position().toPoint());
            return !action || action->menu() || Marked(action);
        }
        if (event->type() == QEvent::KeyPress) {
            switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Space:
                return Marked(menu->activeAction());
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_Left:
            case Qt::Key_Right:
            case Qt::Key_Escape:
                return true;
            default:
                return false; // a mnemonic would trigger its item at once
            }
        }
        return event->type() != QEvent::Shortcut;
    }
};

} // namespace

void InstallBlockedInputFilter()
{
    static BlockedInputFilter* filter = nullptr;
    if (filter || !qApp)
        return;
    filter = new BlockedInputFilter;
    filter->setParent(qApp);
    qApp->installEventFilter(filter);
    qApp->setProperty(kBlockedInputFiltered, true);
}
