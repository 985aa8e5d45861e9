#pragma once

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <functional>

// The small controls the forms are built from, where Qt has no control that
// behaves the same way.
namespace tevrak::platform {

// An image control: shows its picture stretched to fill the control (aspect
// ratio not kept). As a drag source, pressing the mouse button on it starts a
// drag at once; double-clicking it emits doubleClicked().
class ImageControl : public QWidget {
    Q_OBJECT
public:
    explicit ImageControl(QWidget* parent = nullptr);

    void setPicture(const QImage& picture);
    const QImage& picture() const { return m_picture; }
    void clearPicture();

    void setDragSource(bool enabled) { m_dragSource = enabled; }
    bool isDragSource() const { return m_dragSource; }

    // Drop target support: the handlers decide whether a drag is accepted and
    // what a drop does; `source` is the control the drag started from.
    using DragOverHandler = std::function<bool(QObject* source)>;
    using DropHandler = std::function<void(QObject* source)>;
    void setDropHandlers(DragOverHandler dragOver, DropHandler drop);

    static const char* dragMimeType();

signals:
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QImage m_picture;
    bool m_dragSource = false;
    DragOverHandler m_dragOver;
    DropHandler m_drop;
};

// A panel with a caption: bevelled frame, centred text, a colour scheme, and a
// double-click signal.
class PanelControl : public QLabel {
    Q_OBJECT
public:
    explicit PanelControl(const QString& caption = {}, QWidget* parent = nullptr);

    void setColors(const QColor& background, const QColor& text);
    void setLowered(bool lowered);

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

}  // namespace tevrak::platform
