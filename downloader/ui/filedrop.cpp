#include "ui/filedrop.h"

#include <QDropEvent>
#include <QMimeData>
#include <QObject>
#include <QUrl>
#include <QWidget>

namespace tk {

namespace {

QString firstLocalFile(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls())
        return {};
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return {};
}

class FileDropFilter : public QObject {
public:
    FileDropFilter(QWidget* box, std::function<void(const QString&)> take)
        : QObject(box), m_take(std::move(take))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const auto type = event->type();
        if (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) {
            auto* e = static_cast<QDropEvent*>(event);
            const QString file = firstLocalFile(e->mimeData());
            if (!file.isEmpty()) {
                e->acceptProposedAction();
                if (type == QEvent::Drop)
                    m_take(file);
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(const QString&)> m_take;
};

} // namespace

void acceptFileDrops(QWidget* box, std::function<void(const QString&)> take)
{
    box->setAcceptDrops(true);
    box->installEventFilter(new FileDropFilter(box, std::move(take)));
}

} // namespace tk
