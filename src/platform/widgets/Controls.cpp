#include "platform/widgets/Controls.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

namespace tevrak::platform {

ImageControl::ImageControl(QWidget* parent) : QWidget(parent) {}

void ImageControl::setPicture(const QImage& picture)
{
    m_picture = picture;
    update();
}

void ImageControl::clearPicture()
{
    m_picture = QImage();
    update();
}

void ImageControl::setDropHandlers(DragOverHandler dragOver, DropHandler drop)
{
    m_dragOver = std::move(dragOver);
    m_drop = std::move(drop);
    setAcceptDrops(true);
}

const char* ImageControl::dragMimeType() { return "application/x-tevrak-image-control"; }

void ImageControl::paintEvent(QPaintEvent*)
{
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), m_picture);
}

void ImageControl::mousePressEvent(QMouseEvent* event)
{
    if (!m_dragSource || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    auto* drag = new QDrag(this);
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(dragMimeType()), objectName().toUtf8());
    drag->setMimeData(mime);
    if (!m_picture.isNull())
        drag->setPixmap(QPixmap::fromImage(m_picture.scaled(64, 51)));
    drag->exec(Qt::CopyAction | Qt::MoveAction);
}

void ImageControl::mouseDoubleClickEvent(QMouseEvent* event)
{
    emit doubleClicked();
    QWidget::mouseDoubleClickEvent(event);
}

void ImageControl::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_dragOver && m_dragOver(event->source()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ImageControl::dragMoveEvent(QDragMoveEvent* event)
{
    if (m_dragOver && m_dragOver(event->source()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ImageControl::dropEvent(QDropEvent* event)
{
    if (!m_drop)
        return;
    event->acceptProposedAction();
    m_drop(event->source());
}

PanelControl::PanelControl(const QString& caption, QWidget* parent) : QLabel(caption, parent)
{
    setAlignment(Qt::AlignCenter);
    setAutoFillBackground(true);
    setLowered(false);
}

void PanelControl::setColors(const QColor& background, const QColor& text)
{
    QPalette p = palette();
    p.setColor(QPalette::Window, background);
    p.setColor(QPalette::WindowText, text);
    setPalette(p);
}

void PanelControl::setLowered(bool lowered)
{
    setFrameStyle(QFrame::Panel | (lowered ? QFrame::Sunken : QFrame::Raised));
    setLineWidth(1);
}

void PanelControl::mouseDoubleClickEvent(QMouseEvent* event)
{
    emit doubleClicked();
    QLabel::mouseDoubleClickEvent(event);
}

}  // namespace tevrak::platform
